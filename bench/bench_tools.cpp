// How long the window's event loop is held up while the test sequences run
// against the chip emulator at full speed: script 123, interrupted play and
// the crash test, ten seconds each. A 1 ms probe timer measures the longest
// gap between its ticks. For comparison, the same script played with
// blocking waits holds the loop for as long as its longest wait.
#include "app/form1.h"
#include "common/log_helpers.h"
#include "logview/work_log_view.h"
#include "qt_bench_main.h"
#include "session/message_sink.h"
#include "tools/crash_test.h"
#include "tools/test_steps.h"
#include "worklog/work_log.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>

namespace {

using namespace qav;

constexpr int kRunMs = 10000;
constexpr double kFullSpeed = 1000; // emulator and sequences alike

struct Console {
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    QProcess emulator;
    std::unique_ptr<app::Form1> form;

    explicit Console(const std::function<void(const QString&)>& prepare = {}) {
        QDir::setCurrent(dir.path());
        if (prepare)
            prepare(dir.path());
        emulator.start(QCoreApplication::applicationDirPath() + QStringLiteral("/qav7120-emulator"),
                       {QStringLiteral("--dir"), dir.path(), QStringLiteral("--time-scale"),
                        QString::number(kFullSpeed), QStringLiteral("--quiet")});
        const QString link = dir.filePath(QStringLiteral("COM1"));
        QElapsedTimer t;
        t.start();
        while (!QFileInfo(link).isSymLink() && t.elapsed() < 5000)
            QTest::qWait(10);
        session::ConsoleSession::Options options;
        options.sequenceTimeScale = kFullSpeed;
        form = std::make_unique<app::Form1>(
            nullptr, std::make_unique<session::RecordingMessageSink>(), options);
        form->Form_Load();
        // The serial link gives each frame its time on the line; at the
        // fastest speed the line holds the run up least.
        form->session().setLineSettings(QStringLiteral("115200,N,8,1"));
    }
    ~Console() {
        form.reset();
        emulator.terminate();
        emulator.waitForFinished(3000);
        QDir::setCurrent(previous);
    }
};

struct Stall {
    qint64 longestNs = 0;    // wall time between two probe ticks
    qint64 longestCpuNs = 0; // CPU time this thread spent in one such gap
    qint64 ticks = 0;
};

// CPU time of the calling thread: a gap's CPU share is what the console's own
// work cost, whatever else the machine was running meanwhile.
qint64 threadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Runs the event loop for kRunMs with a 1 ms probe and returns its longest gap.
Stall probe(int runMs) {
    Stall s;
    QElapsedTimer gap;
    qint64 cpuAtTick = threadCpuNs();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        s.longestNs = std::max(s.longestNs, gap.nsecsElapsed());
        const qint64 cpu = threadCpuNs();
        s.longestCpuNs = std::max(s.longestCpuNs, cpu - cpuAtTick);
        cpuAtTick = cpu;
        gap.restart();
        ++s.ticks;
    });
    QEventLoop loop;
    QTimer::singleShot(runMs, &loop, &QEventLoop::quit);
    gap.start();
    ticker.start(1);
    loop.exec(); // the bench's own loop, standing in for the application's
    ticker.stop();
    s.longestNs = std::max(s.longestNs, gap.nsecsElapsed());
    return s;
}

void report(benchmark::State& state, const Stall& s, app::Form1& f) {
    state.counters["longest_stall_ms"] = double(s.longestNs) / 1e6;
    state.counters["longest_busy_ms"] = double(s.longestCpuNs) / 1e6;
    state.counters["probe_ticks"] = double(s.ticks);
    state.counters["frames_sent"] =
        double(test::allText(f.workLog()).count(QStringLiteral("----> ")));
}

void BM_Script123(benchmark::State& state) {
    for (auto _ : state) {
        Console c;
        c.form->Command14_Click();
        const Stall s = probe(kRunMs);
        c.form->Command14_Click();
        report(state, s, *c.form);
    }
}

void BM_InterruptedPlay(benchmark::State& state) {
    for (auto _ : state) {
        Console c;
        c.form->Command17_Click();
        c.form->Text6->setText(QStringLiteral("1000"));
        c.form->Text7->setText(QStringLiteral("100"));
        c.form->Command23_Click();
        const Stall s = probe(kRunMs);
        c.form->Command23_Click();
        report(state, s, *c.form);
    }
}

void BM_CrashTest(benchmark::State& state) {
    for (auto _ : state) {
        Console c([](const QString& dir) {
            QStringEncoder gbk("GBK");
            for (int i = 0; i < tools::kCrashTexts; ++i) {
                QFile f(QDir(dir).filePath(tools::crashTextFileName(i)));
                if (f.open(QIODevice::WriteOnly))
                    f.write(gbk.encode(QStringLiteral("死机测试，第%1个文本。Crash test text. ")
                                           .arg(i + 1)
                                           .repeated(40)));
            }
        });
        c.form->Command25_Click();
        const Stall s = probe(kRunMs);
        c.form->Check1->setChecked(false);
        report(state, s, *c.form);
        QFile results(QDir(c.dir.path()).filePath(QStringLiteral("死机测试文本-测试结果.txt")));
        results.open(QIODevice::ReadOnly);
        state.counters["crash_steps"] = double(results.readAll().count("\r\n"));
    }
}

// The naive way: the first steps of script 123 with blocking waits, cut short
// after about two seconds. The probe cannot tick while the thread sleeps.
void BM_Script123Blocking(benchmark::State& state) {
    for (auto _ : state) {
        Console c;
        Stall s;
        QElapsedTimer gap;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            s.longestNs = std::max(s.longestNs, gap.nsecsElapsed());
            gap.restart();
            ++s.ticks;
        });
        gap.start();
        ticker.start(1);
        QElapsedTimer run;
        run.start();
        for (const tools::TestStep& step : tools::script123()) {
            if (run.elapsed() > 2000)
                break;
            c.form->session().sendFrame(step.frame);
            std::this_thread::sleep_for(std::chrono::milliseconds(step.waitMs));
        }
        QTest::qWait(5);
        s.longestNs = std::max(s.longestNs, gap.nsecsElapsed());
        report(state, s, *c.form);
    }
}

BENCHMARK(BM_Script123)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InterruptedPlay)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CrashTest)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Script123Blocking)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    runBenchmarksInApplication(argc, argv);
    return 0;
}
