#pragma once
// The reply times of every frame of a run: when it was sent, how long the
// chip took to take it (0x41) and to be idle again (0x4F).
//
// The chip answers every frame at once, in order, with 0x41 (or 0x45), so an
// answer belongs to the oldest frame still without one. An idle report 0x4F
// ends what the newest frame that can end in one (a synthesis, cache play,
// stop or status query) started; the frames before it will get no 0x4F of
// their own (a new text cuts off the one playing). A status query answered
// 0x4E (still playing) gets none either. 0x4A, the chip starting afresh,
// settles everything that waits. A frame is handed on, in the order sent,
// once nothing more can come for it; no more than a fixed number wait, so a
// chip that never answers cannot make the list grow.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace qav::protocol {

// A frame with this command (a synthesis, cache play, stop or status query)
// can end in the chip's idle report 0x4F.
bool commandEndsInIdle(const std::optional<std::uint8_t>& command);

// A reply byte that answers a frame: received (0x41), received with an error
// (0x45), and the bridge's received-while-idle, -paused or -playing (0xAA to
// 0xAC). Every frame gets exactly one such answer, at once.
bool answersFrame(std::uint8_t code);

// Which of the frames sent so far the chip has answered. Answers come at once
// and in the order of the frames, so they are counted rather than matched: the
// n-th answer belongs to the n-th frame. A frame is numbered from 0 as it is
// sent. An answer that did not come while the chip was asked for its status
// never will, so the owner writes off what is owed before such a query; a
// chip that starts afresh (0x4A) writes off what it owed by itself.
class AnswerLedger {
public:
    // The number of the frame being sent.
    qint64 frameSent() { return sent_++; }
    // The newest count frames were taken back before they went out.
    void framesTakenBack(qint64 count);
    void reply(std::uint8_t code);
    void writeOff() { answered_ = sent_; }

    bool answered(qint64 frame) const { return frame < answered_; }
    bool allAnswered() const { return answered_ >= sent_; }
    qint64 sent() const { return sent_; }
    qint64 answeredCount() const { return answered_; }

private:
    qint64 sent_ = 0;
    qint64 answered_ = 0;
};

struct FrameTiming {
    QDateTime sentAt;
    std::optional<std::uint8_t> command; // of a frame laid out FD, length, command
    qsizetype length = 0;
    std::optional<qint64> msToReceived; // 0x41
    std::optional<qint64> msToIdle;     // 0x4F
    QString step;
};

class ReplyMatcher {
public:
    using Settled = std::function<void(const FrameTiming&)>;
    static constexpr qsizetype kMaxWaiting = 64;

    explicit ReplyMatcher(Settled settled) : settled_(std::move(settled)) {}

    // nowMs: a monotonic clock in milliseconds.
    void frameSent(const QByteArray& frame, const QString& step, const QDateTime& at, qint64 nowMs);
    void reply(std::uint8_t code, qint64 nowMs);
    // The end of the run: every frame still waiting, as it stands.
    void settleAll();

private:
    struct Waiting {
        FrameTiming timing;
        qint64 sentMs = 0;
        bool answered = false; // 0x41 or 0x45
        bool done = false;     // nothing more comes for it; settled in its turn
    };
    void settleThrough(qsizetype index); // -1: only those done at the front

    Settled settled_;
    QList<Waiting> waiting_;
};

} // namespace qav::protocol
