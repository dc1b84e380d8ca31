#include "session/links.h"

#include "link/hid_bridge.h"
#include "link/link_factory.h"
#include "link/serial_link.h"
#include "protocol/frame.h"
#include "session/message_gate.h"
#include "session/work_folder.h"

namespace qav::session {

namespace {
constexpr const char* kPortLostLine = "串口COM%1已断开：%2";
constexpr const char* kPortBackLine = "串口COM%1已重新打开";
constexpr const char* kOverrunLine = "串口接收溢出，丢失 %1 字节";
constexpr const char* kBridgeReadFailedLine = "F320读取失败：%1";
constexpr const char* kBridgeBackLine = "F320已重新联接";
constexpr const char* kBridgeFoundEvent = "F320已联接";
// The lines of frames that did not go out.
constexpr const char* kDroppedLine = "操作失败：已停止，本帧未发出";
constexpr const char* kNotConnectedLine = "操作失败请先联接";
constexpr const char* kAckTimeoutLine = "操作失败：等待F320应答超时，本帧已放弃";
constexpr const char* kWriteFailedLine = "操作失败：写入F320失败，本帧已放弃";

bool comNumber(const QString& port, int& number) {
    if (!port.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return false;
    bool ok = false;
    number = port.mid(3).toInt(&ok);
    return ok;
}
} // namespace

Links::Links(std::unique_ptr<link::HidBridge> bridge, WorkFolder& folder, MessageGate& gate,
             QObject* parent)
    : QObject(parent), folder_(folder), gate_(gate), bridge_(std::move(bridge)),
      serial_(link::makeSerialLink(this)), usb_(link::makeUsbLink(bridge_.get(), this)),
      active_(serial_.get()) {
    connectLink(*serial_);
    connectLink(*usb_);
    connect(serial_.get(), &link::Link::inputOverrun, this,
            [this](qint64 bytes) { folder_.logLine(QString::fromUtf8(kOverrunLine).arg(bytes)); });
}

Links::~Links() {
    usb_.reset(); // the link goes before its bridge does
    if (serial_->isOpen())
        serial_->close();
}

void Links::connectLink(link::Link& l) {
    worklog::CaptureFile& capture = folder_.capture();
    connect(&l, &link::Link::replyBytes, this,
            [this, &l](const QByteArray& bytes) { emit replyBytes(l.kind(), bytes); });
    connect(&l, &link::Link::frameWritten, this, [this, &l, &capture](const QByteArray& frame) {
        capture.frameSent(frame);
        if (active_ == &l)
            emit frameWritten(frame);
    });
    connect(&l, &link::Link::traffic, this,
            [&capture](link::Traffic kind, const QByteArray& bytes) {
                switch (kind) {
                case link::Traffic::SerialIn:
                    capture.serialReceived(bytes);
                    break;
                case link::Traffic::ReportOut:
                    capture.usbReportWritten(bytes);
                    break;
                case link::Traffic::ReportIn:
                    capture.usbReportRead(bytes);
                    break;
                }
            });
    connect(&l, &link::Link::frameDone, this, [this, &l] {
        if (active_ == &l)
            emit frameDone();
    });
    connect(&l, &link::Link::frameTaken, this, [this, &l] {
        if (active_ == &l)
            emit frameTaken();
    });
    connect(&l, &link::Link::ackExpired, this, [this, &l] {
        if (active_ == &l)
            emit ackExpired();
    });
    connect(&l, &link::Link::frameDropped, this,
            [this, &l](link::DropReason reason) { onDropped(l, reason); });
    connect(&l, &link::Link::lost, this, [this, &l](const QString& reason) { onLost(l, reason); });
    connect(&l, &link::Link::back, this, [this, &l] { onBack(l); });
}

void Links::onDropped(link::Link& l, link::DropReason reason) {
    switch (reason) {
    case link::DropReason::Stopped:
        folder_.logLine(QString::fromUtf8(kDroppedLine));
        break;
    case link::DropReason::NotConnected:
        gate_.show(QString::fromUtf8(kUsbConnectFailed), {}, MessageGate::Notice);
        folder_.logLine(QString::fromUtf8(kNotConnectedLine));
        break;
    case link::DropReason::AckTimeout:
        folder_.logLine(QString::fromUtf8(kAckTimeoutLine));
        break;
    case link::DropReason::WriteFailed:
        folder_.logLine(QString::fromUtf8(kWriteFailedLine));
        break;
    }
    if (active_ == &l)
        emit frameDropped();
}

// The adapter was pulled out, the device went away, or the bridge can no
// longer be read: the link watches for it and says when it is back.
void Links::onLost(link::Link& l, const QString& reason) {
    if (&l == serial_.get()) {
        folder_.logEvent(QString::fromUtf8(kPortLostLine).arg(serial_->commPort()).arg(reason));
        gate_.show(QString::fromUtf8(kPortMessage), {}, MessageGate::Notice);
    } else {
        folder_.logEvent(QString::fromUtf8(kBridgeReadFailedLine).arg(reason));
    }
    if (active_ == &l)
        emit lost();
}

void Links::onBack(link::Link& l) {
    folder_.logEvent(&l == serial_.get() ? QString::fromUtf8(kPortBackLine).arg(serial_->commPort())
                                         : QString::fromUtf8(kBridgeBackLine));
    if (active_ == &l)
        emit back();
}

int Links::chunkLimit() const {
    return usbActive() ? protocol::kUsbChunkLimit : protocol::kSerialChunkLimit;
}

bool Links::selectPort(const QString& port) {
    int number = 0;
    bool opened = false;
    if (comNumber(port, number)) {
        if (number >= 1 && number <= link::SerialLink::kPortCount) {
            if (serial_->isOpen())
                serial_->close();
            serial_->setCommPort(number);
            opened = serial_->open();
        }
    } else {
        opened = serial_->openDevice(port);
    }
    if (!opened)
        gate_.show(QString::fromUtf8(kPortMessage));
    else
        port_ = port;
    return opened;
}

QString Links::lineLabel() const {
    return usbActive() ? QStringLiteral("HID") : serial_->settings();
}

bool Links::setLineSettings(const QString& settings) {
    return serial_->setSettings(settings);
}

void Links::setAckTimeout(int milliseconds) {
    usb_->setAckTimeout(milliseconds);
}

void Links::chooseSerial() {
    usb_->stopWatching();
    active_ = serial_.get();
}

void Links::chooseUsb() {
    serial_->stopWatching();
    active_ = usb_.get();
}

bool Links::findBridge() {
    if (usb_->open()) {
        folder_.capture().event(QString::fromUtf8(kBridgeFoundEvent));
        return true;
    }
    gate_.show(QString::fromUtf8(kUsbConnectFailed));
    return false;
}

void Links::closeSerial() {
    if (serial_->isOpen())
        serial_->close();
}

} // namespace qav::session
