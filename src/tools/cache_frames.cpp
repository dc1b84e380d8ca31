#include "tools/cache_frames.h"

#include "protocol/frame.h"

namespace qav::tools {

std::uint8_t cacheSegment(int listIndex) {
    if (listIndex < 0 || listIndex >= kCacheSegments)
        return 0;
    return std::uint8_t(listIndex);
}

QByteArray cachePlayFrame(int replayListIndex, int encodingCode) {
    const int count = ((replayListIndex + 1) % 16 + 16) % 16;
    const auto parameter = std::uint8_t(count * 16 + (encodingCode & 0x0F));
    return *protocol::parameterFrame(protocol::Command::CachePlay, parameter, {});
}

} // namespace qav::tools
