// Days of a fast chip: a million work-log entries of a crash test's shape
// going through the window's path. Per step the session sends a synthesis
// frame of a few hundred bytes (to a closed port: no chip answers it here);
// the log's box is shown, at the end of the log, and the event loop runs
// after every step. Each step is one entry. Two paces:
//   steps_per_catch_up 0: the box takes the entries in on its own timer, many
//     steps at a time, as in a flood of replies;
//   steps_per_catch_up 4: the box is brought up to date every fourth step,
//     near a chip's pace, where it lays out nearly every entry.
//
// Reported: the resident memory (VmRSS) after the first 100,000 entries and at
// the end, the growth between (it must stay under 2 MiB: memory does not
// grow with the log; what grows at all is the index's checkpoints, 24 bytes
// per 64 KiB of log), the heap in use by the allocator's own count, and the
// time.
#include "common/load_helpers.h"
#include "logview/work_log_view.h"
#include "qt_bench_main.h"
#include "session/console_session.h"
#include "session/message_sink.h"
#include "worklog/work_log.h"

#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <malloc.h>
#include <vector>

namespace {

constexpr qint64 kEntries = 1'000'000;
constexpr qint64 kWarmEntries = 100'000; // the first figure is taken here
constexpr qint64 kSampleEvery = 100'000;
constexpr int kEntriesPerStep = 1;
constexpr double kAllowedGrowthMiB = 2;

// Synthesis frames as the crash test sends them: FD, the length, command 01,
// GBK, and a few hundred bytes of text, a different length each step.
std::vector<QByteArray> crashFrames() {
    const QByteArray text = QByteArray::fromHex("BBB6D3ADB9DBBFB4D3EFD2F4BACFB3C9CFB5CDB3") +
                            "The quick brown fox jumps over the lazy dog. 0123456789 ";
    std::vector<QByteArray> frames;
    for (int length : {180, 260, 333, 410, 512, 299, 377, 451}) {
        QByteArray body = text.repeated(length / text.size() + 1).left(length);
        QByteArray frame;
        frame += char(0xFD);
        frame += char((body.size() + 2) >> 8);
        frame += char((body.size() + 2) & 0xFF);
        frame += char(0x01);
        frame += char(0x01);
        frame += body;
        frames.push_back(frame);
    }
    return frames;
}

double heapInUseMiB() {
    const struct mallinfo2 m = mallinfo2();
    return double(m.uordblks + m.hblkhd) / (1024 * 1024);
}

struct Sample {
    qint64 entries = 0;
    double rssMiB = 0, heapMiB = 0;
};

struct Figures {
    std::vector<Sample> samples;
    double warmRss = 0, endRss = 0, warmHeap = 0, endHeap = 0, seconds = 0, logMiB = 0;
};

Figures run(qint64 entries, int stepsPerCatchUp) {
    Figures fig;
    qav::session::RecordingMessageSink messages;
    qav::session::ConsoleSession session(messages);
    const qav::worklog::WorkLog& log = session.workLog();
    qav::logview::WorkLogView box(log);
    box.resize(640, 300);
    box.show();
    QApplication::processEvents();

    const std::vector<QByteArray> frames = crashFrames();
    const auto sample = [&](qint64 n) {
        box.flush();
        QApplication::processEvents();
        fig.samples.push_back({n, qav::test::residentMB(), heapInUseMiB()});
    };
    QElapsedTimer wall;
    wall.start();
    qint64 done = 0;
    for (qint64 step = 0; done < entries; ++step) {
        session.sendFrame(frames[std::size_t(step) % frames.size()]);
        done += kEntriesPerStep;
        if (stepsPerCatchUp > 0 && step % stepsPerCatchUp == 0)
            box.flush();
        QApplication::processEvents();
        if (done % kSampleEvery < kEntriesPerStep || done >= entries)
            sample(done);
        if (fig.warmRss == 0 && done >= kWarmEntries) {
            fig.warmRss = fig.samples.back().rssMiB;
            fig.warmHeap = fig.samples.back().heapMiB;
        }
    }
    fig.seconds = wall.elapsed() / 1000.0;
    fig.endRss = fig.samples.back().rssMiB;
    fig.endHeap = fig.samples.back().heapMiB;
    fig.logMiB = double(log.size()) / (1024 * 1024);
    if (!box.isFollowing() || box.pendingViewChars() != 0)
        std::printf("the box did not follow the log to its end\n");
    return fig;
}

void BM_MillionEntries(benchmark::State& state) {
    const qint64 entries = state.range(0);
    Figures fig;
    for (auto _ : state)
        fig = run(entries, int(state.range(1)));
    const double growth = fig.endRss - fig.warmRss;
    state.counters["rss_warm_MiB"] = fig.warmRss;
    state.counters["rss_end_MiB"] = fig.endRss;
    state.counters["rss_growth_MiB"] = growth;
    std::printf("%lld entries (%lld crash steps) through the session and the box in %.1f s; "
                "log %.0f M characters\n",
                static_cast<long long>(entries), static_cast<long long>(entries / kEntriesPerStep),
                fig.seconds, fig.logMiB);
    for (const Sample& s : fig.samples)
        std::printf("  %8lld entries: resident %.2f MiB, heap in use %.2f MiB\n",
                    static_cast<long long>(s.entries), s.rssMiB, s.heapMiB);
    std::printf("resident after %lld entries %.2f MiB, at the end %.2f MiB: growth %.2f MiB "
                "(heap in use %+.2f MiB); allowed %.0f MiB: %s\n",
                static_cast<long long>(kWarmEntries), fig.warmRss, fig.endRss, growth,
                fig.endHeap - fig.warmHeap, kAllowedGrowthMiB,
                growth < kAllowedGrowthMiB ? "flat" : "GROWS");
    if (growth >= kAllowedGrowthMiB)
        state.SkipWithError("resident memory grows with the log");
}
BENCHMARK(BM_MillionEntries)
    ->ArgNames({"entries", "steps_per_catch_up"})
    ->Args({kEntries, 0})
    ->Args({kEntries, 4})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    runBenchmarksInApplication(argc, argv);
    return 0;
}
