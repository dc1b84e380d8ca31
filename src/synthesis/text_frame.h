#pragma once
// Turning a selected text into the frame that carries it: measure it against
// the chunk limit, convert the part that fits into the chosen encoding, and
// put the header in front. Used by the synthesis request (command 0x01, the
// encoding code as parameter) and by cache store (command 0x31, the cache
// segment as parameter).
//
// Per character, by its GBK code:
//   encoding        single byte c            double byte (m, t), table record
//   GB2312, GBK     c                        m t
//   BIG5            c                        BIG5 lead, BIG5 trail
//   UTF-16 LE       code unit, low first     code unit, low first
//   UTF-16 BE       code unit, high first    code unit, high first
// A character without a GBK code goes out as '?' in every encoding.
// GBK has single bytes above 0x7F that BIG5 cannot carry (0x80, the euro
// sign): in BIG5 such a character is left out rather than sent as bytes the
// chip would read as something else; in the UTF-16 encodings it goes out as
// its own code point (U+20AC for the euro sign). DEL (0x7F) is DEL in every
// encoding and is sent as such.

#include "protocol/frame.h"
#include "synthesis/conversion_table.h"
#include "synthesis/gbk_text.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>
#include <cstdint>

namespace qav::synthesis {

// The message shown when BIG5 or a Unicode encoding is chosen and the
// conversion table cannot be used.
inline constexpr const char* kTableMissingMessage =
    "您目前选择的编码是Big5或Unicode（见界面右下角的编码选择）！ "
    "找不到GBKToBig5AndUnicode.dat文件！ 无法解析文件编码！ 请选择GBK编码，再合成！";

inline bool needsTable(protocol::Encoding encoding) {
    return encoding == protocol::Encoding::Big5 || encoding == protocol::Encoding::Utf16Le ||
           encoding == protocol::Encoding::Utf16Be;
}

// Writes the bytes of `text` in `encoding` to `out`, stopping once maxBytes
// text bytes have been written. `table` is needed for BIG5 and the UTF-16
// encodings and ignored otherwise. Returns the number of bytes written; `out`
// must have room for 2 bytes per code unit of text.
qsizetype convertText(QStringView text, protocol::Encoding encoding, const ConversionTable* table,
                      char* out, qsizetype maxBytes);

struct TextFrameRequest {
    protocol::Command command = protocol::Command::Synthesize;
    std::uint8_t parameter = 0; // encoding code, or cache segment
    protocol::Encoding encoding = protocol::Encoding::Gbk;
    int chunkLimit = protocol::kSerialChunkLimit;
    QString tableFolder; // where the conversion table is looked for
};

struct TextFrame {
    enum class Status { Ok, Empty, TableMissing };
    Status status = Status::Empty;
    ChunkMeasure measure; // also set when the table is missing
    QByteArray frame;     // the whole frame, only with Status::Ok
};

// Measures and cuts the selection, then converts the part that fits. The
// conversion table's presence is tested on every call, and only when the
// encoding needs it; a table that cannot be used gives TableMissing and no
// frame.
TextFrame buildTextFrame(QStringView selection, const TextFrameRequest& request);

} // namespace qav::synthesis
