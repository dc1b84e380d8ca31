// What one work-log entry costs as the log grows: the entry of a 4096-byte
// frame appended at the end of the log (ours), against rewriting the whole
// text of the box with the entry added (the naive way). Each case fills the
// log to N - 1 entries, then times the N-th (and a few more), repaint included.
//
// At the end the ratio of the 10,000th to the 100th entry is printed; ours
// must stay at or under 1.5. The naive way is timed at smaller sizes only:
// its cost grows with the log, and at 10,000 entries it would need minutes.
#include "app/work_log.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <memory>

namespace {

constexpr int kFrameSize = 4096;
constexpr int kTimedEntries = 10;

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

void BM_AppendEntry(benchmark::State& state) {
    const int n = int(state.range(0));
    const QByteArray frame = sampleFrame();
    auto box = shownBox();
    qav::app::WorkLog log(box.get());
    for (int i = 1; i < n; ++i)
        log.appendFrame(frame);
    QApplication::processEvents();
    for (auto _ : state) {
        log.appendFrame(frame);
        QApplication::processEvents();
    }
    state.counters["log_MB"] = double(log.text().size()) * 2 / 1e6;
}

void BM_RewriteWholeText(benchmark::State& state) {
    const int n = int(state.range(0));
    const QByteArray frame = sampleFrame();
    auto box = shownBox();
    const QString entry = qav::app::WorkLog::frameEntry(frame, QString());
    QString text;
    for (int i = 1; i < n; ++i)
        text += entry;
    box->setPlainText(text);
    QApplication::processEvents();
    for (auto _ : state) {
        text += entry;
        box->setPlainText(text);
        box->moveCursor(QTextCursor::End);
        QApplication::processEvents();
    }
    state.counters["log_MB"] = double(text.size()) * 2 / 1e6;
}

BENCHMARK(BM_AppendEntry)
    ->Arg(100)
    ->Arg(10000)
    ->Iterations(kTimedEntries)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RewriteWholeText)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(3000)
    ->Iterations(kTimedEntries)
    ->Unit(benchmark::kMicrosecond);

// Keeps the per-entry times so the ratio can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string name = run.benchmark_name();
            const auto slash = name.find('/');
            const int n = std::stoi(name.substr(slash + 1));
            const bool naive = name.rfind("BM_RewriteWholeText", 0) == 0;
            times[{naive, n}] = run.GetAdjustedRealTime();
            cpuTimes[{naive, n}] = run.GetAdjustedCPUTime();
        }
    }
    std::map<std::pair<bool, int>, double> times;
    std::map<std::pair<bool, int>, double> cpuTimes;
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Wall time and processor time: on a busy machine the second is steadier.
    for (const auto* t : {&reporter.times, &reporter.cpuTimes}) {
        const char* kind = t == &reporter.times ? "wall" : "cpu";
        const auto at = [&](bool naive, int n) {
            const auto it = t->find({naive, n});
            return it == t->end() ? 0.0 : it->second;
        };
        if (at(false, 100) > 0 && at(false, 10000) > 0) {
            const double ratio = at(false, 10000) / at(false, 100);
            std::printf("%s, append at the end: entry 100 %.0f us, entry 10000 %.0f us, "
                        "ratio %.2f (%s)\n",
                        kind, at(false, 100), at(false, 10000), ratio,
                        ratio <= 1.5 ? "ok" : "TOO SLOW");
        }
        if (at(true, 100) > 0 && at(true, 3000) > 0)
            std::printf("%s, rewrite whole text: entry 100 %.0f us, entry 1000 %.0f us, "
                        "entry 3000 %.0f us, ratio 3000/100 %.1f\n",
                        kind, at(true, 100), at(true, 1000), at(true, 3000),
                        at(true, 3000) / at(true, 100));
    }
    return 0;
}
