// Replies from both links, and the next steps they start: on the serial
// link the idle reply drives the crash test and continuous play; on the USB
// link the bridge's having taken a frame moves a long text on.
#include "link/link.h"
#include "protocol/serial_replies.h"
#include "protocol/usb_replies.h"
#include "session/console_session.h"
#include "session/send_text.h"
#include "session/watchdog.h"

namespace qav::session {

namespace {
// The bridge did not answer a frame that a long text waited on.
constexpr const char* kFrameAckExpiredLine = "F320未应答本帧，按已接收继续";
} // namespace

void ConsoleSession::MSComm1_OnComm(const QByteArray& received) {
    chipSpoke();
    for (const auto& line : protocol::decodeSerialReplies(received, log_.hexPrefix())) {
        log_.append(line.text);
        emit replyLogged(line.code);
        if (line.idle()) {
            onSpokenIdle();
            onIdleReply();
        }
    }
    if (std::exchange(resumeAfterReplies_, false))
        resumeRun();
}

// The chip is idle: the next crash step, then the next round of continuous
// play, each checked on its own. While frames wait for the line, an idle
// reply never piles another step up behind them: when the last frame handed
// over is the run's own next step, the reply (line noise, the end of an
// earlier utterance) starts nothing more; when other frames wait (a tag, a
// query sent by hand), the step follows once they are out (onLinkFree).
void ConsoleSession::onIdleReply() {
    resumeAfterReplies_ = false; // the run goes on from here
    if (activeLink().frameWaiting()) {
        idleDeferred_ = !lastFrameIsStep_;
        return;
    }
    const bool wasStep = std::exchange(sendingStep_, true);
    if (run_.crash.running())
        crashStep();
    if (run_.continueSynthesis) {
        ++run_.continuousRounds;
        beginStep({RunStep::Kind::ContinuousRound,
                   QStringLiteral("连续播放 第 %1 轮").arg(run_.continuousRounds),
                   QStringLiteral("第 %1 轮").arg(run_.continuousRounds)});
        synthesize();
        run_.continueSynthesis = run_.replayCount > 0;
    }
    sendingStep_ = wasStep;
}

void ConsoleSession::onSpokenIdle() {
    if (std::exchange(awaitingSpoken_, false))
        emit spoken();
}

void ConsoleSession::onLinkFree() {
    if (idleDeferred_ && !activeLink().frameWaiting()) {
        idleDeferred_ = false;
        onIdleReply();
    }
}

void ConsoleSession::PollBridgeReply(const QByteArray& reply) {
    if (reply.isEmpty())
        return;
    chipSpoke();
    const auto code = std::uint8_t(reply[0]);
    if (const auto line = protocol::usbReplyLine(code)) {
        logLine(*line);
        emit replyLogged(code);
    }
    if (code == protocol::reply::kIdle)
        onSpokenIdle();
    if (std::exchange(resumeAfterReplies_, false))
        resumeRun();
}

// An answer that did not come in time is taken as given, with a line, so a
// long text does not stop silently.
void ConsoleSession::onAckExpired() {
    if (run_.continueSynthesis && sendText_)
        logLine(QString::fromUtf8(kFrameAckExpiredLine));
    onFrameTaken();
}

// The bridge has taken a whole frame: while a long text goes on, the rest of
// the text after the piece just sent is next.
void ConsoleSession::onFrameTaken() {
    if (!run_.continueSynthesis || !sendText_)
        return;
    SendText& text = *sendText_;
    text.setSelStart(text.selStart() + text.selLength());
    text.setSelLength(text.length() - text.selStart());
    if (text.selLength() != 0)
        synthesize();
    run_.continueSynthesis = text.selStart() + text.selLength() < text.length();
}

} // namespace qav::session
