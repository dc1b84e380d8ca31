#pragma once
// The session's two roads to the chip: the serial port and the USB bridge,
// made by the link factory. One of them is active: frames go there, and its
// loss and return are the run's. The serial port stays open when the bridge
// is chosen and keeps delivering replies.
//
// The links report events; this part words them for the work log, taps
// every byte that crosses for the capture, and passes the rest on as the
// same events whichever link it came from.

#include "link/link.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <memory>

namespace qav::link {
class HidBridge;
class SerialLink;
} // namespace qav::link

namespace qav::session {

class MessageGate;
class WorkFolder;

class Links : public QObject {
    Q_OBJECT
public:
    // Shown whenever a serial port cannot be opened or has gone away.
    static constexpr const char* kPortMessage =
        "串口不存在或被占用,若电脑没有串口，请使用USB转串口设备";
    static constexpr const char* kUsbConnectFailed = "USB连接失败";

    // bridge: the HID bridge behind the USB link (hidapi in the program, the
    // bridge emulator in tests); none means no bridge is ever found.
    Links(std::unique_ptr<link::HidBridge> bridge, WorkFolder& folder, MessageGate& gate,
          QObject* parent = nullptr);
    ~Links() override;

    link::Link& active() const { return *active_; }
    link::SerialLink& serial() const { return *serial_; }
    bool usbActive() const { return active_ == usb_.get(); }
    // The largest text a frame carries on the active link.
    int chunkLimit() const;

    // "COM1" .. "COM20", or a device by its path. The port message when it
    // cannot be opened.
    bool selectPort(const QString& port);
    // Where frames go and how, in words: "COM1" and "9600,N,8,1", or "USB".
    QString portLabel() const { return usbActive() ? QStringLiteral("USB") : port_; }
    QString lineLabel() const;
    bool setLineSettings(const QString& settings);
    void setAckTimeout(int milliseconds);
    // Choosing a link ends the watch for the other one's device.
    void chooseSerial();
    void chooseUsb();
    bool findBridge(); // "USB连接失败" when not found

    void dispatch(QByteArrayView frame) { active_->writeFrame(frame); }
    // Frames still waiting for the active link are not sent, each with its
    // line, so that what comes next goes out first.
    void dropWaiting() { active_->dropWaiting(); }
    void closeSerial();

signals:
    // The chip's reply bytes from either link.
    void replyBytes(qav::link::LinkKind from, const QByteArray& bytes);
    // Of the active link only.
    void frameWritten(const QByteArray& frame);
    void frameDone();
    void frameDropped();
    void frameTaken();
    void ackExpired();
    void lost();
    void back();

private:
    void connectLink(link::Link& l);
    void onLost(link::Link& l, const QString& reason);
    void onBack(link::Link& l);
    void onDropped(link::Link& l, link::DropReason reason);

    WorkFolder& folder_;
    MessageGate& gate_;
    std::unique_ptr<link::HidBridge> bridge_;
    std::unique_ptr<link::SerialLink> serial_;
    std::unique_ptr<link::Link> usb_;
    link::Link* active_ = nullptr;
    QString port_ = QStringLiteral("COM1"); // as it was chosen
};

} // namespace qav::session
