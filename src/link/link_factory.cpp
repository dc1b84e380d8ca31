#include "link/link_factory.h"

#include "link/usb_link.h"

#ifdef Q_OS_WIN
#include "link/win_serial_link.h"
#else
#include "link/serial_port_service.h"
#endif

namespace qav::link {

std::unique_ptr<SerialLink> makeSerialLink(QObject* parent) {
#ifdef Q_OS_WIN
    return std::make_unique<WinSerialLink>(parent);
#else
    return std::make_unique<SerialPortService>(parent);
#endif
}

std::unique_ptr<Link> makeUsbLink(HidBridge* bridge, QObject* parent) {
    return std::make_unique<UsbLink>(bridge, parent);
}

} // namespace qav::link
