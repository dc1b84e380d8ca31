#pragma once
// Continuous play: the send text area is spoken again on every idle reply of
// the chip until a countdown of seconds runs out.

#include <QString>
#include <optional>

namespace qav::tools {

// "请输入大于等于1的整数": a count or duration that is not a whole number of at least 1.
inline constexpr const char* kWholeNumberMessage = "请输入大于等于1的整数";

// The seconds written in the duration box: the decimal digits at the start of
// its first line, blanks around them ignored. The box starts as "500000"
// followed by a line break, which reads as 500000; after any edit it holds
// digits only. Text without leading digits reads as 0. An empty box gives
// nothing: the countdown keeps what it still holds.
std::optional<double> readReplaySeconds(const QString& text);

// One tick of the once-a-second countdown; false once it has run out.
inline bool countDown(double& replayCount) {
    replayCount -= 1;
    return replayCount > 0;
}

} // namespace qav::tools
