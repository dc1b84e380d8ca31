#pragma once
// A USB report as bytes, for comparing with literal bytes.

#include "protocol/usb_packets.h"

#include <QByteArray>

namespace qav::test {

inline QByteArray bytesOf(const protocol::UsbReport& report) {
    return QByteArray(reinterpret_cast<const char*>(report.data()), qsizetype(report.size()));
}

} // namespace qav::test
