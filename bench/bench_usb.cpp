// The USB link's timing.
//
// P4: a 517-byte synthesis frame (16 full packets and a last one) over the
//     bridge emulator answering each packet after 1 ms, timed from the
//     link's writeFrame call to the last report written. Budget: 16 x 1 ms + 4 ms.
//
// P5: the longest stall of the window's event loop while the bridge is open
//     and silent for 5 s, with the console polling it as it does from
//     start-up; next to it the same 5 s with a poll that blocks up to 100 ms
//     waiting for an input report on every 1 ms timer tick.

#include "app/form1.h"
#include "chip_model.h"
#include "emulated_bridge.h"
#include "link/usb_link.h"
#include "protocol/frame.h"
#include "qt_bench_main.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

using namespace qav;

namespace {

constexpr int kAckDelayMs = 1;
constexpr double kP4BudgetMs = 16 * kAckDelayMs + 4;
constexpr int kSilentMs = 5000;

QByteArray synthesisFrame517() {
    return *protocol::parameterFrame(protocol::Command::Synthesize, 1, QByteArray(512, 'a'));
}

void runEventsFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void BM_P4_Frame517OverBridge(benchmark::State& state) {
    sim::EmulatedBridge bridge;
    bridge.setAckDelay(kAckDelayMs);
    bridge.chip().setTimeScale(1000);
    // The link takes the bridge's acknowledgements itself.
    link::UsbLink usb(&bridge);
    int taken = 0;
    QObject::connect(&usb, &link::Link::frameTaken, [&] { ++taken; });
    int written = 0;
    QElapsedTimer clock;
    qint64 lastWriteNs = 0;
    QObject::connect(&bridge, &sim::EmulatedBridge::reportWritten, [&] {
        ++written;
        lastWriteNs = clock.nsecsElapsed();
    });
    const QByteArray frame = synthesisFrame517();
    std::vector<double> times;
    QEventLoop loop;
    for (auto _ : state) {
        written = 0;
        const int takenBefore = taken;
        clock.start();
        usb.writeFrame(frame);
        while (written < 17)
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        const double ms = lastWriteNs / 1e6;
        times.push_back(ms);
        state.SetIterationTime(ms / 1e3);
        // The last packet's 0x5E frees the link for the next frame; let the
        // bridge's other answers come in too.
        while (taken == takenBefore)
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        runEventsFor(5);
    }
    std::sort(times.begin(), times.end());
    state.counters["budget_ms"] = kP4BudgetMs;
    state.counters["median_ms"] = times[times.size() / 2];
    state.counters["p90_ms"] = times[times.size() * 9 / 10];
    state.counters["worst_ms"] = times.back();
}
BENCHMARK(BM_P4_Frame517OverBridge)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(100);

struct Stalls {
    double longestMs = 0;
    int over5Ms = 0; // how often the loop was held up more than 5 ms
};

// Runs the event loop for kSilentMs and measures the gaps between the ticks
// of a 1 ms probe timer, less the interval itself.
Stalls measureStalls() {
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QElapsedTimer clock;
    qint64 last = 0;
    Stalls stalls;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const double stallMs = std::max(0.0, (now - last) / 1e6 - 1.0);
        stalls.longestMs = std::max(stalls.longestMs, stallMs);
        stalls.over5Ms += stallMs > 5 ? 1 : 0;
        last = now;
    });
    clock.start();
    probe.start();
    runEventsFor(kSilentMs);
    return stalls;
}

void report(benchmark::State& state, const Stalls& stalls) {
    state.counters["stall_ms"] = stalls.longestMs;
    state.counters["stalls_over_5ms"] = stalls.over5Ms;
}

// The machine's own noise: the same probe with nothing else running.
void BM_P5_EmptyLoopStall(benchmark::State& state) {
    Stalls stalls;
    for (auto _ : state)
        stalls = measureStalls();
    report(state, stalls);
}
BENCHMARK(BM_P5_EmptyLoopStall)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_P5_SilentBridgeStall(benchmark::State& state) {
    // The console starts in a directory of its own: start-up creates files.
    QTemporaryDir dir;
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    {
        app::Form1 form{std::make_unique<sim::EmulatedBridge>(),
                        std::make_unique<session::RecordingMessageSink>()};
        form.Form_Load();
        form.Option4_Click(); // the USB link, with the bridge found and open
        Stalls stalls;
        for (auto _ : state)
            stalls = measureStalls();
        report(state, stalls);
        state.counters["budget_ms"] = 10;
    }
    QDir::setCurrent(oldDir);
}
BENCHMARK(BM_P5_SilentBridgeStall)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same silence with a poll that waits for a report the way the first
// design did: every 1 ms tick starts a read and waits up to 100 ms for it.
void BM_P5_BlockingPollStall(benchmark::State& state) {
    int fds[2];
    if (pipe(fds) != 0) {
        state.SkipWithError("pipe");
        return;
    }
    QTimer timer2;
    timer2.setInterval(1);
    QObject::connect(&timer2, &QTimer::timeout, [&] {
        pollfd silent{fds[0], POLLIN, 0};
        ::poll(&silent, 1, 100); // no report comes: the full 100 ms pass
    });
    timer2.start();
    Stalls stalls;
    for (auto _ : state)
        stalls = measureStalls();
    timer2.stop();
    close(fds[0]);
    close(fds[1]);
    report(state, stalls);
}
BENCHMARK(BM_P5_BlockingPollStall)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    runBenchmarksInApplication(argc, argv);
    return 0;
}
