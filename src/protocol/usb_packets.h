#pragma once
// How a frame travels to the USB bridge: 33-byte output reports, report ID 0
// first, each carrying one packet of one of three kinds.
//
//   full   00 FC  b0 .. b30                      31 frame bytes; the bridge answers 0x5E
//   last   00 BC  c  b0 .. b(c-1)  00 ..         the frame's last c bytes, c = 0 .. 30
//   short  00 b0 b1 b2  00 ..                    a whole frame of at most 3 bytes, no marker
//
// A frame of n >= 4 bytes goes out as n div 31 full packets and one last
// packet; when n is a multiple of 31 the last packet carries no bytes.

#include <QByteArray>
#include <QByteArrayView>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace qav::protocol {

inline constexpr int kUsbReportSize = 33;     // report ID and 32 payload bytes
inline constexpr int kUsbFullPayload = 31;    // frame bytes in a full packet
inline constexpr int kUsbLastPayloadMax = 30; // frame bytes a last packet can hold
inline constexpr int kUsbShortFrameMax = 3;   // longest frame sent as a short packet
inline constexpr std::uint8_t kUsbFullMarker = 0xFC;
inline constexpr std::uint8_t kUsbLastMarker = 0xBC;

using UsbReport = std::array<std::uint8_t, kUsbReportSize>;

enum class UsbPacketKind { Short, Full, Last };

struct UsbPacket {
    UsbPacketKind kind;
    UsbReport report;
};

// The packets of one frame, in the order they are written. An empty frame
// gives no packets.
std::vector<UsbPacket> cutIntoUsbPackets(QByteArrayView frame);

// The kind a receiver reads from byte 1. A short frame that happens to begin
// with a marker byte cannot be told from a full or last packet.
UsbPacketKind usbPacketKindOf(const UsbReport& report);

// The receiving side: collects packets until a frame is whole. A short
// packet has no count, so its frame comes back as three bytes, padded with
// zeros when the frame was shorter.
class UsbFrameAssembler {
public:
    struct Step {
        UsbPacketKind kind;
        std::optional<QByteArray> frame; // set when this packet completed a frame
        bool malformed = false;          // a last packet with a count above 30
    };

    Step feed(const UsbReport& report);
    void reset() { pending_.clear(); }
    qsizetype pendingBytes() const { return pending_.size(); }

private:
    QByteArray pending_;
};

} // namespace qav::protocol
