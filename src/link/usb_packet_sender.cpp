#include "link/usb_packet_sender.h"

namespace qav::link {

void UsbPacketSender::send(const QByteArray&) {}

} // namespace qav::link
