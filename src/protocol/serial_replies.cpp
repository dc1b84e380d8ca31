#include "protocol/serial_replies.h"

#include "protocol/code_page.h"
#include "protocol/frame.h"

#include <algorithm>

namespace qav::protocol {

int replyPauseMs(int baudRate) {
    if (baudRate <= 0)
        baudRate = 9600;
    // In 64 bits: a line speed near INT_MAX must not overflow the rounding.
    const qint64 ms = (qint64(kReplyPauseCharacters) * 10 * 1000 + baudRate - 1) / baudRate;
    return int(std::max<qint64>(2, ms));
}

QString serialReplyCodeText(unsigned char byte) {
    switch (byte) {
    case reply::kReceived:
        return QStringLiteral("41  接收成功");
    case reply::kReceiveError:
        return QStringLiteral("45  接收失败");
    case reply::kInitialised:
        return QStringLiteral("4A  初始化成功回传");
    case reply::kPlaying:
        return QStringLiteral("4E  芯片正在播音");
    case reply::kIdle:
        return QStringLiteral("4F  芯片空闲");
    case reply::kVersion:
        return QStringLiteral("58  软件版本号");
    default:
        return {};
    }
}

QList<SerialReplyLine> decodeSerialReplies(const QByteArray& received, const QString& hexPrefix) {
    QList<SerialReplyLine> lines;
    const qsizetype n = std::min<qsizetype>(received.size(), kSerialRepliesPerEvent);
    for (qsizetype i = 0; i < n; ++i) {
        const auto byte = static_cast<unsigned char>(received[i]);
        QString code = serialReplyCodeText(byte);
        if (code.isEmpty())
            continue;
        if (byte == reply::kVersion) {
            code +=
                QString::fromUtf8(kSerialVersionSeparator) +
                decodeCodePage(CodePage::Gbk, QByteArrayView(received).first(std::min<qsizetype>(
                                                  received.size(), kSerialVersionMaxBytes)));
        }
        SerialReplyLine line;
        line.text =
            QString::fromUtf8(kSerialReplyLeadIn) + hexPrefix + code + QStringLiteral("\r\n");
        line.code = byte;
        lines.append(std::move(line));
    }
    return lines;
}

} // namespace qav::protocol
