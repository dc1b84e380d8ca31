#pragma once
// Frames of the chip's text cache: storing a text at a start segment, and
// playing the cache a number of times.

#include <QByteArray>
#include <cstdint>

namespace qav::tools {

inline constexpr int kCacheSegments = 16;

// The segment byte for the entry picked in the start-segment list; always
// 0 to 15, and 0 when no entry is picked.
std::uint8_t cacheSegment(int listIndex);

// FD 00 02 32 P with P = 16 x ((listIndex + 1) mod 16) + encodingCode: the
// replay count in the high nibble, the encoding in the low one. The replay
// list shows "01" to "15" at indexes 0 to 14.
QByteArray cachePlayFrame(int replayListIndex, int encodingCode);

} // namespace qav::tools
