#include "tools/playback_text.h"

namespace qav::tools {

namespace {

constexpr const char* kWebAddress = "www.example.com";
constexpr const char* kFaxNumber = "021-55506218";

constexpr const char* kWeatherLine =
    "Beijing：Tonight to tomorrow ，Cloudy with showers to 19 ℃ ~ 12 ℃";
constexpr const char* kClosingQuote = "”";

QString languageTagLine() {
    const QString address = QString::fromUtf8(kWebAddress);
    return QStringLiteral("默认自动判断，如：[g0]") + address +
           QStringLiteral("[d]。设置成中文，  如：[g1]") + address +
           QStringLiteral("[d]。设置成英文，  如：[g2]") + address + QStringLiteral("[d]");
}

QString normalisationLine() {
    return QString::fromUtf8(kWebAddress) + QStringLiteral("。-0.17%。-12.6℃。传真是:") +
           QString::fromUtf8(kFaxNumber) +
           QStringLiteral(" 。联通3G。sound101 sound102 。[f0]这是发音风格为一字一顿的效果；[d]");
}

} // namespace

QString sampleTextA() {
    return languageTagLine();
}

QString sampleTextB() {
    return QString::fromUtf8(kWeatherLine);
}

QString sampleTextC() {
    return normalisationLine();
}

QStringList playbackTestLines() {
    return {
        sampleTextA(),
        QString(),
        sampleTextB() + QString::fromUtf8(kClosingQuote),
        QString(),
        sampleTextC(),
        QString(),
        QString(),
        QStringLiteral("测试1：打断再合成 或 播完再合成（对于上面3个文本，按顺序）"),
        QStringLiteral("测试2：合成过程中：暂停，恢复，停止"),
        QStringLiteral("测试3：合成过程中：Standy，唤醒"),
        QString(),
        QString(),
        QStringLiteral("【接着点击“内测45”按钮完成以下测试"),
        QStringLiteral("测试4：打断再合成"),
        QStringLiteral("测试5：播完再合成"),
    };
}

QString playbackTestText() {
    return playbackTestLines().join(QStringLiteral("\r\n"));
}

} // namespace qav::tools
