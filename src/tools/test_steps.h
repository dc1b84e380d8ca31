#pragma once
// The timed test sequences of the console as data: each is a list of steps,
// a frame to send or an action to run, followed by a wait. A StepPlayer
// plays a list over and over until it is stopped.

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace qav::tools {

enum class StepAction {
    SendFrame,              // send the step's frame as it stands
    Synthesize,             // the ordinary synthesis request on the send text area
    LoadEnglishChineseText, // put the English-Chinese demonstration text in the send text area
};

struct TestStep {
    StepAction action = StepAction::SendFrame;
    QByteArray frame; // SendFrame only
    int waitMs = 0;   // after the step, before the next
    QString label;    // short name for traces: "N1", "A", "P", "synth", ...
};

using StepList = QList<TestStep>;

// A synthesis frame with encoding code 1 and the text in GBK bytes.
QByteArray gbkTextFrame(const QString& text);

// The announcement "sound101 测试N" for test number 1 to 5.
QByteArray announcementFrame(int testNumber);
// "sound101 测试完毕，会再循环测试": sent after the last test of a script.
QByteArray endOfTestsFrame();
// The frame interrupted play sends between its cycles: "再循环测试".
QByteArray cycleMarkerFrame();

// Tests 1 to 3: 147 steps, played again from the start after the last.
StepList script123();

// Tests 4 and 5. The play-out wait of test 5 suits the link: a whole chunk
// of the serial link takes minutes to speak, one of the USB link about one.
StepList script45(int chunkLimit);

// Interrupted play, one cycle: passes + 1 synthesis requests with waits of
// 1, 2, 3 ... times baseMs (at most kLongestInterruptWaitMs each), then the
// cycle marker and a pause of 1500 ms.
inline constexpr int kLongestInterruptWaitMs = 32767;
inline constexpr int kCycleMarkerWaitMs = 1500;
StepList interruptedPlayCycle(int baseMs, int passes);

// Base delay and pass count of interrupted play are whole numbers from 0 to
// 32767, written as a decimal number that is rounded to the nearest integer
// (halves to even); an empty box counts as 0. Anything else is refused.
std::optional<int> readInterruptSetting(const QString& text);

} // namespace qav::tools
