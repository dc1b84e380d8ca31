#pragma once
// The single road by which every frame leaves the console: unchanged over the
// serial port, or cut into 33-byte reports for the USB bridge.

#include <QByteArrayView>
#include <QObject>

namespace qav::link {

class SerialPortService;
class UsbPacketSender;

// A frame longer than this leaves the serial port in two writes: its first
// kSerialSplitThreshold bytes, then the rest.
inline constexpr qsizetype kSerialSplitThreshold = 2000;

class FrameDispatcher : public QObject {
    Q_OBJECT
public:
    FrameDispatcher(SerialPortService& serial, UsbPacketSender& usb, QObject* parent = nullptr);

    void setUseUsbLink(bool useUsb) { useUsbLink_ = useUsb; }
    bool useUsbLink() const { return useUsbLink_; }

    // Serial: writes the frame while the port is open, in one write or, above
    // kSerialSplitThreshold bytes, in two; drops it silently otherwise. USB:
    // hands it to the packet sender, which paces it by the bridge's
    // acknowledgements.
    void dispatch(QByteArrayView frame);
    // Frames still waiting for the USB link are not sent (each gets its
    // work-log line), so that what comes next goes out first.
    void dropWaiting();

private:
    SerialPortService& serial_;
    UsbPacketSender& usb_;
    bool useUsbLink_ = false;
};

} // namespace qav::link
