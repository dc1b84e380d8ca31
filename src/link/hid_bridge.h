#pragma once
// The USB bridge as the console sees it: a HID device that takes 33-byte
// output reports and returns input reports whose byte 1 is a reply.
// Two implementations: hidapi for real devices (HidapiBridge) and the
// bridge emulator (sim/) for tests and for work without hardware.

#include "protocol/usb_packets.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>

namespace qav::link {

inline constexpr std::uint16_t kBridgeVendorId = 0x0FFF;
inline constexpr std::uint16_t kBridgeProductId = 0x0002;
inline constexpr int kReportSize = protocol::kUsbReportSize; // report ID 0 and 32 payload bytes

using Report = protocol::UsbReport;

class HidBridge : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~HidBridge() override = default;

    // Searches for the bridge by vendor and product ID and opens it. Handles of
    // an earlier search are released before new ones are opened. True when the
    // bridge is found and open.
    virtual bool find() = 0;
    // Writes one output report of exactly kReportSize bytes. False when the
    // bridge is not open or the write failed.
    virtual bool writeReport(const Report& report) = 0;
    virtual bool isOpen() const = 0;

signals:
    // One input report (report ID first), delivered on the owner's thread in
    // the order the device sent them.
    void inputReport(const QByteArray& report);
    // The device could not be read any more (unplugged, I/O error).
    void readFailed(const QString& reason);
};

} // namespace qav::link
