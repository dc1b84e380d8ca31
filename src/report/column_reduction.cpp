#include "report/column_reduction.h"

#include <algorithm>
#include <cmath>

namespace qav::report {

namespace {

std::optional<Spread> single(float ms) {
    if (std::isnan(ms))
        return std::nullopt;
    return Spread{ms, ms, ms};
}

// One series' values sorted into their columns (a counting sort), and each
// column's smallest, median and largest.
template <class Value>
std::vector<std::optional<Spread>> spreads(const std::vector<FrameRecord>& frames,
                                           const std::vector<qint32>& columnOf, int columns,
                                           Value value) {
    std::vector<qint64> start(std::size_t(columns) + 1, 0);
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (!std::isnan(value(frames[i])))
            ++start[std::size_t(columnOf[i]) + 1];
    for (int c = 0; c < columns; ++c)
        start[std::size_t(c) + 1] += start[std::size_t(c)];
    std::vector<float> sorted(std::size_t(start.back()));
    std::vector<qint64> next(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (const float v = value(frames[i]); !std::isnan(v))
            sorted[std::size_t(next[std::size_t(columnOf[i])]++)] = v;

    std::vector<std::optional<Spread>> out(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) {
        const auto first = sorted.begin() + start[std::size_t(c)];
        const auto last = sorted.begin() + start[std::size_t(c) + 1];
        if (first == last)
            continue;
        const auto [low, high] = std::minmax_element(first, last);
        Spread s{*low, 0, *high};
        const auto middle = first + (last - first - 1) / 2;
        std::nth_element(first, middle, last);
        s.mid = *middle;
        out[std::size_t(c)] = s;
    }
    return out;
}

// 1, 2 or 5 times a power of ten, at least the given width and 1 ms.
double roundWidth(double atLeast) {
    if (!(atLeast > 1))
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(atLeast)));
    for (double step : {1.0, 2.0, 5.0, 10.0})
        if (step * power >= atLeast)
            return step * power;
    return 10 * power;
}

} // namespace

ReducedChart reduceToColumns(const std::vector<FrameRecord>& frames, int columns) {
    ReducedChart out;
    out.frames = qint64(frames.size());
    if (frames.empty() || columns < 1)
        return out;
    if (frames.size() <= std::size_t(columns)) {
        out.rows.reserve(frames.size());
        for (const FrameRecord& f : frames)
            out.rows.push_back(
                {f.sentMs, single(f.msToReceived), f.spoken ? single(f.msToIdle) : std::nullopt});
        // In time order, as a chart needs them, even where the clock was set back.
        std::stable_sort(out.rows.begin(), out.rows.end(),
                         [](const ChartRow& a, const ChartRow& b) { return a.ms < b.ms; });
        return out;
    }
    const auto [earliest, latest] = std::minmax_element(
        frames.begin(), frames.end(),
        [](const FrameRecord& a, const FrameRecord& b) { return a.sentMs < b.sentMs; });
    const qint64 t0 = earliest->sentMs;
    const qint64 span = latest->sentMs - t0 + 1;
    out.columnMs = (span + columns - 1) / columns;
    const int used = int((span + out.columnMs - 1) / out.columnMs);
    std::vector<qint32> columnOf(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i)
        columnOf[i] = qint32((frames[i].sentMs - t0) / out.columnMs);

    const auto received =
        spreads(frames, columnOf, used, [](const FrameRecord& f) { return f.msToReceived; });
    const auto idle = spreads(frames, columnOf, used, [](const FrameRecord& f) {
        return f.spoken ? f.msToIdle : float(NAN);
    });
    for (int c = 0; c < used; ++c) {
        const std::size_t i = std::size_t(c);
        if (received[i] || idle[i])
            out.rows.push_back({t0 + c * out.columnMs + out.columnMs / 2, received[i], idle[i]});
    }
    return out;
}

Histogram idleHistogram(const std::vector<FrameRecord>& frames, int bins) {
    Histogram h;
    std::vector<float> values;
    for (const FrameRecord& f : frames)
        if (f.spoken && !std::isnan(f.msToIdle))
            values.push_back(f.msToIdle);
    if (values.empty() || bins < 1)
        return h;
    const auto p99 = values.begin() + std::ptrdiff_t(double(values.size() - 1) * 0.99);
    std::nth_element(values.begin(), p99, values.end());
    h.longest = *std::max_element(values.begin(), values.end());
    // A hang's frames, hundreds of times longer than the rest, would leave
    // every other frame in the first bin.
    // A clock set back during the run gives times below zero: they count in the first bin.
    const double range = std::max(0.0, h.longest > 4 * *p99 ? 2 * double(*p99) : double(h.longest));
    h.binMs = roundWidth(range / bins);
    h.counts.assign(std::size_t(range / h.binMs) + 1, 0);
    for (const float v : values) {
        const auto bin = std::size_t(std::max(0.0, double(v)) / h.binMs);
        if (bin < h.counts.size())
            ++h.counts[bin];
        else
            ++h.beyond;
    }
    return h;
}

} // namespace qav::report
