#include "protocol/code_page.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace qav::protocol {

namespace {
const char* icuName(CodePage page) {
    return page == CodePage::Gbk ? "GBK" : "Big5";
}
} // namespace

QByteArray encodeCodePage(CodePage page, QStringView text) {
    QStringEncoder encoder(icuName(page), QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}

QString decodeCodePage(CodePage page, QByteArrayView bytes) {
    QStringDecoder decoder(icuName(page), QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

bool codePageAvailable(CodePage page) {
    return QStringEncoder(icuName(page)).isValid() && QStringDecoder(icuName(page)).isValid();
}

} // namespace qav::protocol
