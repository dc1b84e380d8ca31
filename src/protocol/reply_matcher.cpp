#include "protocol/reply_matcher.h"

#include "protocol/frame.h"

#include <algorithm>

namespace qav::protocol {

bool commandEndsInIdle(const std::optional<std::uint8_t>& command) {
    if (!command)
        return false;
    switch (Command(*command)) {
    case Command::Synthesize:
    case Command::CachePlay:
    case Command::Stop:
    case Command::QueryStatus:
        return true;
    default:
        return false;
    }
}

bool answersFrame(std::uint8_t code) {
    switch (code) {
    case reply::kReceived:
    case reply::kReceiveError:
    case reply::kReceivedWasIdle:
    case reply::kReceivedWasPaused:
    case reply::kReceivedWasPlaying:
        return true;
    default:
        return false;
    }
}

void AnswerLedger::framesTakenBack(qint64 count) {
    sent_ = std::max(answered_, sent_ - std::max<qint64>(count, 0));
}

// A chip that starts afresh (0x4A) answers nothing it had before.
void AnswerLedger::reply(std::uint8_t code) {
    if (code == reply::kInitialised)
        writeOff();
    else if (answersFrame(code) && answered_ < sent_)
        ++answered_;
}

void ReplyMatcher::frameSent(const QByteArray& frame, const QString& step, const QDateTime& at,
                             qint64 nowMs) {
    Waiting w;
    w.timing.sentAt = at;
    w.timing.length = frame.size();
    if (frame.size() >= 4 && std::uint8_t(frame[0]) == kFrameHeader)
        w.timing.command = std::uint8_t(frame[3]);
    w.timing.step = step;
    w.sentMs = nowMs;
    waiting_.append(std::move(w));
    if (waiting_.size() > kMaxWaiting)
        settleThrough(0);
}

void ReplyMatcher::reply(std::uint8_t code, qint64 nowMs) {
    switch (code) {
    case reply::kReceived:
    case reply::kReceiveError:
        for (Waiting& w : waiting_)
            if (!w.answered) {
                w.answered = true;
                if (code == reply::kReceived)
                    w.timing.msToReceived = nowMs - w.sentMs;
                break;
            }
        break;
    case reply::kPlaying:
        // A status query's answer: still playing, so no 0x4F of its own.
        for (qsizetype i = waiting_.size() - 1; i >= 0; --i)
            if (waiting_[i].answered && !waiting_[i].done &&
                waiting_[i].timing.command == std::uint8_t(Command::QueryStatus)) {
                waiting_[i].done = true;
                break;
            }
        settleThrough(-1);
        break;
    case reply::kIdle:
        for (qsizetype i = waiting_.size() - 1; i >= 0; --i)
            if (!waiting_[i].done && commandEndsInIdle(waiting_[i].timing.command)) {
                waiting_[i].timing.msToIdle = nowMs - waiting_[i].sentMs;
                settleThrough(i);
                break;
            }
        break;
    case reply::kInitialised:
        settleAll();
        break;
    default:
        break;
    }
}

// The first index + 1 frames, and those done behind them.
void ReplyMatcher::settleThrough(qsizetype index) {
    for (qsizetype i = 0; i <= index && !waiting_.isEmpty(); ++i)
        settled_(waiting_.takeFirst().timing);
    while (!waiting_.isEmpty() && waiting_.first().done)
        settled_(waiting_.takeFirst().timing);
}

void ReplyMatcher::settleAll() {
    settleThrough(waiting_.size() - 1);
}

} // namespace qav::protocol
