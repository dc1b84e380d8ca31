// The work-log box over a log of a gigabyte of text (QAV_LOG_MB sets another
// size): the longest stall of the event loop while entries arrive at 1,000 a
// second, and while the box is scrolled from the first line to the last by the
// scroll bar, by pages and by the wheel; and what emptying it costs. Entries
// are those of bench_load_log: 99 of the hex area's 33-byte frame to one
// 4096-byte synthesis frame. They reach the log as in a run, through the
// console session: each frame sent to a closed port, which drops it. (No
// chip answers a closed port; the two reply lines it would add to each entry
// are 52 of its bytes.)
//
// With QAV_SHOT=file.png the console is pictured scrolled to the middle of
// the log.
#include "app/form1.h"
#include "common/load_helpers.h"
#include "qt_bench_main.h"
#include "session/message_sink.h"
#include "worklog/work_log.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

constexpr double kTargetMs = 10;
constexpr int kArrivalSeconds = 5;
constexpr int kScrollSteps = 2000;

double logMB(const qav::worklog::WorkLog& log) {
    return double(log.size()) * 2 / (1024 * 1024);
}

using qav::test::StallProbe;

// The n-th frame of the cycle of 100.
QByteArray entryFrame(int n) {
    if (n % 100 != 99)
        return QByteArray::fromHex(
            "FD001E0101BBB6D3ADB9DBBFB4D3EFD2F4BACFB3C9CFB5CDB3B5C4D1DDCABEA3A1");
    QByteArray longFrame(4096, '\0');
    longFrame[0] = char(0xFD);
    longFrame[1] = char(0x0F);
    longFrame[2] = char(0xFD);
    longFrame[3] = longFrame[4] = 0x01;
    for (int i = 5; i < longFrame.size(); ++i)
        longFrame[i] = char(0xB0 + i % 0x40);
    return longFrame;
}

// One entry as a run logs it.
void logEntry(qav::session::ConsoleSession& session, const QByteArray& frame) {
    session.sendFrame(frame);
}

// Fills entry by entry, as a long run would have logged it.
void fill(qav::session::ConsoleSession& session, double megabytes) {
    const QByteArray shortFrame = entryFrame(0);
    const QByteArray longFrame = entryFrame(99);
    for (int n = 0; logMB(session.workLog()) < megabytes; ++n)
        logEntry(session, n % 100 == 99 ? longFrame : shortFrame);
}

// Runs `step` every `intervalMs` until it returns false, on the event loop,
// with the probe watching.
void runSteps(StallProbe& probe, int intervalMs, const std::function<bool()>& step) {
    bool done = false;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticks, &QTimer::timeout, [&] { done = done || !step(); });
    probe.start();
    ticks.start(intervalMs);
    qav::test::runUntil([&] { return done; }, 600'000);
    ticks.stop();
    qav::test::runFor(50); // the last repaint
    probe.stop();
}

struct Figures {
    double logMB = 0, fillSeconds = 0, rssEmpty = 0, rssFilled = 0, rssAfter = 0;
    double arrivalMs = 0, arrivalCpuMs = 0, appendMaxMs = 0;
    int arrivals = 0, paints = 0;
    double barMs = 0, pageMs = 0, wheelMs = 0, clearMs = 0;
    qint64 cacheChars = 0;
};

void arrivals(qav::app::Form1& f, Figures& fig) {
    const QByteArray shortFrame = entryFrame(0);
    const QByteArray longFrame = entryFrame(99);
    int n = 0;
    StallProbe probe;
    runSteps(probe, 1, [&] {
        QElapsedTimer t;
        t.start();
        logEntry(f.session(), n % 100 == 99 ? longFrame : shortFrame);
        fig.appendMaxMs = std::max(fig.appendMaxMs, t.nsecsElapsed() / 1e6);
        return ++n < kArrivalSeconds * 1000;
    });
    fig.arrivals = n;
    fig.arrivalMs = probe.maxWallMs;
    fig.arrivalCpuMs = probe.maxCpuMs;
}

void scrolling(qav::app::Form1& f, Figures& fig) {
    qav::logview::WorkLogView& box = *f.Text4;
    QScrollBar* bar = box.verticalScrollBar();
    StallProbe probe;
    int i = 0;
    bar->setValue(0);
    runSteps(probe, 2, [&] {
        bar->setValue(int(qint64(bar->maximum()) * ++i / kScrollSteps));
        return i < kScrollSteps;
    });
    fig.barMs = probe.maxWallMs;
    // Pages and the wheel from the top, as far as the steps take them.
    bar->setValue(0);
    i = 0;
    runSteps(probe, 2, [&] {
        QKeyEvent page(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
        QApplication::sendEvent(&box, &page);
        return ++i < kScrollSteps;
    });
    fig.pageMs = probe.maxWallMs;
    i = 0;
    runSteps(probe, 2, [&] {
        QWheelEvent wheel(QPointF(20, 20), box.mapToGlobal(QPointF(20, 20)), {}, QPoint(0, -120),
                          Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(box.viewport(), &wheel);
        return ++i < kScrollSteps;
    });
    fig.wheelMs = probe.maxWallMs;
}

void picture(qav::app::Form1& f) {
    const QString path = qEnvironmentVariable("QAV_SHOT");
    if (path.isEmpty())
        return;
    QScrollBar* bar = f.Text4->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    qav::test::runFor(100);
    if (!f.grab().save(path))
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
}

Figures run() {
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    Figures fig;
    fig.rssEmpty = qav::test::residentMB();
    qav::session::ConsoleSession::Options options;
    options.systemPorts = false;
    qav::app::Form1 f(nullptr, std::make_unique<qav::session::RecordingMessageSink>(), options);
    f.Form_Load();
    f.show();
    qav::test::runFor(200);

    QElapsedTimer took;
    took.start();
    const double megabytes =
        qEnvironmentVariableIsSet("QAV_LOG_MB") ? qEnvironmentVariableIntValue("QAV_LOG_MB") : 1024;
    fill(f.session(), megabytes);
    f.workLogView().flush();
    qav::test::runFor(100);
    fig.fillSeconds = took.elapsed() / 1000.0;
    fig.logMB = logMB(f.workLog());
    fig.rssFilled = qav::test::residentMB();

    struct Paints : QObject {
        int n = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            n += e->type() == QEvent::Paint;
            return false;
        }
    } paints;
    f.Text4->viewport()->installEventFilter(&paints);
    arrivals(f, fig);
    fig.paints = paints.n;
    scrolling(f, fig);
    picture(f);
    fig.cacheChars = f.Text4->cachedChars();
    fig.rssAfter = qav::test::residentMB();

    took.restart();
    f.Command2->click();
    f.Text4->viewport()->repaint();
    fig.clearMs = took.nsecsElapsed() / 1e6;
    QDir::setCurrent(previous);
    return fig;
}

void BM_LogViewStalls(benchmark::State& state) {
    Figures fig;
    for (auto _ : state)
        fig = run();
    state.counters["log_MB"] = fig.logMB;
    const auto verdict = [](double ms) { return ms <= kTargetMs ? "ok" : "OVER"; };
    std::printf(
        "log of %.0f MB of text, filled in %.1f s; resident %.1f MB empty, %.1f MB filled, "
        "%.1f MB after the run; the box holds %lld laid-out characters\n"
        "%d entries at 1,000 a second: longest stall %.1f ms (%s; %.1f ms of processor time), "
        "longest append %.1f ms, %d repaints\n"
        "top to bottom, longest stall: scroll bar %.1f ms (%s), pages %.1f ms (%s), wheel %.1f ms "
        "(%s)\n"
        "clearing, with the box emptied and repainted: %.1f ms\n",
        fig.logMB, fig.fillSeconds, fig.rssEmpty, fig.rssFilled, fig.rssAfter,
        static_cast<long long>(fig.cacheChars), fig.arrivals, fig.arrivalMs, verdict(fig.arrivalMs),
        fig.arrivalCpuMs, fig.appendMaxMs, fig.paints, fig.barMs, verdict(fig.barMs), fig.pageMs,
        verdict(fig.pageMs), fig.wheelMs, verdict(fig.wheelMs), fig.clearMs);
}
BENCHMARK(BM_LogViewStalls)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    runBenchmarksInApplication(argc, argv);
    return 0;
}
