// Fuzzes the USB packet cutter against the bridge's reassembly (the
// assembler the emulated bridge runs). Input layout: byte 0 says how the rest
// is split into frames, the rest are the frames' bytes; then the same input
// is fed to a fresh assembler as raw 33-byte reports.
//
// Checked on every run:
//   - every report is 33 bytes with report ID 0; full packets carry FC and
//     31 frame bytes, a last packet BC and a count of 0 .. 30, and only the
//     last packet of a frame is not full; a short packet has its frame
//     padded with zeros;
//   - the round trip gives back each frame (a short frame padded to three
//     bytes), also for frames sent back to back through one assembler;
//   - raw reports never make the assembler hold a partial frame that is not
//     whole full packets, and a frame it returns is at most what it held plus
//     one packet.
#include "protocol/usb_packets.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace qav::protocol;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool isMarker(std::uint8_t b) {
    return b == kUsbFullMarker || b == kUsbLastMarker;
}

void roundTrip(UsbFrameAssembler& assembler, const QByteArray& frame) {
    const auto packets = cutIntoUsbPackets(frame);
    const qsizetype n = frame.size();
    if (n == 0) {
        check(packets.empty());
        return;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.constData());

    if (n <= kUsbShortFrameMax) {
        check(packets.size() == 1);
        const UsbReport& r = packets[0].report;
        check(packets[0].kind == UsbPacketKind::Short && r.size() == kUsbReportSize && r[0] == 0);
        check(std::memcmp(r.data() + 1, bytes, std::size_t(n)) == 0);
        for (std::size_t k = std::size_t(n) + 1; k < r.size(); ++k)
            check(r[k] == 0);
        // A short frame that starts with a marker reads as a full or last
        // packet on the other side; the wire cannot tell them apart.
        if (isMarker(bytes[0])) {
            assembler.reset();
            return;
        }
        const auto step = assembler.feed(r);
        check(step.kind == UsbPacketKind::Short && !step.malformed && step.frame);
        QByteArray padded = frame;
        padded.append(QByteArray(kUsbShortFrameMax - n, '\0'));
        check(*step.frame == padded);
        check(assembler.pendingBytes() == 0);
        return;
    }

    check(packets.size() == std::size_t(n / kUsbFullPayload + 1));
    for (std::size_t k = 0; k < packets.size(); ++k) {
        const UsbPacket& p = packets[k];
        const UsbReport& r = p.report;
        check(r.size() == kUsbReportSize && r[0] == 0);
        const bool last = k + 1 == packets.size();
        check(usbPacketKindOf(r) == p.kind);
        if (!last) {
            check(p.kind == UsbPacketKind::Full && r[1] == kUsbFullMarker);
            check(std::memcmp(r.data() + 2, bytes + k * kUsbFullPayload, kUsbFullPayload) == 0);
        } else {
            check(p.kind == UsbPacketKind::Last && r[1] == kUsbLastMarker);
            check(r[2] <= kUsbLastPayloadMax && r[2] == n % kUsbFullPayload);
            check(std::memcmp(r.data() + 3, bytes + k * kUsbFullPayload, r[2]) == 0);
            for (std::size_t j = 3 + r[2]; j < r.size(); ++j)
                check(r[j] == 0);
        }
        const auto step = assembler.feed(r);
        check(!step.malformed);
        check(bool(step.frame) == last);
        if (last)
            check(*step.frame == frame);
        else
            check(assembler.pendingBytes() == qsizetype(k + 1) * kUsbFullPayload);
    }
    check(assembler.pendingBytes() == 0);
}

void rawReports(const std::uint8_t* data, std::size_t size) {
    UsbFrameAssembler assembler;
    for (std::size_t at = 0; at + kUsbReportSize - 1 <= size; at += kUsbReportSize - 1) {
        UsbReport r{};
        std::memcpy(r.data() + 1, data + at, kUsbReportSize - 1);
        const qsizetype held = assembler.pendingBytes();
        const auto step = assembler.feed(r);
        check(step.kind == usbPacketKindOf(r));
        check(assembler.pendingBytes() % kUsbFullPayload == 0);
        switch (step.kind) {
        case UsbPacketKind::Full:
            check(!step.frame && !step.malformed && assembler.pendingBytes() == held + 31);
            break;
        case UsbPacketKind::Last:
            check(step.malformed == (r[2] > kUsbLastPayloadMax));
            check(bool(step.frame) != step.malformed && assembler.pendingBytes() == 0);
            if (step.frame)
                check(step.frame->size() == held + r[2]);
            break;
        case UsbPacketKind::Short:
            check(step.frame && step.frame->size() == kUsbShortFrameMax);
            check(assembler.pendingBytes() == 0);
            break;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    // Frame sizes: byte 0 == 0 sends the rest as one frame; otherwise the rest
    // is cut into frames whose sizes are taken in turn from a small cycle
    // seeded by byte 0, so that back-to-back frames of every kind occur.
    const std::uint8_t mode = data[0];
    const char* rest = reinterpret_cast<const char*>(data + 1);
    const qsizetype restSize = qsizetype(size - 1);
    UsbFrameAssembler assembler;
    if (mode == 0) {
        roundTrip(assembler, QByteArray(rest, restSize));
    } else {
        std::uint32_t seed = mode;
        for (qsizetype at = 0; at < restSize;) {
            seed = seed * 1103515245u + 12345u;
            const qsizetype want = qsizetype((seed >> 16) % 100); // 0 .. 99: 0 to 4 packets
            const qsizetype take = std::min(want, restSize - at);
            roundTrip(assembler, QByteArray(rest + at, take));
            at += take;
            if (want == 0)
                ++at; // an empty frame sends nothing; move on anyway
        }
    }
    rawReports(data, size);
    return 0;
}
