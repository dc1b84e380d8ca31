#include "link/serial_link.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace qav::link {

bool SerialLink::setSettings(const QString& settings) {
    // baud, parity letter, data bits, stop bits: "9600,N,8,1"
    const QStringList parts = settings.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    bool ok = false;
    const qint32 baud = parts[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0)
        return false;
    const QString parity = parts[1].trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity))
        return false;
    const int dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return false;
    const QString stop = parts[3].trimmed();
    int stopBits = 0;
    if (stop == QLatin1String("1"))
        stopBits = 1;
    else if (stop == QLatin1String("1.5"))
        stopBits = 15;
    else if (stop == QLatin1String("2"))
        stopBits = 2;
    else
        return false;

    baud_ = baud;
    parity_ = parity.at(0).toLatin1();
    dataBits_ = dataBits;
    stopBits_ = stopBits;
    return isOpen() ? applySettings() : true;
}

QString SerialLink::settings() const {
    const QString stop = stopBits_ == 15 ? QStringLiteral("1.5") : QString::number(stopBits_);
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baud_)
        .arg(QLatin1Char(parity_))
        .arg(dataBits_)
        .arg(stop);
}

int SerialLink::frameTimeMs(qsizetype bytes) const {
    const double stop = stopBits_ == 15 ? 1.5 : stopBits_;
    const double bitsPerChar = 1 + dataBits_ + (parity_ == 'N' ? 0 : 1) + stop;
    const double ms = double(bytes) * bitsPerChar * 1000.0 / std::max<qint32>(baud_, 1);
    return int(std::ceil(ms));
}

} // namespace qav::link
