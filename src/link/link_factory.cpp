#include "link/link_factory.h"

#include "link/serial_port_service.h"
#include "link/usb_link.h"

namespace qav::link {

std::unique_ptr<SerialLink> makeSerialLink(QObject* parent) {
#ifdef Q_OS_WIN
    // Windows: the serial link on the Win32 communications API is made here.
#endif
    return std::make_unique<SerialPortService>(parent);
}

std::unique_ptr<Link> makeUsbLink(HidBridge* bridge, QObject* parent) {
    return std::make_unique<UsbLink>(bridge, parent);
}

} // namespace qav::link
