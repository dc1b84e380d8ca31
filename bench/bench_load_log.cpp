// A big work log: 100,000 frames logged into the log's text box, each followed
// by the chip's two replies as a session at the serial port would show them.
// Ninety-nine frames in a hundred are the hex area's 33-byte start frame, every
// hundredth a full 4096-byte synthesis frame. Reported: the resident memory
// before the box is made, after the first 10,000 frames and at the end (what
// the box and its caches take is made by then; after it nothing may grow with
// the log), the log's own size, and what an entry costs at the start and at
// the end of the run (the append itself, and the box catching up on the event
// loop).
#include "bench_frames.h"
#include "common/load_helpers.h"
#include "logview/work_log_view.h"
#include "qt_bench_main.h"
#include "worklog/work_log.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

using qav::bench::cpuMicros;
using qav::bench::hexAreaFrame;
using qav::bench::synthesisFrame;

constexpr int kFrames = 100'000;
constexpr int kLongFrameEvery = 100;
constexpr int kSampleFrames = 10'000; // the first and the last this many are timed

struct Figures {
    double rssBefore = 0, rssWarm = 0, rssAfter = 0, logMB = 0, boxMB = 0, seconds = 0;
    double appendEarly = 0, appendLate = 0;                   // us, median, 33-byte entries
    double appendLongEarly = 0, appendLongLate = 0;           // us, median, 4096-byte entries
    double catchUpMax = 0, catchUpEarly = 0, catchUpLate = 0; // us, one turn of the loop
};

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

Figures run() {
    const QByteArray shortFrame = hexAreaFrame();
    const QByteArray longFrame = synthesisFrame();
    const QString replies =
        QStringLiteral("<---- 返回：41  接收成功\r\n<---- 返回：4F  芯片空闲\r\n");

    Figures fig;
    fig.rssBefore = qav::test::residentMB();
    qav::worklog::WorkLog log;
    qav::logview::WorkLogView box(log);
    box.resize(640, 300);
    box.show();
    QApplication::processEvents();
    std::vector<double> earlyShort, lateShort, earlyLong, lateLong, earlyTurn, lateTurn;
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < kFrames; ++i) {
        const bool isLong = i % kLongFrameEvery == kLongFrameEvery - 1;
        const double t0 = cpuMicros();
        log.appendFrame(isLong ? longFrame : shortFrame);
        log.append(replies);
        const double t1 = cpuMicros();
        QApplication::processEvents();
        const double t2 = cpuMicros();
        const bool early = i < kSampleFrames;
        const bool late = i >= kFrames - kSampleFrames;
        auto& appends = isLong ? (early ? earlyLong : lateLong) : (early ? earlyShort : lateShort);
        if (early || late)
            appends.push_back(t1 - t0);
        if (early)
            earlyTurn.push_back(t2 - t1);
        if (late)
            lateTurn.push_back(t2 - t1);
        fig.catchUpMax = std::max(fig.catchUpMax, t2 - t1);
        if (i + 1 == kSampleFrames)
            fig.rssWarm = qav::test::residentMB();
    }
    box.flush();
    QApplication::processEvents();
    fig.seconds = wall.elapsed() / 1000.0;
    fig.rssAfter = qav::test::residentMB();
    fig.logMB = double(log.size()) * 2 / (1024 * 1024);
    fig.boxMB = double(box.cachedChars()) * 2 / (1024 * 1024);
    fig.appendEarly = median(earlyShort);
    fig.appendLate = median(lateShort);
    fig.appendLongEarly = median(earlyLong);
    fig.appendLongLate = median(lateLong);
    // Turns of the loop that did lay something out.
    const auto busy = [](std::vector<double> v) {
        v.erase(std::remove_if(v.begin(), v.end(), [](double us) { return us < 50; }), v.end());
        return median(v);
    };
    fig.catchUpEarly = busy(earlyTurn);
    fig.catchUpLate = busy(lateTurn);
    return fig;
}

void BM_BigLog(benchmark::State& state) {
    Figures fig;
    for (auto _ : state)
        fig = run();
    state.counters["rss_before_MB"] = fig.rssBefore;
    state.counters["rss_warm_MB"] = fig.rssWarm;
    state.counters["rss_after_MB"] = fig.rssAfter;
    state.counters["log_text_MB"] = fig.logMB;
    std::printf(
        "%d frames (one in %d of 4096 bytes, the rest 33) with two reply lines each, in %.1f s\n"
        "resident: %.1f MB before, after %d frames %.1f MB, at the end %.1f MB (%+.1f MB since "
        "frame %d); log text %.1f MB, the box's cache %.1f MB\n"
        "append, median CPU: 33-byte entry %.1f us first / %.1f us last; 4096-byte entry "
        "%.0f us first / %.0f us last\n"
        "box catching up (a loop turn that lays out text), median: %.0f us first / %.0f us "
        "last; longest turn %.1f ms\n",
        kFrames, kLongFrameEvery, fig.seconds, fig.rssBefore, kSampleFrames, fig.rssWarm,
        fig.rssAfter, fig.rssAfter - fig.rssWarm, kSampleFrames, fig.logMB, fig.boxMB,
        fig.appendEarly, fig.appendLate, fig.appendLongEarly, fig.appendLongLate, fig.catchUpEarly,
        fig.catchUpLate, fig.catchUpMax / 1000);
}
BENCHMARK(BM_BigLog)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    runBenchmarksInApplication(argc, argv);
    return 0;
}
