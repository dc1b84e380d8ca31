#include "session/run_driver.h"

#include "demo/demo_texts.h"
#include "link/serial_link.h"
#include "protocol/serial_replies.h"
#include "protocol/usb_replies.h"
#include "session/crash_results.h"
#include "session/links.h"
#include "session/message_gate.h"
#include "session/text_buffer.h"
#include "session/work_folder.h"
#include "synthesis/gbk_text.h"
#include "tools/continuous_play.h"
#include "tools/test_steps.h"

#include <QDateTime>
#include <utility>

namespace qav::session {

namespace {
constexpr int kCountdownIntervalMs = 1000;
constexpr const char* kStopEvent = "停止";
// The capture's note of a test's start, which the report page reads.
constexpr const char* kTestStartEvent = "测试开始 test=%1 port=%2 settings=%3";
constexpr const char* kUnreadableCrashText = "无法读取测试文本文件：";
// The bridge did not answer a frame that a long text waited on.
constexpr const char* kFrameAckExpiredLine = "F320未应答本帧，按已接收继续";
// The watchdog's lines.
constexpr const char* kSilentLine = "芯片无回传 %1 秒，查询芯片状态";
constexpr const char* kTimeFormat = "yyyy-MM-dd HH:mm:ss";

QString now() {
    return QDateTime::currentDateTime().toString(QString::fromLatin1(kTimeFormat));
}

QString sequenceName(RunDriver::Sequence which) {
    switch (which) {
    case RunDriver::Sequence::InterruptedPlay:
        return QStringLiteral("打断重播");
    case RunDriver::Sequence::Script123:
        return QStringLiteral("内测123");
    case RunDriver::Sequence::Script45:
        return QStringLiteral("内测45");
    case RunDriver::Sequence::None:
        break;
    }
    return QString();
}
} // namespace

RunDriver::RunDriver(Outbox& outbox, Links& links, WorkFolder& folder, MessageGate& gate,
                     TextBuffer& text, QObject* parent)
    : QObject(parent), outbox_(outbox), links_(links), folder_(folder), gate_(gate), text_(text),
      watchdog_([this] { return awaitsChip(); },
                [this] { return links_.active().isOpen() && !links_.active().busy(); }) {
    qRegisterMetaType<RunStep>();
    countdown_.setInterval(kCountdownIntervalMs);
    connect(&countdown_, &QTimer::timeout, this, &RunDriver::countDown);

    connect(&links_, &Links::replyBytes, this, &RunDriver::onReplyBytes);
    connect(&outbox_, &Outbox::frameSent, this, [this](const QByteArray& frame) {
        answers_.frameSent();
        if (stepFrameState_ == StepFrame::Waiting && stepBytes_.isEmpty())
            stepBytes_ = frame;
        watch();
    });
    // Frames are written in the order they were sent; one that waits its
    // turn holds no identical frame sent before it.
    connect(&links_, &Links::frameWritten, this, [this](const QByteArray& frame) {
        if (stepFrameState_ == StepFrame::Waiting && frame == stepBytes_)
            stepFrameState_ = StepFrame::Written;
    });
    connect(&links_, &Links::frameDone, &watchdog_, &Watchdog::frameLeft);
    connect(&links_, &Links::frameTaken, this, [this] { onFrameTaken(true); });
    connect(&links_, &Links::ackExpired, this, [this] { onFrameTaken(false); });
    // Frames taken back never reach the chip: no answer is owed for them.
    connect(&links_, &Links::frameDropped, this, [this] {
        answers_.framesTakenBack(1);
        if (stepFrame_ >= answers_.sent())
            stepFrameState_ = StepFrame::None;
        watch();
    });
    connect(&links_, &Links::back, this, [this] { watchdog_.linkBack(); });

    // A sequence holds while a message that asks the engineer to act is
    // open, and while the chip hangs. Its wait starts when its frame is
    // written to the port; a frame waiting behind the one on the line holds
    // it until it goes.
    player_.setReadyCheck([this] { return sequenceMayGoOn(); });
    connect(&gate_, &MessageGate::closed, &player_, &tools::StepPlayer::readyChanged);
    connect(&links_, &Links::frameWritten, &player_, &tools::StepPlayer::readyChanged);
    connect(&links_, &Links::frameDone, &player_, &tools::StepPlayer::readyChanged);
    connect(&links_, &Links::frameDropped, &player_, &tools::StepPlayer::readyChanged);

    connect(&watchdog_, &Watchdog::silent, this, &RunDriver::onSilence);
    connect(&watchdog_, &Watchdog::query, this, [this] {
        // An answer that has not come by now never will, nor a frame that
        // has not gone out.
        answers_.writeOff();
        if (stepFrameState_ != StepFrame::None)
            stepFrameState_ = StepFrame::Written;
        outbox_.send(protocol::commandFrame(protocol::Command::QueryStatus));
    });
    connect(&watchdog_, &Watchdog::hung, this, &RunDriver::onHang);
    connect(&watchdog_, &Watchdog::recovered, this, &RunDriver::onRecovered);
}

RunDriver::~RunDriver() {
    player_.stop();
}

// --- replies ---

void RunDriver::onReplyBytes(link::LinkKind from, const QByteArray& bytes) {
    const bool wasHung = watchdog_.isHung();
    watchdog_.chipSpoke();
    const bool recovered = wasHung && !watchdog_.isHung();
    // What the hung chip was asked is not answered any more.
    if (recovered)
        answers_.writeOff();
    const bool stepped = from == link::LinkKind::Usb
                             ? readBridgeReply(bytes.isEmpty() ? 0 : std::uint8_t(bytes[0]))
                             : readSerialReplies(bytes);
    // The chip is back: the step after the one that hung follows, as if its
    // idle reply had come, unless the bytes that brought it back already
    // moved the run on. A held sequence takes its next step.
    if (recovered) {
        if (!stepped && !links_.usbActive())
            onIdle();
        player_.readyChanged();
    }
    watch();
}

// Only the first bytes of each read are decoded; each line is logged, and
// the chip's idle reply moves the run on. True when a step followed. Every
// answer in the read is counted, decoded or not (up to a version string,
// whose characters are text).
bool RunDriver::readSerialReplies(const QByteArray& bytes) {
    for (const char byte : bytes) {
        if (std::uint8_t(byte) == protocol::reply::kVersion)
            break;
        answers_.reply(std::uint8_t(byte));
    }
    bool stepped = false;
    for (const auto& line : protocol::decodeSerialReplies(bytes, folder_.log().hexPrefix())) {
        folder_.log().append(line.text);
        emit replyLogged(line.code);
        if (line.idle())
            stepped = onIdle() || stepped;
    }
    return stepped;
}

bool RunDriver::readBridgeReply(std::uint8_t code) {
    if (const auto line = protocol::usbReplyLine(code)) {
        folder_.logLine(*line);
        emit replyLogged(code);
    }
    answers_.reply(code);
    if (code == protocol::reply::kIdle && continues_ == Continues::Speak && idleContinues()) {
        continues_ = Continues::Nothing;
        emit spoken();
    }
    return false;
}

// The chip is idle: a text being spoken is done, then the next crash step,
// then the next round of continuous play, each checked on its own. An idle
// that came before the answer to the step's frame belongs to the state
// before the step and continues nothing. True when a step followed.
bool RunDriver::onIdle() {
    if (!idleContinues())
        return false;
    if (continues_ == Continues::Speak) {
        continues_ = Continues::Nothing;
        emit spoken();
    }
    bool stepped = false;
    if (crash_.running()) {
        crashStep();
        stepped = true;
    }
    if (continues_ == Continues::ContinuousPlay) {
        continuousRound();
        stepped = true;
    }
    return stepped;
}

// The bridge has taken a whole frame: while a long text goes on, the rest of
// the text after the piece just sent is next. An answer that did not come in
// time is taken as given, with a line, so the text does not stop silently.
void RunDriver::onFrameTaken(bool acknowledged) {
    if (continues_ != Continues::ContinuousPlay || !links_.usbActive())
        return;
    if (!acknowledged)
        folder_.logLine(QString::fromUtf8(kFrameAckExpiredLine));
    text_.setSelStart(text_.selStart() + text_.selLength());
    text_.setSelLength(text_.length() - text_.selStart());
    if (text_.selLength() != 0)
        outbox_.synthesize();
    continues_ = text_.selStart() + text_.selLength() < text_.length() ? Continues::ContinuousPlay
                                                                       : Continues::Nothing;
    watch();
}

template <typename Send> auto RunDriver::sendStep(Send send) {
    const qint64 frame = answers_.sent();
    stepFrameState_ = StepFrame::Waiting; // written at once when the link is free
    stepBytes_.clear();
    const auto result = send();
    if (answers_.sent() > frame) {
        stepFrame_ = frame;
        answersAtStep_ = answers_.answeredCount();
    } else {
        stepFrameState_ = StepFrame::None;
    }
    return result;
}

bool RunDriver::idleContinues() const {
    switch (stepFrameState_) {
    case StepFrame::None:
        return true;
    case StepFrame::Waiting:
        return false;
    case StepFrame::Written:
        break;
    }
    return answers_.answered(stepFrame_) || answers_.answeredCount() == answersAtStep_;
}

// --- intents ---

void RunDriver::interruptPlay() {
    continues_ = Continues::Nothing;
    watch();
}

Outbox::SelectionSend RunDriver::synthesize() {
    interruptPlay();
    return outbox_.synthesize();
}

Outbox::SelectionSend RunDriver::speak() {
    interruptPlay();
    recordStart(TestKind::Speak);
    const auto sent = sendStep([this] { return outbox_.synthesize(); });
    if (sent == Outbox::SelectionSend::Sent)
        continues_ = Continues::Speak;
    watch();
    return sent;
}

void RunDriver::recordStart(TestKind test) {
    folder_.capture().event(
        QString::fromUtf8(kTestStartEvent)
            .arg(QLatin1String(testRules(test).name), links_.portLabel(), links_.lineLabel()));
}

void RunDriver::beginStep(RunStep step) {
    step_ = std::move(step);
    emit stepStarted(step_);
}

bool RunDriver::startContinuousPlay(std::optional<double> seconds) {
    if (seconds) {
        replayCount_ = *seconds;
        countdown_.start();
    }
    if (replayCount_ <= 0) {
        gate_.show(QString::fromUtf8(tools::kWholeNumberMessage));
        return false;
    }
    continuousRounds_ = 0;
    recordStart(TestKind::ContinuousPlay);
    continuousRound();
    continues_ = Continues::ContinuousPlay;
    watch();
    return true;
}

// The same selection again; the run goes on while time is left.
void RunDriver::continuousRound() {
    ++continuousRounds_;
    beginStep({RunStep::Kind::ContinuousRound,
               QStringLiteral("连续播放 第 %1 轮").arg(continuousRounds_),
               QStringLiteral("第 %1 轮").arg(continuousRounds_)});
    sendStep([this] { return synthesize(); });
    continues_ = replayCount_ > 0 ? Continues::ContinuousPlay : Continues::Nothing;
}

void RunDriver::countDown() {
    if (tools::countDown(replayCount_))
        return;
    countdown_.stop();
    if (continues_ == Continues::ContinuousPlay)
        continues_ = Continues::Nothing;
    watch();
    emit continuousPlayEnded();
}

void RunDriver::toggleSequence(Sequence which, int baseMs, int passes) {
    if (which == Sequence::None || which == sequence_) {
        stopSequences();
        return;
    }
    tools::StepList steps;
    switch (which) {
    case Sequence::InterruptedPlay:
        steps = tools::interruptedPlayCycle(baseMs, passes);
        break;
    case Sequence::Script123:
        steps = tools::script123();
        break;
    case Sequence::Script45:
        steps = tools::script45(links_.chunkLimit());
        break;
    case Sequence::None:
        break;
    }
    sequence_ = which;
    gate_.beginRun();
    recordStart(which == Sequence::InterruptedPlay ? TestKind::InterruptedPlay
                : which == Sequence::Script123     ? TestKind::Script123
                                                   : TestKind::Script45);
    const qsizetype length = std::max<qsizetype>(steps.size(), 1);
    player_.start(steps, [this, which, length](const tools::TestStep& step) {
        const qint64 done = player_.stepsRun() - 1; // this one counted already
        const qint64 pass = done / length + 1;
        beginStep({RunStep::Kind::SequenceStep,
                   QStringLiteral("%1 第 %2 遍 第 %3 步 %4")
                       .arg(sequenceName(which))
                       .arg(pass)
                       .arg(done % length + 1)
                       .arg(step.label),
                   QStringLiteral("第 %1 遍").arg(pass)});
        performStep(step);
    });
    if (!player_.isRunning())
        stopSequences();
    watch();
}

void RunDriver::performStep(const tools::TestStep& step) {
    switch (step.action) {
    case tools::StepAction::SendFrame:
        outbox_.send(step.frame);
        break;
    case tools::StepAction::Synthesize:
        synthesize();
        break;
    case tools::StepAction::LoadEnglishChineseText:
        text_.setText(demo::englishChineseDemoText());
        break;
    }
}

void RunDriver::stopSequences() {
    if (sequence_ != Sequence::None)
        gate_.endRun();
    sequence_ = Sequence::None;
    player_.stop();
    watch();
}

bool RunDriver::sequenceMayGoOn() const {
    return !gate_.holdsRun() && !links_.active().frameWaiting() && !watchdog_.isHung();
}

void RunDriver::crashStep() {
    const tools::CrashCounters before = crash_;
    if (!std::exchange(crashStarted_, true))
        recordStart(TestKind::CrashTest);
    const QString fileName = tools::crashTextFileName(
        before.textIndex >= 0 && before.textIndex < tools::kCrashTexts ? before.textIndex : 0);
    const tools::CrashTextRead read = tools::readCrashText(
        folder_.filePath(fileName), tools::crashTextReadLimit(links_.chunkLimit()));
    if (read.error) {
        // Once per file, not once per step: the test runs unattended.
        if (!unreadableCrashTexts_.contains(fileName)) {
            unreadableCrashTexts_.append(fileName);
            gate_.show(QString::fromUtf8(kUnreadableCrashText) + fileName, {}, MessageGate::Notice);
        }
    } else {
        unreadableCrashTexts_.removeAll(fileName);
    }

    const tools::CrashStep step = tools::planCrashStep(before, read.text);
    text_.setText(step.sendText);
    // Written through to the system before the chip is given the text, so
    // the line survives a hang of the chip or the end of the console.
    folder_.writeCrashResult(step.resultGbk);
    beginStep({RunStep::Kind::CrashStep, QStringLiteral("死机测试 ") + step.name, step.unit});
    crash_ = step.next;
    sendStep([this] { return synthesize(); });
    // Only the serial link brings the idle reply that runs the next step.
    if (!links_.usbActive())
        continues_ = Continues::CrashTest;
    watch();
}

void RunDriver::stop() {
    stopSequences(); // interrupted play and the scripts end here too
    interruptPlay();
    folder_.capture().event(QString::fromUtf8(kStopEvent));
    // Nothing that waits for the link goes before the stop.
    links_.dropWaiting();
    outbox_.send(protocol::commandFrame(protocol::Command::Stop));
    // A run that goes on (the crash test at the chip's next idle reply)
    // is watched again from its next step.
    watchdog_.disarm();
}

void RunDriver::end() {
    if (links_.active().isOpen())
        stop();
    halt();
    setRepliesDecoded(false);
}

void RunDriver::halt() {
    stopSequences();
    interruptPlay();
    countdown_.stop();
    watchdog_.disarm();
}

// The answers to frames sent while replies were left undecoded wait in the
// port; they are read with the next arrival and are not awaited meanwhile.
void RunDriver::setRepliesDecoded(bool decoded) {
    if (decoded && !repliesDecoded_)
        answers_.writeOff();
    repliesDecoded_ = decoded;
    links_.serial().setReceiveHeld(!decoded);
    watch();
}

void RunDriver::linkChanged() {
    answers_.writeOff();
    stepFrameState_ = StepFrame::None;
    watch();
}

// --- the watchdog ---

// Undecoded serial replies are not awaited: the run goes on at the next
// idle reply once they are decoded again.
bool RunDriver::awaitsChip() const {
    if (!links_.usbActive() && !repliesDecoded_)
        return false;
    if (continues_ != Continues::Nothing)
        return true;
    return player_.isRunning() && !answers_.allAnswered();
}

void RunDriver::watch() {
    if (awaitsChip())
        watchdog_.arm();
    else if (!watchdog_.isHung())
        watchdog_.disarm();
}

void RunDriver::onSilence(qint64 seconds) {
    folder_.logEvent(QString::fromUtf8(kSilentLine).arg(seconds));
}

void RunDriver::onHang(qint64 seconds) {
    QString line = QString::fromUtf8(CrashResults::kHangLine).arg(now()).arg(seconds);
    if (!step_.name.isEmpty())
        line += QStringLiteral("，") + step_.name;
    folder_.logEvent(line);
    writeCrashResult(line); // right after the line of the step it hung on
    emit chipHangRecorded(line);
}

void RunDriver::onRecovered(qint64 seconds) {
    const QString line = QString::fromUtf8(CrashResults::kRecoveredLine).arg(now()).arg(seconds);
    folder_.logEvent(line);
    writeCrashResult(line);
    emit chipRecoveryRecorded(line);
}

void RunDriver::writeCrashResult(const QString& line) {
    if (crash_.running())
        folder_.writeCrashResult(synthesis::toGbk(line + QStringLiteral("\r\n")));
}

} // namespace qav::session
