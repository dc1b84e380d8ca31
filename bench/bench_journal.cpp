// The work log kept in its journal, measured without a view:
// - what an entry costs with the journal, against the log as it was before
//   (the whole text in a QString and a vector of every line start), for a
//   33-byte and a 4096-byte frame entry; the journal must add under 20%;
// - the resident memory after 100,000 frames (as bench_load_log logs them)
//   and after 1 GB of log text, over the empty log; target 64 MB at most;
// - the 1,000,000th entry against the 100th; target 1.2x at most;
// - reading a run of consecutive lines anywhere in the 1 GB log;
// - "清空" of the 1 GB log (target 50 ms), the export at close of a 100 MB
//   log (target 1 s), and the recovery of a 100 MB journal at start-up
//   (target 1 s), from the page cache and from the disk;
// - what the capture (CaptureFile) adds per frame, beside the log's entry,
//   for a 4-byte and a 4096-byte frame (target under 3.5 us for 4 bytes, 1%
//   of the frame's time on the line at 115200 baud), and the bytes each
//   takes on disk.
#include "bench_frames.h"
#include "common/load_helpers.h"
#include "common/log_helpers.h"
#include "qt_bench_main.h"
#include "worklog/capture_file.h"
#include "worklog/journal.h"
#include "worklog/work_log.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using qav::bench::cpuMicros;
using qav::bench::hexAreaFrame;
using qav::bench::synthesisFrame;

using qav::worklog::CaptureFile;
using qav::worklog::WorkLog;

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

const QString& replies() {
    static const QString r =
        QStringLiteral("<---- 返回：41  接收成功\r\n<---- 返回：4F  芯片空闲\r\n");
    return r;
}

// A frame's entry as the log built it before: a QString, byte by byte.
QString entryAsBefore(QByteArrayView frame) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    QString entry;
    entry.reserve(32 + frame.size() * 3);
    entry += QStringLiteral("发出一帧，字节数 ");
    entry += QLatin1Char(' ');
    entry += QString::number(frame.size());
    entry += QLatin1String("\r\n----> ");
    for (const char c : frame) {
        const auto b = static_cast<unsigned char>(c);
        entry += QLatin1Char(kDigits[b >> 4]);
        entry += QLatin1Char(kDigits[b & 0x0F]);
        entry += QLatin1Char(' ');
    }
    entry += QLatin1String("\r\n");
    return entry;
}

// The log as it was: the whole text, and where every line starts.
class InMemoryLog {
public:
    void appendFrame(QByteArrayView frame) { append(entryAsBefore(frame)); }
    void append(const QString& text) {
        const qsizetype from = text_.size();
        text_ += text;
        for (qsizetype i = from; i < text_.size(); ++i) {
            const QChar c = text_.at(i);
            if (c == QLatin1Char('\n')) {
                if (i > 0 && text_.at(i - 1) == QLatin1Char('\r') && starts_.back() == i)
                    starts_.back() = i + 1;
                else
                    starts_.push_back(i + 1);
            } else if (c == QLatin1Char('\r')) {
                starts_.push_back(i + 1);
            }
        }
    }

private:
    QString text_;
    std::vector<qint64> starts_{0};
};

template <class Log> double entryMicros(Log& log, const QByteArray& frame, int entries) {
    std::vector<double> t;
    t.reserve(std::size_t(entries));
    for (int i = 0; i < entries; ++i) {
        const double t0 = cpuMicros();
        log.appendFrame(frame);
        t.push_back(cpuMicros() - t0);
    }
    return median(t);
}

void BM_JournalBigLog(benchmark::State& state) {
    const QByteArray shortFrame = hexAreaFrame(), longFrame = synthesisFrame();
    for (auto _ : state) {
        QTemporaryDir dir;
        const double rss0 = qav::test::residentMB();
        WorkLog log;
        if (log.openJournal(dir.path()))
            state.SkipWithError("no journal");
        for (int i = 0; i < 100'000; ++i) {
            log.appendFrame(i % 100 == 99 ? longFrame : shortFrame);
            log.append(replies());
        }
        const double rss100k = qav::test::residentMB();
        const double text100k = double(log.size()) * 2 / (1024 * 1024);
        QElapsedTimer wall;
        wall.start();
        while (log.size() < 1'000'000'000) {
            log.appendFrame(longFrame);
            log.append(replies());
        }
        const double fillS = wall.elapsed() / 1000.0;
        const double rss1g = qav::test::residentMB();
        std::printf("resident over the empty log: %.1f MB after 100,000 frames (%.1f MB of "
                    "text as UTF-16), %.1f MB after %.2f G characters (target 64 MB); "
                    "filled in %.1f s\n",
                    rss100k - rss0, text100k, rss1g - rss0, double(log.size()) / 1e9, fillS);

        // Runs of 60 consecutive lines, as a view paints them, at random places.
        std::vector<double> cold, warm;
        auto* random = QRandomGenerator::global();
        for (int run = 0; run < 200; ++run) {
            const qint64 first = random->bounded(log.lineCount() - 60);
            for (int pass = 0; pass < 2; ++pass) {
                const double t0 = cpuMicros();
                qint64 chars = 0;
                for (qint64 l = first; l < first + 60; ++l)
                    chars += log.line(l).size() + log.lineStart(l) % 2;
                benchmark::DoNotOptimize(chars);
                (pass ? warm : cold).push_back((cpuMicros() - t0) / 60);
            }
        }
        const double rssRead = qav::test::residentMB();
        std::printf("line(i) and lineStart(i), one visible line: %.1f us first paint, %.1f us "
                    "again (medians; lines of up to 12,300 characters); resident after "
                    "reading %.1f MB over the empty log\n",
                    median(cold), median(warm), rssRead - rss0);

        wall.restart();
        log.clear();
        const double clearMs = double(wall.nsecsElapsed()) / 1e6;
        std::printf("clear of the 1 GB log: %.2f ms (target 50 ms)\n", clearMs);
        // The same 100,000 frames in the log as it was, for comparison.
        {
            const double before = qav::test::residentMB();
            InMemoryLog old;
            for (int i = 0; i < 100'000; ++i) {
                old.appendFrame(i % 100 == 99 ? longFrame : shortFrame);
                old.append(replies());
            }
            std::printf("the log as it was, the same 100,000 frames: %.1f MB more resident\n",
                        qav::test::residentMB() - before);
        }
        state.counters["rss_100k_MB"] = rss100k - rss0;
        state.counters["rss_1G_MB"] = rss1g - rss0;
        state.counters["clear_ms"] = clearMs;
    }
}
BENCHMARK(BM_JournalBigLog)->Iterations(1)->Unit(benchmark::kSecond);

void BM_JournalAppendCost(benchmark::State& state) {
    const QByteArray frames[] = {hexAreaFrame(), synthesisFrame()};
    const int counts[] = {200'000, 20'000};
    for (auto _ : state) {
        for (int k = 0; k < 2; ++k) {
            // Alternating rounds, so that a busy moment of the machine
            // weighs on both alike.
            std::vector<double> before, now;
            for (int round = 0; round < 4; ++round) {
                InMemoryLog old;
                before.push_back(entryMicros(old, frames[k], counts[k] / 4));
                QTemporaryDir dir;
                WorkLog log;
                if (log.openJournal(dir.path()))
                    state.SkipWithError("no journal");
                now.push_back(entryMicros(log, frames[k], counts[k] / 4));
            }
            const double b = median(before), n = median(now);
            std::printf("%4d-byte frame entry: %.2f us before, %.2f us with the journal: "
                        "%+.0f%% (target under +20%%)\n",
                        int(frames[k].size()), b, n, (n / b - 1) * 100);
            state.counters[k ? "long_ratio" : "short_ratio"] = n / b;
        }
    }
}
BENCHMARK(BM_JournalAppendCost)->Iterations(1)->Unit(benchmark::kSecond);

void BM_JournalMillionthEntry(benchmark::State& state) {
    const QByteArray frame = hexAreaFrame();
    for (auto _ : state) {
        QTemporaryDir dir;
        WorkLog log;
        if (log.openJournal(dir.path()))
            state.SkipWithError("no journal");
        std::vector<double> early, late;
        for (int i = 1; i <= 1'000'199; ++i) {
            const double t0 = cpuMicros();
            log.appendFrame(frame);
            const double t = cpuMicros() - t0;
            if (i >= 100 && i < 300)
                early.push_back(t);
            else if (i >= 1'000'000)
                late.push_back(t);
        }
        const double ratio = median(late) / median(early);
        std::printf("entry 1,000,000 against entry 100 (medians of 200): %.2f us / %.2f us = "
                    "%.2fx (target 1.2x)\n",
                    median(late), median(early), ratio);
        state.counters["ratio"] = ratio;
    }
}
BENCHMARK(BM_JournalMillionthEntry)->Iterations(1)->Unit(benchmark::kSecond);

void dropFromCache(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd >= 0) {
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

void BM_JournalExportAndRecovery(benchmark::State& state) {
    const QByteArray longFrame = synthesisFrame();
    for (auto _ : state) {
        QTemporaryDir dir;
        const QString logFile = dir.filePath(QStringLiteral("LOG.txt"));
        {
            WorkLog log;
            if (log.openJournal(dir.path()))
                state.SkipWithError("no journal");
            while (log.size() < 100'000'000) {
                log.appendFrame(longFrame);
                log.append(replies());
            }
            QElapsedTimer wall;
            wall.start();
            const auto error = log.exportTo(logFile);
            const double ms = double(wall.nsecsElapsed()) / 1e6;
            std::printf("export at close of a %.0f MB log: %.0f ms (target 1000 ms)%s\n",
                        double(log.size()) / 1e6, ms, error ? " FAILED" : "");
            state.counters["export_ms"] = ms;
            log.removeJournal();
        }
        QFile::remove(logFile);
        // A journal left by a run that died: the exported bytes, less the heading.
        for (const bool cold : {false, true}) {
            const QString name = QStringLiteral("LOG-journal-20261207-153619-%1.txt")
                                     .arg(cold ? QStringLiteral("cold") : QStringLiteral("warm"));
            {
                WorkLog log;
                while (log.size() < 100'000'000) {
                    log.appendFrame(longFrame);
                    log.append(replies());
                }
                log.exportTo(dir.filePath(QStringLiteral("bytes")));
            }
            QFile::rename(dir.filePath(QStringLiteral("bytes")), dir.filePath(name));
            if (cold)
                dropFromCache(dir.filePath(name));
            QElapsedTimer wall;
            wall.start();
            const int recovered = qav::worklog::Journal::recoverJournals(dir.path(), logFile);
            const double ms = double(wall.nsecsElapsed()) / 1e6;
            std::printf("recovery of a 100 MB journal at start-up, %s: %.0f ms (target 1000 "
                        "ms)%s\n",
                        cold ? "from the disk" : "from the page cache", ms,
                        recovered == 1 ? "" : " FAILED");
            state.counters[cold ? "recover_cold_ms" : "recover_ms"] = ms;
            QFile::remove(logFile);
        }
    }
}
BENCHMARK(BM_JournalExportAndRecovery)->Iterations(1)->Unit(benchmark::kSecond);

qint64 fileSize(const QString& path) {
    return QFileInfo(path).size();
}

void BM_CaptureFrame(benchmark::State& state) {
    const QByteArray stop("\xFD\x00\x01\x02", 4);
    const QByteArray frames[] = {stop, synthesisFrame()};
    constexpr int kFrames = 20'000;
    for (auto _ : state) {
        for (const QByteArray& frame : frames) {
            // Alternating rounds, as above; each in a new file, so that the
            // files stay small.
            std::vector<double> capture, log, captureWall;
            double captureBytes = 0, logBytes = 0;
            for (int round = 0; round < 4; ++round) {
                QTemporaryDir dir;
                CaptureFile file;
                if (file.open(dir.filePath(QStringLiteral("LOG-capture-1.pcapng"))))
                    state.SkipWithError("no capture");
                const qint64 headers = file.size();
                QElapsedTimer wall;
                wall.start();
                for (int i = 0; i < kFrames; ++i) {
                    const double t0 = cpuMicros();
                    file.frameSent(frame);
                    capture.push_back(cpuMicros() - t0);
                }
                captureWall.push_back(double(wall.nsecsElapsed()) / 1e3 / kFrames);
                captureBytes = double(file.size() - headers) / kFrames;

                WorkLog workLog;
                if (workLog.openJournal(dir.path()))
                    state.SkipWithError("no journal");
                log.push_back(entryMicros(workLog, frame, kFrames));
                logBytes = double(fileSize(workLog.journalPath())) / kFrames;
            }
            const double c = median(capture), l = median(log);
            std::printf("%4d-byte frame: capture %.2f us (%.2f us wall, average), log entry "
                        "%.2f us%s; on disk %.0f bytes in the capture, %.0f in the log\n",
                        int(frame.size()), c, median(captureWall), l,
                        frame.size() == 4 ? " (target: capture under 3.5 us)" : "", captureBytes,
                        logBytes);
            const std::string size = std::to_string(frame.size());
            state.counters["capture_us_" + size] = c;
            state.counters["log_us_" + size] = l;
            state.counters["capture_bytes_" + size] = captureBytes;
            state.counters["log_bytes_" + size] = logBytes;
        }
        // A reply byte: its packet, and its line in the log.
        QTemporaryDir dir;
        CaptureFile file;
        WorkLog workLog;
        if (file.open(dir.filePath(QStringLiteral("c.pcapng"))) || workLog.openJournal(dir.path()))
            state.SkipWithError("no capture");
        const qint64 headers = file.size();
        file.serialReceived("O");
        workLog.append(QStringLiteral("<---- 返回：4F  芯片空闲\r\n"));
        std::printf("reply 0x4F: %lld bytes in the capture, %lld in the log\n",
                    file.size() - headers, fileSize(workLog.journalPath()));
    }
}
BENCHMARK(BM_CaptureFrame)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    runBenchmarksInApplication(argc, argv);
    return 0;
}
