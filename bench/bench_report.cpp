// The report page of a night's run:
// - a synthesised 24-hour crash test (600,000 texts of 300 bytes, a 0x41 and a
//   0x4F each, five hangs, a link lost and back) becomes a page: target under
//   10 s and at most 200 MB resident (the peak while the report is made);
// - the page: target at most 8 MB, against a page with every frame a row;
// - the page opened and drawn in headless Chromium (from a file, offline):
//   target under 5 s, the browser's start included; the page's own time to
//   draw is shown beside it.
// The capture is written once, into a temporary folder, with the console's
// capture writer.
#include "report/report.h"
#include "report/report_page.h"
#include "report/run_analysis.h"
#include "worklog/capture_file.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

using namespace qav::report;

constexpr qint64 kFrames = 600'000;
constexpr qint64 kDayMs = 24 * 3600 * 1000;
constexpr qint64 kStepMs = kDayMs / kFrames; // 144 ms
constexpr qint64 kStartMs = 1796670000000;   // 2026-12-08 03:00 in China
constexpr int kHangEvery = 120'000;          // frames

QTemporaryDir& folder() {
    static QTemporaryDir dir;
    return dir;
}

QString capturePath() {
    return folder().filePath(QStringLiteral("LOG-capture-20261208-030000-1.pcapng"));
}

// A crash test whose chip takes 40 to 46 ms to take a text and 80 to 140 ms
// to speak it; every 120,000th text it hangs and is back four minutes later
// (its four minutes come on top of the day).
void writeNight() {
    static bool written = false;
    if (written)
        return;
    written = true;
    qav::worklog::CaptureFile capture;
    capture.open(capturePath());
    QByteArray frame = QByteArray::fromHex("FD012D0101");
    frame += QByteArray(300 - frame.size(), '\xB0');
    const QByteArray received = QByteArray::fromHex("41"), idle = QByteArray::fromHex("4F");
    auto at = [](qint64 ms) { return (kStartMs + ms) * 1000; };
    capture.event(QStringLiteral("测试开始 test=crash-test port=COM1 settings=9600,N,8,1"), at(0));
    qint64 t = 10;
    for (qint64 i = 0; i < kFrames; ++i, t += kStepMs) {
        capture.frameSent(frame, at(t));
        capture.serialReceived(received, at(t + 40 + i % 7));
        if (i % kHangEvery == kHangEvery / 2) {
            capture.event(
                QStringLiteral("芯片死机：第 %1 次，无回传 66 秒").arg(i / kHangEvery + 1),
                at(t + 66'000));
            capture.serialReceived(QByteArray::fromHex("4A"), at(t + 240'000));
            capture.event(
                QStringLiteral("芯片已恢复：第 %1 次，无回传 240 秒").arg(i / kHangEvery + 1),
                at(t + 240'001));
            t += 240'000;
            continue;
        }
        capture.serialReceived(idle, at(t + 80 + (i * 7919) % 61));
        if (i == kFrames / 3)
            capture.event(QStringLiteral("串口COM1已断开：设备已移除"), at(t + 100));
        if (i == kFrames / 3 + 100)
            capture.event(QStringLiteral("串口COM1已重新打开"), at(t + 100));
    }
    capture.event(QStringLiteral("停止"), at(t));
}

qint64 residentPeakKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const auto m = QRegularExpression(QStringLiteral("VmHWM:\\s+(\\d+) kB"))
                       .match(QString::fromLatin1(status.readAll()));
    return m.captured(1).toLongLong();
}

// The peak resident set starts again from what is resident now.
void resetResidentPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

struct BrowserTimes {
    double wallSeconds = -1;
    double drawSeconds = -1; // the page's own, from its start to its charts drawn
};

BrowserTimes openInChromium(const QString& page, int timeoutMs) {
    BrowserTimes times;
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        return times;
    QTemporaryDir profile;
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    p.start(chromium,
            {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
             QStringLiteral("--disable-gpu"), QStringLiteral("--disable-background-networking"),
             QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
             QStringLiteral("--no-first-run"), QStringLiteral("--window-size=1400,2400"),
             QStringLiteral("--user-data-dir=") + profile.path(), QStringLiteral("--dump-dom"),
             QUrl::fromLocalFile(page).toString()});
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return times;
    }
    times.wallSeconds = double(clock.elapsed()) / 1000;
    const auto m = QRegularExpression(QStringLiteral("<body [^>]*data-drawn-ms=\"(\\d+)\""))
                       .match(QString::fromUtf8(p.readAllStandardOutput()));
    if (m.hasMatch())
        times.drawSeconds = m.captured(1).toDouble() / 1000;
    return times;
}

// browserMs: how long the browser may take before it counts as not drawing
// the page at all (-1).
void report(benchmark::State& state, int columns, const char* name, int browserMs) {
    writeNight();
    const QString page = folder().filePath(QString::fromLatin1(name));
    qint64 peakKb = 0;
    for (auto _ : state) {
        resetResidentPeak();
        const qint64 before = residentPeakKb();
        CaptureRun run;
        if (const auto why = readCapture(capturePath(), run)) {
            state.SkipWithError(qPrintable(*why));
            return;
        }
        const qint64 frames = qint64(run.frames.size());
        const CapturePage reduced = pageOf(std::move(run), columns);
        QFile out(page);
        if (!out.open(QIODevice::WriteOnly) || out.write(reportPage({reduced}, {})) < 0) {
            state.SkipWithError("the page could not be written");
            return;
        }
        peakKb = residentPeakKb();
        state.counters["frames"] = double(frames);
        state.counters["hangs"] = double(reduced.run.hangs.size());
        state.counters["rss_peak_MB"] = double(peakKb) / 1024;
        state.counters["rss_added_MB"] = double(peakKb - before) / 1024;
    }
    state.counters["capture_MB"] = double(QFileInfo(capturePath()).size()) / (1 << 20);
    state.counters["page_MB"] = double(QFileInfo(page).size()) / (1 << 20);
    const BrowserTimes browser = openInChromium(page, browserMs);
    state.counters["chromium_s"] = browser.wallSeconds;
    state.counters["chromium_draw_s"] = browser.drawSeconds;
}

// Ours: the chart's columns keep each column's smallest, median and largest.
void BM_ReportOf24Hours(benchmark::State& state) {
    report(state, chartColumns(1), "reduced.html", 60'000);
}
// The naive page: every frame a row of the chart.
void BM_ReportEveryFrameARow(benchmark::State& state) {
    report(state, int(kFrames) + 1, "every-frame.html", 30'000);
}

} // namespace

BENCHMARK(BM_ReportOf24Hours)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_ReportEveryFrameARow)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK_MAIN();
