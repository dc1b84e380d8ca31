#pragma once
// Text as the chip's host sees it: every character has its code in the GBK
// code page (one byte, or a lead and a trail byte), and a chunk of text is
// measured in those bytes.

#include "protocol/frame.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <cstdint>

namespace qav::synthesis {

// A lead byte: it and the byte after it are one character.
inline bool isGbkLead(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}

// The text in GBK bytes; a character without a code becomes '?'.
QByteArray toGbk(QStringView text);
// GBK bytes as text; a byte that starts no code becomes U+FFFD.
QString fromGbk(QByteArrayView bytes);

// The length of the longest prefix of bytes that does not end inside a
// double-byte character.
qsizetype wholeGbkPrefix(QByteArrayView bytes);

// The GBK code of one character. A character without a GBK code (a
// surrogate pair among them) is the single byte '?'.
struct GbkCode {
    std::uint8_t lead = 0;  // 0 for a single-byte code
    std::uint8_t trail = 0; // the byte itself for a single-byte code
    bool isDouble() const { return lead != 0; }
};

// One character of a text: its GBK code, the code units it takes in the
// QString (2 for a surrogate pair), and its own code point.
struct GbkChar {
    GbkCode code;
    int units = 1;
    char32_t codePoint = 0;
};

// The character starting at text[pos]; pos must be inside the text.
GbkChar gbkCharAt(QStringView text, qsizetype pos);

// Bytes one character counts against the chunk limit: 1 or 2 by its GBK
// code, and always 2 in the two Unicode encodings.
inline int measuredBytes(const GbkChar& c, protocol::Encoding encoding) {
    if (encoding == protocol::Encoding::Utf16Le || encoding == protocol::Encoding::Utf16Be)
        return 2;
    return c.code.isDouble() ? 2 : 1;
}

// The result of measuring a selection against the chunk limit.
struct ChunkMeasure {
    qsizetype length = 0;  // code units of the leading part that is sent
    qsizetype chars = 0;   // characters in that part
    int textByteCount = 0; // bytes counted, including the character that overflowed
    bool shortened = false;
};

// Counts the selection character by character and stops at the first
// character that would take the count past chunkLimit. The selection is then
// cut to the longest leading part whose bytes still fit, which always ends at
// chunkLimit - 1 or chunkLimit bytes, except that a CR LF pair is never cut
// in two (the part then ends before the CR). The cost is bounded by the
// chunk, not by the length of the selection.
ChunkMeasure measureChunk(QStringView selection, protocol::Encoding encoding, int chunkLimit);

} // namespace qav::synthesis
