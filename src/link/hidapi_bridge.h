#pragma once
// The USB bridge through hidapi (hidraw on Linux, the HID calls on Windows). The device is opened
// twice, like a pair of file handles: one handle only writes reports on the owner's thread, the
// other only reads, on a thread of its own, so no hidapi call on one device handle ever runs on two
// threads at once.

#include "link/hid_bridge.h"

#include <QByteArray>
#include <atomic>
#include <string>
#include <thread>

struct hid_device_;

namespace qav::link {

class HidapiBridge : public HidBridge {
    Q_OBJECT
public:
    explicit HidapiBridge(QObject* parent = nullptr);
    ~HidapiBridge() override;

    // Enumerates vendor 0x0FFF, product 0x0002 and opens the first match.
    // When the same device is found again and is still healthy the open
    // handles are kept, so searching before every report stays cheap;
    // otherwise the old handles are closed before the new ones are opened.
    bool find() override;
    // Writes exactly 33 bytes, report ID 0 first.
    bool writeReport(const Report& report) override;
    bool isOpen() const override;
    void close();

    // How long one read waits on the reader thread before it looks again
    // whether it should stop.
    static constexpr int kReadTimeoutMs = 100;

private:
    void readLoop(hid_device_* device, unsigned generation);
    void deliverReport(const QByteArray& report);
    void deliverFailure(unsigned generation, const QString& reason);

    const bool usable_; // hidapi started
    hid_device_* writeHandle_ = nullptr;
    hid_device_* readHandle_ = nullptr;
    std::string path_;
    std::thread reader_;
    std::atomic<bool> stopReading_{false};
    std::atomic<bool> healthy_{false};
    unsigned generation_ = 0; // counts opens; stale failures of an earlier open are ignored
};

} // namespace qav::link
