#pragma once
// The hex send area's text as bytes. Each byte is two hexadecimal digits
// followed by one separator character, which is skipped without being looked
// at; so "FD 00", "FD,00" and "FD-00" are the same two bytes.

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace qav::tools {

inline constexpr auto kNotHexMessage = "格式不匹配，不是16进制数值";
inline constexpr auto kHexTooLongMessage = "数据太长，添加命令头后最多只能发送65533个字节！";

// The most bytes a header-added frame carries: its length field counts them
// plus the command and parameter bytes, and must fit in 16 bits.
inline constexpr qsizetype kMaxHeaderAddedBytes = 0xFFFF - 2;

// The number of bytes a text of the given length holds when it parses:
// floor((length + 1) / 3).
constexpr qsizetype expectedHexByteCount(qsizetype length) {
    return (length + 1) / 3;
}

// Reads the text (line breaks as CR LF) two digits at a time from the start,
// skipping one separator after each pair, until fewer than two characters
// follow a separator. Returns the bytes, exactly expectedHexByteCount() of
// them, or nothing when a digit position holds anything but 0-9, a-f, A-F.
// A trailing line break after a separator is read as a digit pair and fails.
std::optional<QByteArray> parseHexText(QStringView text);

// What a hex send button hands to the log and the link: the frame, or the
// message to show instead. Both are empty when the text is empty.
struct HexSend {
    QByteArray frame;
    QString message;
};

// The bytes exactly as typed.
HexSend directHexFrame(QStringView text);

// The bytes as the text of a synthesis frame: FD, length, 01, encodingCode,
// bytes. Refused when the bytes would not fit the 16-bit length field.
HexSend headerAddedHexFrame(QStringView text, std::uint8_t encodingCode);

} // namespace qav::tools
