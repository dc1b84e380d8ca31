#pragma once
// What a capture tells about its run: every frame with its reply times, the
// console's events (hangs and recoveries, links lost and back, "停止" and
// "清空"), and the figures of the summary.
//
//   CaptureReader ──packets──> RunAnalysis ──> ReplyMatcher (which answer is whose)
//                                         └──> CaptureRun: frames, marks, hangs, figures
//
// The replies are read from the bytes as the console decodes them, so a
// report says what the run's own reports said.

#include "protocol/reply_matcher.h"
#include "report/capture_reader.h"
#include "report/percentiles.h"
#include "report/recent_traffic.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

namespace qav::report {

struct FrameRecord {
    qint64 sentMs = 0;        // since 1970, UTC
    float msToReceived = NAN; // 0x41; NaN when none came
    float msToIdle = NAN;     // 0x4F
    qint32 length = 0;
    std::uint8_t command = 0;
    bool hasCommand = false;
    // A synthesis or cache play: a step of the run, and a frame→idle time
    // that counts, as the runner counts them.
    bool spoken = false;
};

struct Mark {
    enum class Kind { LinkLost, LinkBack, Stop, Clear };
    qint64 ms = 0;
    Kind kind = Kind::Stop;
    QString text;
};

struct Hang {
    qint64 silentSinceMs = 0; // the chip's last byte before the verdict
    qint64 verdictMs = 0;
    QString verdict;
    std::optional<qint64> recoveryMs;
    QString recovery;
    QStringList lastFrames; // as the JUnit report lists them
};

// The event a run records as it starts:
// "测试开始 test=crash-test port=COM1 settings=9600,N,8,1".
struct RunStart {
    QString test;
    QString port;
    QString settings;
    QString baud() const { return settings.section(u',', 0, 0); }
};
std::optional<RunStart> parseRunStart(const QString& event);

struct CaptureRun {
    QString path;
    std::optional<RunStart> start;
    std::optional<qint64> firstMs; // the first and the last packet
    qint64 lastMs = 0;
    std::vector<FrameRecord> frames; // in the order sent
    std::vector<Mark> marks;
    QList<Hang> hangs;
    Percentiles toReceived; // every frame's frame→0x41
    Percentiles toIdle;     // the spoken frames' frame→idle
    qint64 steps = 0;       // spoken frames
    qint64 lostPackets = 0; // packets the capture notes it could not write
    CaptureReader::End end = CaptureReader::End::Complete;
    qint64 wholeBytes = 0; // read up to here
    qint64 fileBytes = 0;

    qint64 durationMs() const { return firstMs ? lastMs - *firstMs : 0; }
    std::optional<qint64> meanTimeBetweenHangsMs() const;
};

class RunAnalysis {
public:
    RunAnalysis();
    RunAnalysis(const RunAnalysis&) = delete;
    RunAnalysis& operator=(const RunAnalysis&) = delete;

    void add(const CapturedPacket& packet);
    // The frames still waiting are settled as they stand.
    CaptureRun finish();

private:
    void frameSent(qint64 micros, QByteArrayView frame);
    void chipSpoke(qint64 micros, QByteArrayView bytes, bool usb);
    void event(qint64 micros, const QString& text);
    void settled(const protocol::FrameTiming& timing);

    CaptureRun run_;
    protocol::ReplyMatcher matcher_;
    RecentTraffic recent_;
    qint64 lastChipMs_ = -1; // the chip's last byte, or the first frame
};

// Reads the capture at path into run, up to its last whole block; the reason
// when the file cannot be read or is no capture.
std::optional<QString> readCapture(const QString& path, CaptureRun& run);

} // namespace qav::report
