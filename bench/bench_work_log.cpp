// What one work-log entry costs as the log grows: the entry of a 4096-byte
// frame appended at the end of the log (ours), against rewriting the whole
// text of the box with the entry added (the naive way). Each case fills the
// log to N - 1 entries, then times the N-th (and a few more), repaint included.
//
// At the end the ratio of the 10,000th to the 100th entry (medians) is printed; ours
// must stay at or under 1.5. The naive way is timed at smaller sizes only:
// its cost grows with the log, and at 10,000 entries it would need minutes.
#include "common/log_helpers.h"
#include "logview/work_log_view.h"
#include "qt_bench_main.h"
#include "worklog/work_log.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int kFrameSize = 4096;
constexpr int kTimedEntries = 30;

QByteArray sampleFrame() {
    QByteArray frame(kFrameSize, '\0');
    for (int i = 0; i < kFrameSize; ++i)
        frame[i] = char(i * 7);
    return frame;
}

std::unique_ptr<QPlainTextEdit> shownBox() {
    auto box = std::make_unique<QPlainTextEdit>();
    box->setReadOnly(true);
    box->setUndoRedoEnabled(false);
    box->resize(800, 400);
    box->show();
    QApplication::processEvents();
    return box;
}

double threadCpuMicros() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Per-entry times of one case: wall and this thread's processor time. The
// machine may be busy with other work, so the medians are what we compare.
struct Samples {
    std::vector<double> wall, cpu;
};
std::map<std::pair<bool, int>, Samples>& samples() {
    static std::map<std::pair<bool, int>, Samples> s;
    return s;
}

template <class Append> void timeEntries(benchmark::State& state, bool naive, Append append) {
    Samples& s = samples()[{naive, int(state.range(0))}];
    for (auto _ : state) {
        const auto wall0 = std::chrono::steady_clock::now();
        const double cpu0 = threadCpuMicros();
        append();
        QApplication::processEvents(); // the repaint is part of the cost
        const double cpu = threadCpuMicros() - cpu0;
        const double wall =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - wall0)
                .count();
        state.SetIterationTime(wall / 1e6);
        s.wall.push_back(wall);
        s.cpu.push_back(cpu);
    }
    state.counters["median_us"] = median(s.wall);
    state.counters["median_cpu_us"] = median(s.cpu);
}

void BM_AppendEntry(benchmark::State& state) {
    const int n = int(state.range(0));
    const QByteArray frame = sampleFrame();
    qav::worklog::WorkLog log;
    qav::logview::WorkLogView viewer(log);
    viewer.resize(800, 400);
    viewer.show();
    for (int i = 1; i < n; ++i)
        log.appendFrame(frame);
    viewer.flush();
    QApplication::processEvents();
    // The entry and the box's layout of it (which the log otherwise does a
    // moment later, on the event loop).
    timeEntries(state, false, [&] {
        log.appendFrame(frame);
        viewer.flush();
    });
    state.counters["log_MB"] = double(log.size()) * 2 / 1e6;
}

void BM_RewriteWholeText(benchmark::State& state) {
    const int n = int(state.range(0));
    const QByteArray frame = sampleFrame();
    auto box = shownBox();
    const QString entry = qav::test::frameEntry(frame);
    QString text;
    for (int i = 1; i < n; ++i)
        text += entry;
    box->setPlainText(text);
    QApplication::processEvents();
    timeEntries(state, true, [&] {
        text += entry;
        box->setPlainText(text);
        box->moveCursor(QTextCursor::End);
    });
    state.counters["log_MB"] = double(text.size()) * 2 / 1e6;
}

BENCHMARK(BM_AppendEntry)
    ->Arg(100)
    ->Arg(10000)
    ->Iterations(kTimedEntries)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RewriteWholeText)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(3000)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    runBenchmarksInApplication(argc, argv);

    const auto at = [](bool naive, int n, bool cpu) {
        const auto it = samples().find({naive, n});
        return it == samples().end() ? 0.0 : median(cpu ? it->second.cpu : it->second.wall);
    };
    for (const bool cpu : {false, true}) {
        const char* kind = cpu ? "cpu " : "wall";
        if (at(false, 100, cpu) > 0 && at(false, 10000, cpu) > 0) {
            const double ratio = at(false, 10000, cpu) / at(false, 100, cpu);
            std::printf("%s median, append at the end:  entry 100 %6.0f us, entry 10000 %6.0f us, "
                        "ratio %.2f (%s)\n",
                        kind, at(false, 100, cpu), at(false, 10000, cpu), ratio,
                        ratio <= 1.5 ? "ok" : "TOO SLOW");
        }
        if (at(true, 100, cpu) > 0 && at(true, 3000, cpu) > 0)
            std::printf("%s median, rewrite whole text: entry 100 %6.0f us, entry 1000 %6.0f us, "
                        "entry 3000 %6.0f us, ratio 3000/100 %.1f\n",
                        kind, at(true, 100, cpu), at(true, 1000, cpu), at(true, 3000, cpu),
                        at(true, 3000, cpu) / at(true, 100, cpu));
    }
    return 0;
}
