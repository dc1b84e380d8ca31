#include "protocol/code_page.h"

#include <windows.h>

// The whole text goes through one call when every character has a code; a
// text with a character that has none is taken a code point (or a code) at
// a time, so that it gives one '?' or one U+FFFD for each, as ICU does,
// rather than one for each UTF-16 unit or byte.

namespace qav::protocol {

namespace {
UINT windowsCodePage(CodePage page) {
    return page == CodePage::Gbk ? 936 : 950;
}

bool isLead(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}

bool isTrail(CodePage page, unsigned char b) {
    if (page == CodePage::Gbk)
        return b >= 0x40 && b <= 0xFE && b != 0x7F;
    return (b >= 0x40 && b <= 0x7E) || (b >= 0xA1 && b <= 0xFE);
}

const wchar_t* wide(QStringView text) {
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

// The bytes of text when every character has a code without a substitute.
bool encodeExactly(UINT cp, QStringView text, QByteArray& out) {
    if (text.isEmpty())
        return true;
    const int units = int(text.size());
    BOOL usedDefault = FALSE;
    const int size = ::WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide(text), units, nullptr, 0,
                                           nullptr, &usedDefault);
    if (size <= 0 || usedDefault)
        return false;
    const qsizetype start = out.size();
    out.resize(start + size);
    ::WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide(text), units, out.data() + start, size,
                          nullptr, &usedDefault);
    return !usedDefault;
}

// The character of the bytes of one code, or nothing.
bool decodeExactly(UINT cp, QByteArrayView bytes, QString& out) {
    if (bytes.isEmpty())
        return true;
    const int size = ::MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data(),
                                           int(bytes.size()), nullptr, 0);
    if (size <= 0)
        return false;
    const qsizetype start = out.size();
    out.resize(start + size);
    ::MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()),
                          reinterpret_cast<wchar_t*>(out.data() + start), size);
    return true;
}
} // namespace

QByteArray encodeCodePage(CodePage page, QStringView text) {
    const UINT cp = windowsCodePage(page);
    QByteArray out;
    if (encodeExactly(cp, text, out))
        return out;
    out.clear();
    for (qsizetype i = 0; i < text.size();) {
        const bool pair =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const qsizetype units = pair ? 2 : 1;
        if (pair || text[i].isSurrogate() || !encodeExactly(cp, text.sliced(i, units), out))
            out.append('?');
        i += units;
    }
    return out;
}

QString decodeCodePage(CodePage page, QByteArrayView bytes) {
    const UINT cp = windowsCodePage(page);
    QString out;
    if (decodeExactly(cp, bytes, out))
        return out;
    out.clear();
    for (qsizetype i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (isLead(b) && i + 1 == bytes.size())
            break; // half a character
        // A lead byte and a byte that may follow it are one code, known or
        // not; a lead byte without one is a code of its own.
        const qsizetype size = isLead(b) && i + 1 < bytes.size() &&
                                       isTrail(page, static_cast<unsigned char>(bytes[i + 1]))
                                   ? 2
                                   : 1;
        if (!decodeExactly(cp, bytes.sliced(i, size), out))
            out.append(QChar::ReplacementCharacter);
        i += size;
    }
    return out;
}

bool codePageAvailable(CodePage page) {
    return ::IsValidCodePage(windowsCodePage(page)) != 0;
}

} // namespace qav::protocol
