#include "link/frame_dispatcher.h"

#include "link/serial_port_service.h"
#include "link/usb_packet_sender.h"

namespace qav::link {

FrameDispatcher::FrameDispatcher(SerialPortService& serial, QObject* parent)
    : QObject(parent), serial_(serial) {}

void FrameDispatcher::dispatch(const QByteArray& bytes, int count) {
    if (!useUsbLink_) {
        if (serial_.portOpen())
            serial_.output(bytes);
        return;
    }
    if (usb_)
        usb_->send(bytes.left(count));
}

} // namespace qav::link
