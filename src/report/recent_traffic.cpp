#include "report/recent_traffic.h"

#include <QDateTime>
#include <algorithm>
#include <cstring>

namespace qav::report {

RecentTraffic::Entry& RecentTraffic::push(qint64 ms) {
    Entry& e = ring_[std::size_t(next_)];
    next_ = (next_ + 1) % kKept;
    count_ = std::min(count_ + 1, kKept);
    e.ms = ms;
    return e;
}

void RecentTraffic::frame(qint64 msSinceEpoch, QByteArrayView frame) {
    Entry& e = push(msSinceEpoch);
    e.reply = false;
    e.size = frame.size();
    const qsizetype shown = std::min(frame.size(), kHexBytesShown);
    if (shown > 0)
        std::memcpy(e.head.data(), frame.data(), std::size_t(shown));
}

void RecentTraffic::reply(qint64 msSinceEpoch, std::uint8_t code) {
    Entry& e = push(msSinceEpoch);
    e.reply = true;
    e.size = 1;
    e.head[0] = char(code);
}

QStringList RecentTraffic::lines() const {
    QStringList out;
    for (qsizetype i = 0; i < count_; ++i) {
        const Entry& e = ring_[std::size_t((next_ - count_ + i + kKept) % kKept)];
        QString line =
            QDateTime::fromMSecsSinceEpoch(e.ms).toString(QStringLiteral("HH:mm:ss.zzz"));
        const QByteArrayView head(e.head.data(), std::min(e.size, kHexBytesShown));
        line += e.reply ? QStringLiteral(" <- ") : QStringLiteral(" -> ");
        line += QString::fromLatin1(head.toByteArray().toHex(' ').toUpper());
        if (!e.reply && e.size > kHexBytesShown)
            line += QStringLiteral(" … (%1 bytes)").arg(e.size);
        out << line;
    }
    return out;
}

} // namespace qav::report
