#include "link/frame_dispatcher.h"

#include "link/serial_port_service.h"
#include "link/usb_packet_sender.h"

namespace qav::link {

FrameDispatcher::FrameDispatcher(SerialPortService& serial, UsbPacketSender& usb, QObject* parent)
    : QObject(parent), serial_(serial), usb_(usb) {}

void FrameDispatcher::dispatch(QByteArrayView frame) {
    if (frame.isEmpty())
        return;
    if (useUsbLink_) {
        usb_.send(frame.toByteArray());
        return;
    }
    if (!serial_.portOpen())
        return;
    if (frame.size() <= kSerialSplitThreshold) {
        serial_.output(frame);
        return;
    }
    // The second piece follows at once; together the two writes are the frame.
    serial_.output(frame.first(kSerialSplitThreshold));
    serial_.output(frame.sliced(kSerialSplitThreshold));
}

void FrameDispatcher::dropWaiting() {
    usb_.dropWaiting();
}

} // namespace qav::link
