#include "protocol/usb_packets.h"

#include <algorithm>

namespace qav::protocol {

std::vector<UsbPacket> cutIntoUsbPackets(QByteArrayView frame) {
    std::vector<UsbPacket> packets;
    const qsizetype n = frame.size();
    if (n == 0)
        return packets;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.data());

    if (n <= kUsbShortFrameMax) {
        UsbPacket packet{UsbPacketKind::Short, {}};
        std::copy(bytes, bytes + n, packet.report.begin() + 1);
        packets.push_back(packet);
        return packets;
    }

    const qsizetype fullCount = n / kUsbFullPayload;
    packets.reserve(std::size_t(fullCount) + 1);
    for (qsizetype k = 0; k < fullCount; ++k) {
        UsbPacket packet{UsbPacketKind::Full, {}};
        packet.report[1] = kUsbFullMarker;
        const auto* from = bytes + k * kUsbFullPayload;
        std::copy(from, from + kUsbFullPayload, packet.report.begin() + 2);
        packets.push_back(packet);
    }
    const qsizetype rest = n - fullCount * kUsbFullPayload;
    UsbPacket last{UsbPacketKind::Last, {}};
    last.report[1] = kUsbLastMarker;
    last.report[2] = std::uint8_t(rest);
    std::copy(bytes + fullCount * kUsbFullPayload, bytes + n, last.report.begin() + 3);
    packets.push_back(last);
    return packets;
}

UsbPacketKind usbPacketKindOf(const UsbReport& report) {
    switch (report[1]) {
    case kUsbFullMarker:
        return UsbPacketKind::Full;
    case kUsbLastMarker:
        return UsbPacketKind::Last;
    default:
        return UsbPacketKind::Short;
    }
}

UsbFrameAssembler::Step UsbFrameAssembler::feed(const UsbReport& report) {
    const auto* payload = reinterpret_cast<const char*>(report.data());
    Step step{usbPacketKindOf(report), std::nullopt};
    switch (step.kind) {
    case UsbPacketKind::Full:
        pending_.append(payload + 2, kUsbFullPayload);
        break;
    case UsbPacketKind::Last: {
        const int count = report[2];
        if (count > kUsbLastPayloadMax) {
            step.malformed = true;
            pending_.clear();
            break;
        }
        pending_.append(payload + 3, count);
        step.frame = pending_;
        pending_.clear();
        break;
    }
    case UsbPacketKind::Short:
        // A short packet is a frame of its own; whatever was collected before
        // it belonged to a frame the sender gave up on.
        pending_.clear();
        step.frame = QByteArray(payload + 1, kUsbShortFrameMax);
        break;
    }
    return step;
}

} // namespace qav::protocol
