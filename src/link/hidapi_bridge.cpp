#include "link/hidapi_bridge.h"

#include <QMetaObject>
#include <hidapi.h>

namespace qav::link {

namespace {
QString describe(const wchar_t* text) {
    return text ? QString::fromWCharArray(text) : QStringLiteral("unknown error");
}
} // namespace

// Under Wine hidapi cannot start (its device enumeration needs a call Wine
// lacks): that is a machine without the bridge.
HidapiBridge::HidapiBridge(QObject* parent) : HidBridge(parent), usable_(hid_init() == 0) {}

HidapiBridge::~HidapiBridge() {
    close();
}

bool HidapiBridge::isOpen() const {
    return writeHandle_ && healthy_.load();
}

bool HidapiBridge::find() {
    if (!usable_)
        return false;
    std::string path;
    if (hid_device_info* list = hid_enumerate(kBridgeVendorId, kBridgeProductId)) {
        if (list->path)
            path = list->path;
        hid_free_enumeration(list);
    }
    if (path.empty()) {
        close();
        return false;
    }
    if (isOpen() && path == path_)
        return true;

    close();
    hid_device* writer = hid_open_path(path.c_str());
    hid_device* reader = writer ? hid_open_path(path.c_str()) : nullptr;
    if (!reader) {
        if (writer)
            hid_close(writer);
        return false;
    }
    writeHandle_ = writer;
    readHandle_ = reader;
    path_ = path;
    healthy_ = true;
    stopReading_ = false;
    const unsigned generation = ++generation_;
    reader_ = std::thread([this, reader, generation] { readLoop(reader, generation); });
    return true;
}

void HidapiBridge::close() {
    if (reader_.joinable()) {
        stopReading_ = true;
        reader_.join();
    }
    if (readHandle_)
        hid_close(readHandle_);
    if (writeHandle_)
        hid_close(writeHandle_);
    readHandle_ = writeHandle_ = nullptr;
    path_.clear();
    healthy_ = false;
}

bool HidapiBridge::writeReport(const Report& report) {
    if (!isOpen())
        return false;
    Report out = report;
    out[0] = 0; // report ID
    // Never more than the 33 bytes of a report, whatever the device declares;
    // on Windows hidapi pads a shorter write to the device's report length.
    const int written = hid_write(writeHandle_, out.data(), out.size());
    if (written < 0) {
        healthy_ = false;
        return false;
    }
    return true;
}

void HidapiBridge::readLoop(hid_device_* device, unsigned generation) {
    // Room for a report ID and a full-speed interrupt packet; only byte 1
    // matters to the console.
    unsigned char buffer[65];
    while (!stopReading_.load()) {
        const int got = hid_read_timeout(device, buffer, sizeof buffer, kReadTimeoutMs);
        if (got < 0) {
            healthy_ = false;
            deliverFailure(generation, describe(hid_error(device)));
            return;
        }
        if (got == 0)
            continue;
            // Byte 1 is always the first data byte. Windows reads the report ID
            // first, 0 for devices that use none; hidraw leaves it out for them,
            // so it is put back.
#ifdef Q_OS_WIN
        QByteArray report(reinterpret_cast<const char*>(buffer), got);
#else
        QByteArray report(1, '\0');
        report.append(reinterpret_cast<const char*>(buffer), got);
#endif
        deliverReport(report);
    }
}

void HidapiBridge::deliverReport(const QByteArray& report) {
    QMetaObject::invokeMethod(
        this, [this, report] { emit inputReport(report); }, Qt::QueuedConnection);
}

void HidapiBridge::deliverFailure(unsigned generation, const QString& reason) {
    QMetaObject::invokeMethod(
        this,
        [this, generation, reason] {
            if (generation == generation_)
                emit readFailed(reason);
        },
        Qt::QueuedConnection);
}

} // namespace qav::link
