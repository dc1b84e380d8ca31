#pragma once
// Work-log lines for the bytes the USB bridge returns in byte 1 of an input
// report. The bridge's own acknowledgement 0x5E has no line.

#include <QString>
#include <cstdint>
#include <optional>

namespace qav::protocol {

// The line for a reply byte, without line break; nothing for 0x5E and for
// bytes the console does not know.
std::optional<QString> usbReplyLine(std::uint8_t reply);

} // namespace qav::protocol
