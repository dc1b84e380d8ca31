#include "tools/test_steps.h"

#include "protocol/frame.h"
#include "synthesis/gbk_text.h"
#include "tools/playback_text.h"

#include <algorithm>
#include <cmath>

namespace qav::tools {

namespace {

using protocol::Command;
using protocol::Encoding;

constexpr const char* kAnnouncementLead = "sound101 测试";
constexpr const char* kEndOfTests = "sound101 测试完毕，会再循环测试";
constexpr const char* kCycleMarker = "再循环测试";

// Script 45's waits after each synthesis of test 4, and the play-out waits of test 5.
constexpr int kInterruptWaitsMs[] = {200, 500, 1000, 1500, 2000, 3000, 5000, 10000, 20000, 30000};
constexpr int kPlayOutSerialMs = 360000;
constexpr int kPlayOutUsbMs = 70000;

TestStep send(const QByteArray& frame, int waitMs, const QString& label) {
    return {StepAction::SendFrame, frame, waitMs, label};
}

TestStep action(StepAction what, int waitMs, const QString& label) {
    return {what, QByteArray(), waitMs, label};
}

// The one-byte commands of test 2 and test 3.
struct Commands {
    QByteArray stop = protocol::commandFrame(Command::Stop);
    QByteArray pause = protocol::commandFrame(Command::Pause);
    QByteArray resume = protocol::commandFrame(Command::Resume);
    QByteArray standby = protocol::commandFrame(Command::Standby);
    QByteArray wakeUp = protocol::commandFrame(Command::WakeUp);
};

// A run of pause and resume commands written as "PPRPR...", each followed by 1000 ms.
void appendPauseResume(StepList& steps, const Commands& c, const char* sequence) {
    for (const char* p = sequence; *p; ++p) {
        if (*p == 'P')
            steps.append(send(c.pause, 1000, QStringLiteral("P")));
        else
            steps.append(send(c.resume, 1000, QStringLiteral("R")));
    }
}

} // namespace

QByteArray gbkTextFrame(const QString& text) {
    return *protocol::parameterFrame(Command::Synthesize, std::uint8_t(Encoding::Gbk),
                                     synthesis::toGbk(text));
}

QByteArray announcementFrame(int testNumber) {
    return gbkTextFrame(QString::fromUtf8(kAnnouncementLead) + QString::number(testNumber));
}

QByteArray endOfTestsFrame() {
    return gbkTextFrame(QString::fromUtf8(kEndOfTests));
}

QByteArray cycleMarkerFrame() {
    return gbkTextFrame(QString::fromUtf8(kCycleMarker));
}

StepList script123() {
    const QByteArray a = gbkTextFrame(sampleTextA());
    const QByteArray b = gbkTextFrame(sampleTextB());
    const QByteArray c = gbkTextFrame(sampleTextC());
    const Commands cmd;
    const QString labelA = QStringLiteral("A"), labelB = QStringLiteral("B"),
                  labelC = QStringLiteral("C");
    StepList steps;
    steps.reserve(147);

    // Test 1: interrupt at growing intervals, or let it play out.
    steps.append(send(announcementFrame(1), 1000, QStringLiteral("N1")));
    for (int interval : {200, 500, 1000, 1500, 2000, 3000, 5000, 8000}) {
        steps.append(send(a, interval, labelA));
        steps.append(send(b, interval, labelB));
        steps.append(send(c, interval, labelC));
    }
    for (int interval : {15000, 25000}) {
        steps.append(send(a, interval, labelA));
        steps.append(send(c, interval, labelC));
    }

    // Test 2: pause and resume while speaking, including a pause while
    // paused and a resume while playing, then stop.
    steps.append(send(announcementFrame(2), 1000, QStringLiteral("N2")));
    steps.append(send(a, 1000, labelA));
    appendPauseResume(steps, cmd, "PPRPRRPRPRPPRRPRPRPRPRPRPRPRPRPPRPR");
    steps.append(send(cmd.stop, 200, QStringLiteral("S")));
    steps.append(send(b, 1000, labelB));
    appendPauseResume(steps, cmd, "PRPRPRRPPRP");
    steps.append(send(cmd.stop, 200, QStringLiteral("S")));
    steps.append(send(c, 1000, labelC));
    appendPauseResume(steps, cmd, "PRPRRPRPRPPRRPRPPR");
    steps.append(send(cmd.stop, 200, QStringLiteral("S")));

    // Test 3: standby and wake-up while speaking.
    steps.append(send(announcementFrame(3), 2000, QStringLiteral("N3")));
    struct Group {
        int textWait;
        int standbyWait;
    };
    for (const Group g : {Group{1000, 1000}, Group{2000, 2000}, Group{3000, 1000},
                          Group{5000, 1000}, Group{8000, 1000}}) {
        steps.append(send(a, g.textWait, labelA));
        steps.append(send(cmd.standby, g.standbyWait, QStringLiteral("SB")));
        steps.append(send(cmd.wakeUp, 200, QStringLiteral("W")));
        steps.append(send(b, g.textWait, labelB));
        steps.append(send(cmd.standby, g.standbyWait, QStringLiteral("SB")));
        steps.append(send(cmd.wakeUp, 200, QStringLiteral("W")));
        steps.append(send(c, g.textWait, labelC));
        steps.append(send(cmd.standby, g.standbyWait, QStringLiteral("SB")));
        steps.append(send(cmd.wakeUp, 1000, QStringLiteral("W")));
    }

    steps.append(send(endOfTestsFrame(), 4000, QStringLiteral("E")));
    return steps;
}

StepList script45(int chunkLimit) {
    const QString synth = QStringLiteral("synth"), load = QStringLiteral("load");
    StepList steps;

    // Test 4: each synthesis cuts into the speech of the one before.
    steps.append(send(announcementFrame(4), 2000, QStringLiteral("N4")));
    steps.append(action(StepAction::LoadEnglishChineseText, 0, load));
    for (int wait : kInterruptWaitsMs)
        steps.append(action(StepAction::Synthesize, wait, synth));

    // Test 5: one synthesis, played out to its end.
    steps.append(send(announcementFrame(5), 2000, QStringLiteral("N5")));
    steps.append(action(StepAction::LoadEnglishChineseText, 0, load));
    const int playOut = chunkLimit <= protocol::kUsbChunkLimit ? kPlayOutUsbMs : kPlayOutSerialMs;
    steps.append(action(StepAction::Synthesize, playOut, synth));

    steps.append(send(endOfTestsFrame(), 4000, QStringLiteral("E")));
    return steps;
}

StepList interruptedPlayCycle(int baseMs, int passes) {
    baseMs = std::max(baseMs, 0);
    passes = std::max(passes, 0);
    StepList steps;
    steps.reserve(passes + 2);
    const QString synth = QStringLiteral("synth");
    for (qint64 k = 0; k <= passes; ++k) {
        const qint64 wait = std::min<qint64>((k + 1) * baseMs, kLongestInterruptWaitMs);
        steps.append(action(StepAction::Synthesize, int(wait), synth));
    }
    steps.append(send(cycleMarkerFrame(), kCycleMarkerWaitMs, QStringLiteral("marker")));
    return steps;
}

std::optional<int> readInterruptSetting(const QString& text) {
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // halves to even
    if (rounded < 0 || rounded > kLongestInterruptWaitMs)
        return std::nullopt;
    return int(rounded);
}

} // namespace qav::tools
