#pragma once
// Frame layout of the chip's command protocol.
//
//   FD | len hi | len lo | command | [parameter] | [data ...]
//
// The 16-bit big-endian length counts every byte after the length field.
// There is no checksum, trailer or escaping.

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

namespace qav::protocol {

inline constexpr std::uint8_t kFrameHeader = 0xFD;
inline constexpr int kFrameHeaderSize = 5;   // header, length (2), command, parameter
inline constexpr int kMaxLengthField = 0xFFFF;

// The most text bytes one synthesis or cache-store frame carries, by link.
// The five header bytes are not counted.
inline constexpr int kSerialChunkLimit = 4091;
inline constexpr int kUsbChunkLimit = 512;

enum class Command : std::uint8_t {
    Synthesize = 0x01,
    Stop = 0x02,
    Pause = 0x03,
    Resume = 0x04,
    QueryStatus = 0x21,
    Standby = 0x22,
    CacheStore = 0x31,
    CachePlay = 0x32,
    QueryVersion = 0x58,
    WakeUp = 0xFF,
};

// Text encodings the chip accepts; the value is the parameter byte of a
// synthesis frame and the index of the encoding list.
enum class Encoding : std::uint8_t {
    Gb2312 = 0,
    Gbk = 1,
    Big5 = 2,
    Utf16Le = 3,
    Utf16Be = 4,
};

// Reply bytes sent back by the chip or by the USB bridge.
namespace reply {
inline constexpr std::uint8_t kReceived = 0x41;
inline constexpr std::uint8_t kReceiveError = 0x45;
inline constexpr std::uint8_t kInitialised = 0x4A;
inline constexpr std::uint8_t kPlaying = 0x4E;
inline constexpr std::uint8_t kIdle = 0x4F;
inline constexpr std::uint8_t kVersion = 0x53;
inline constexpr std::uint8_t kBridgeAck = 0x5E;
inline constexpr std::uint8_t kReceivedWasIdle = 0xAA;
inline constexpr std::uint8_t kReceivedWasPaused = 0xAB;
inline constexpr std::uint8_t kReceivedWasPlaying = 0xAC;
inline constexpr std::uint8_t kHardwarePlaying = 0xAD;
} // namespace reply

// A one-byte command frame: FD 00 01 <command>.
QByteArray commandFrame(Command command);

// A frame with a parameter byte and data: FD, len, command, parameter, data.
// Returns nothing when the length would not fit the 16-bit length field.
std::optional<QByteArray> parameterFrame(Command command, std::uint8_t parameter,
                                         QByteArrayView data);

// Writes the five header bytes of a frame whose total length is frameLength
// into the start of buffer (which must hold at least five bytes).
void writeHeader(char* buffer, int frameLength, Command command, std::uint8_t parameter);

} // namespace qav::protocol
