#pragma once
// The single road by which every frame leaves the console: unchanged over the
// serial port, or cut into 33-byte reports for the USB bridge.

#include <QByteArray>
#include <QObject>

namespace qav::link {

class SerialPortService;
class UsbPacketSender;

class FrameDispatcher : public QObject {
    Q_OBJECT
public:
    explicit FrameDispatcher(SerialPortService& serial, QObject* parent = nullptr);

    void setUseUsbLink(bool useUsb) { useUsbLink_ = useUsb; }
    bool useUsbLink() const { return useUsbLink_; }
    // The USB road; without it frames for the USB link are dropped.
    void setUsbSender(UsbPacketSender* sender) { usb_ = sender; }
    UsbPacketSender* usbSender() const { return usb_; }

    // Serial: writes the whole array in one write while the port is open, and
    // drops it silently otherwise. USB: hands the first `count` bytes to the
    // packet sender, which paces them by the bridge's acknowledgements.
    void dispatch(const QByteArray& bytes, int count);

private:
    SerialPortService& serial_;
    UsbPacketSender* usb_ = nullptr;
    bool useUsbLink_ = false;
};

} // namespace qav::link
