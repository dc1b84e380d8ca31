#pragma once
// What a reply does next, owned in one place. The chip's reply bytes come
// here from either link, are decoded into their log lines, and move the run
// on: the crash test and continuous play at the chip's idle reply, a long
// text when the bridge has taken a frame, a spoken text at its idle reply.
// The timed sequences (interrupted play, the two scripts) are played here
// too, and so is the watchdog's part: it watches only what the run awaits.
//
//   what the run continues at the next reply (one state):
//     None ──crash step──> CrashTest ──idle: next crash step──> CrashTest
//     None ──start──> ContinuousPlay ──idle (serial) / frame taken (USB): next round──> …
//     None ──speak──> Speak ──idle──> spoken(), None
//   a request made by hand, "停止", or the countdown's end: None. While the
//   crash counters are past their start every idle reply also runs a crash
//   step, whatever else was going on.
//
// An idle reply continues the run only when it can be the chip's answer to
// the step's own frame: the frame has been written to the port (an idle
// that comes while it still waits its turn reports the state before it,
// so steps never pile up behind the line), and no answer has come since it
// was sent that belongs to a frame before it (the chip
// answers every frame at once and in order, so an answer while the step's
// frame is unanswered is an earlier frame's, and so is an idle behind it: a
// status query crossing the chip's own idle report). So each idle state of
// the chip runs one step, however its bytes are split into reads and
// whoever asked for them.
//
// What the run awaits has a deadline (watchdog.h): the answer to each frame
// a run sends, and the idle reply or the bridge's answer that the state
// above waits for. A sequence awaits only its frames' answers, so its timed
// waits are never watched; replies that are not decoded are not awaited.

#include "protocol/frame.h"
#include "protocol/reply_matcher.h"
#include "session/outbox.h"
#include "session/run_step.h"
#include "session/run_tests.h"
#include "session/watchdog.h"
#include "tools/crash_test.h"
#include "tools/step_player.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <optional>

namespace qav::link {
enum class LinkKind;
}

namespace qav::session {

class Links;
class MessageGate;
class TextBuffer;
class WorkFolder;

class RunDriver : public QObject {
    Q_OBJECT
public:
    enum class Sequence { None, InterruptedPlay, Script123, Script45 };
    // What the next reply continues.
    enum class Continues { Nothing, CrashTest, ContinuousPlay, Speak };

    RunDriver(Outbox& outbox, Links& links, WorkFolder& folder, MessageGate& gate, TextBuffer& text,
              QObject* parent = nullptr);
    ~RunDriver() override;

    void setWatchLimits(const Watchdog::Limits& limits) { watchdog_.setLimits(limits); }
    // 1000 plays a 1 s wait of a sequence in 1 ms.
    void setSequenceTimeScale(double scale) { player_.setTimeScale(scale); }

    // --- intents ---
    // The next reply continues nothing: continuous play and a long text end.
    void interruptPlay();
    // A synthesis request made by hand; it ends continuous play.
    Outbox::SelectionSend synthesize();
    // A synthesis that a face waits on: spoken() follows its idle reply.
    Outbox::SelectionSend speak();
    // seconds: what the duration box says, nothing when it is empty.
    // Refused with a message when no time is left.
    bool startContinuousPlay(std::optional<double> seconds);
    // Starts the sequence, or stops it when it is the one running.
    void toggleSequence(Sequence which, int baseMs, int passes);
    void stopSequences();
    void crashStep();
    // The crash test goes on from these counters, where an earlier run of
    // the program left it; before its first step.
    void resumeCrashTest(const tools::CrashCounters& counters) { crash_ = counters; }
    // "停止": the sequences and continuous play end, frames that have not
    // gone out are taken back, and the stop frame follows.
    void stop();
    // The end of a run as a face ends it: "停止" goes out when the link is
    // open, and nothing the chip says starts anything any more.
    void end();
    // Everything stops, without a word to the chip.
    void halt();
    // Off: serial replies wait in the port, start nothing, and are not awaited.
    void setRepliesDecoded(bool decoded);
    // A link was chosen: what the other one owed is written off.
    void linkChanged();

    // --- what the faces show ---
    Continues continues() const { return continues_; }
    bool continuousPlayActive() const { return countdown_.isActive(); }
    Sequence activeSequence() const { return sequence_; }
    tools::CrashCounters crashCounters() const { return crash_; }
    bool chipHung() const { return watchdog_.isHung(); }
    // The run awaits something of the chip now (what the watchdog watches).
    bool awaitsChip() const;

signals:
    void replyLogged(std::uint8_t code);
    void stepStarted(const qav::session::RunStep& step);
    void chipHangRecorded(const QString& line);
    void chipRecoveryRecorded(const QString& line);
    void continuousPlayEnded();
    void spoken();

private:
    void onReplyBytes(link::LinkKind from, const QByteArray& bytes);
    bool readSerialReplies(const QByteArray& bytes);
    bool readBridgeReply(std::uint8_t code);
    bool onIdle();
    void onFrameTaken(bool acknowledged);
    void continuousRound();
    void countDown();
    void performStep(const tools::TestStep& step);
    void beginStep(RunStep step);
    // The capture says which test starts, where, and at which settings.
    void recordStart(TestKind test);
    // A step's frame: the idle that continues the run must come after its answer.
    template <typename Send> auto sendStep(Send send);
    bool idleContinues() const;
    bool sequenceMayGoOn() const;
    void watch();
    void onSilence(qint64 seconds);
    void onHang(qint64 seconds);
    void onRecovered(qint64 seconds);
    void writeCrashResult(const QString& line);

    Outbox& outbox_;
    Links& links_;
    WorkFolder& folder_;
    MessageGate& gate_;
    TextBuffer& text_;
    tools::StepPlayer player_;
    Watchdog watchdog_;
    QTimer countdown_; // continuous play, once a second

    Continues continues_ = Continues::Nothing;
    Sequence sequence_ = Sequence::None;
    protocol::AnswerLedger answers_;
    // The last step's frame: its number, the answers counted when it was
    // sent, its bytes, and how far it has gone.
    enum class StepFrame { None, Waiting, Written };
    StepFrame stepFrameState_ = StepFrame::None;
    qint64 stepFrame_ = -1;
    qint64 answersAtStep_ = 0;
    QByteArray stepBytes_;
    bool repliesDecoded_ = true;
    bool ended_ = false;
    double replayCount_ = 0; // seconds of continuous play left
    qint64 continuousRounds_ = 0;
    tools::CrashCounters crash_;
    bool crashStarted_ = false;        // a crash step was taken in this run of the program
    RunStep step_;                     // the step under way, for the verdict
    QStringList unreadableCrashTexts_; // crash-test files already reported
};

} // namespace qav::session
