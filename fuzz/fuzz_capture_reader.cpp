// Fuzzes the report's capture reader and what it makes of the packets: any
// bytes, a capture cut off or damaged anywhere, go through the reader, the
// run's analysis and the chart's reduction.
//
// Checked on every run:
//   - the reader never reads past the input: the whole blocks it took are at
//     most the input's size, and all of it when it says it read to the end;
//   - every packet's data lies inside the block it came in;
//   - the reduced chart has no more rows than frames, and its rows' spreads
//     are ordered (smallest, median, largest).
#include "report/capture_reader.h"
#include "report/column_reduction.h"
#include "report/run_analysis.h"

#include <QBuffer>
#include <QByteArray>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace qav::report;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

void checkSpread(const std::optional<Spread>& s) {
    if (s && !std::isnan(s->low) && !std::isnan(s->high))
        check(s->low <= s->mid && s->mid <= s->high);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    CaptureReader reader(device);
    if (reader.start())
        return 0;
    RunAnalysis analysis;
    CapturedPacket packet;
    while (reader.next(packet)) {
        check(packet.data.size() >= 0 && packet.data.size() < CaptureReader::kLargestBlock);
        analysis.add(packet);
    }
    check(reader.end() != CaptureReader::End::None);
    check(reader.wholeBytes() <= qint64(size));
    if (reader.end() == CaptureReader::End::Complete)
        check(reader.wholeBytes() == qint64(size));

    const CaptureRun run = analysis.finish();
    for (int columns : {1, 7, 1000}) {
        const ReducedChart chart = reduceToColumns(run.frames, columns);
        check(chart.rows.size() <= run.frames.size());
        for (const ChartRow& row : chart.rows) {
            checkSpread(row.received);
            checkSpread(row.idle);
        }
    }
    const Histogram h = idleHistogram(run.frames, 60);
    check(h.counts.size() <= 62);
    return 0;
}
