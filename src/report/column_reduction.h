#pragma once
// A night's frames reduced to what a chart can hold. A chart has a fixed
// number of columns over the run's time; where the run has more frames than
// that, each column keeps the smallest, the median and the largest time of
// its frames, so that a spike is never averaged away. Where it has fewer,
// every frame is its own row.

#include "report/run_analysis.h"

#include <optional>
#include <vector>

namespace qav::report {

struct Spread {
    float low = 0;
    float mid = 0;
    float high = 0;
};

struct ChartRow {
    qint64 ms = 0; // since 1970, UTC: the frame's time, or the middle of its column
    std::optional<Spread> received; // frame→0x41
    std::optional<Spread> idle;     // frame→idle, of the spoken frames
};

struct ReducedChart {
    std::vector<ChartRow> rows;
    qint64 columnMs = 0; // the width of a column; 0 when every frame is a row
    qint64 frames = 0;   // of the run
};

ReducedChart reduceToColumns(const std::vector<FrameRecord>& frames, int columns);

// The frame→idle times of the spoken frames, counted in bins of a round width.
struct Histogram {
    double binMs = 1;
    std::vector<qint64> counts; // bin i holds [i * binMs, (i + 1) * binMs)
    qint64 beyond = 0;          // longer than the last bin, left out (a hang's frames)
    float longest = 0;
};
Histogram idleHistogram(const std::vector<FrameRecord>& frames, int bins);

} // namespace qav::report
