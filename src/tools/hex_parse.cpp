#include "tools/hex_parse.h"

#include "protocol/frame.h"

namespace qav::tools {

namespace {

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

std::optional<QByteArray> parseHexText(QStringView text) {
    const qsizetype length = text.size();
    QByteArray bytes;
    bytes.reserve(expectedHexByteCount(length));
    // Byte k sits at 3k and 3k + 1; reading goes on while a whole pair is left.
    for (qsizetype c = 0; c < length; c += 3) {
        // A lone first character has no partner: it is no byte either.
        const int high = hexDigit(text[c]);
        const int low = c + 1 < length ? hexDigit(text[c + 1]) : -1;
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.append(char(high * 16 + low));
        if (length - (c + 3) < 2)
            break;
    }
    return bytes;
}

HexSend directHexFrame(QStringView text) {
    if (text.isEmpty())
        return {};
    auto bytes = parseHexText(text);
    if (!bytes)
        return {{}, QString::fromUtf8(kNotHexMessage)};
    return {*bytes, {}};
}

HexSend headerAddedHexFrame(QStringView text, std::uint8_t encodingCode) {
    if (text.isEmpty())
        return {};
    if (expectedHexByteCount(text.size()) > kMaxHeaderAddedBytes)
        return {{}, QString::fromUtf8(kHexTooLongMessage)};
    auto bytes = parseHexText(text);
    if (!bytes)
        return {{}, QString::fromUtf8(kNotHexMessage)};
    auto frame = protocol::parameterFrame(protocol::Command::Synthesize, encodingCode, *bytes);
    if (!frame)
        return {{}, QString::fromUtf8(kHexTooLongMessage)};
    return {*frame, {}};
}

} // namespace qav::tools
