#include "synthesis/gbk_text.h"

#include "protocol/code_page.h"

#include <array>
#include <memory>

namespace qav::synthesis {

namespace {

constexpr std::uint16_t kNoCode = 0xFFFF; // 0xFF is never a lead byte

// GBK code of every BMP code unit: a single byte (0x00 .. 0xFF), a lead and
// trail byte (lead in the high byte), or kNoCode. Built once from the
// platform's GBK encoder; a sweep over the BMP takes a few milliseconds.
const std::array<std::uint16_t, 0x10000>& gbkCodes() {
    static const auto table = [] {
        auto codes = std::make_unique<std::array<std::uint16_t, 0x10000>>();
        codes->fill(kNoCode);
        for (char32_t u = 0; u < 0x10000; ++u) {
            if (u >= 0xD800 && u < 0xE000)
                continue; // surrogates have no code of their own
            const QChar c{char16_t(u)};
            const QByteArray bytes =
                protocol::encodeCodePage(protocol::CodePage::Gbk, QStringView(&c, 1));
            // The encoder writes '?' for a character it cannot map.
            if (bytes.size() == 1 && (bytes[0] != '?' || u == '?'))
                (*codes)[u] = std::uint8_t(bytes[0]);
            else if (bytes.size() == 2)
                (*codes)[u] = std::uint16_t(std::uint8_t(bytes[0]) << 8 | std::uint8_t(bytes[1]));
        }
        return codes;
    }();
    return *table;
}

} // namespace

QByteArray toGbk(QStringView text) {
    return protocol::encodeCodePage(protocol::CodePage::Gbk, text);
}

QString fromGbk(QByteArrayView bytes) {
    return protocol::decodeCodePage(protocol::CodePage::Gbk, bytes);
}

qsizetype wholeGbkPrefix(QByteArrayView bytes) {
    qsizetype i = 0;
    const qsizetype n = bytes.size();
    while (i < n) {
        if (isGbkLead(static_cast<unsigned char>(bytes[i]))) {
            if (i + 1 >= n)
                break;
            i += 2;
        } else {
            i += 1;
        }
    }
    return i;
}

GbkChar gbkCharAt(QStringView text, qsizetype pos) {
    const char16_t u = text[pos].unicode();
    GbkChar c;
    c.codePoint = u;
    if (QChar::isHighSurrogate(u) && pos + 1 < text.size() &&
        QChar::isLowSurrogate(text[pos + 1].unicode())) {
        c.units = 2;
        c.codePoint = QChar::surrogateToUcs4(u, text[pos + 1].unicode());
        c.code.trail = '?';
        return c;
    }
    const std::uint16_t code = gbkCodes()[u];
    if (code == kNoCode)
        c.code.trail = '?';
    else if (code > 0xFF)
        c.code = GbkCode{std::uint8_t(code >> 8), std::uint8_t(code & 0xFF)};
    else
        c.code.trail = std::uint8_t(code);
    return c;
}

ChunkMeasure measureChunk(QStringView selection, protocol::Encoding encoding, int chunkLimit) {
    ChunkMeasure m;
    qsizetype pos = 0, chars = 0;
    while (pos < selection.size()) {
        const GbkChar c = gbkCharAt(selection, pos);
        m.textByteCount += measuredBytes(c, encoding);
        if (m.textByteCount > chunkLimit) {
            m.shortened = true;
            // A line break is one unit in the text box: never end the part
            // between its CR and its LF.
            if (m.length > 0 && selection[m.length - 1] == u'\r' && selection[m.length] == u'\n') {
                --m.length;
                --m.chars;
            }
            return m; // length and chars describe the part that fits
        }
        pos += c.units;
        ++chars;
        m.length = pos;
        m.chars = chars;
    }
    return m;
}

} // namespace qav::synthesis
