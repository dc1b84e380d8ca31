#include "runner/frame_timing.h"

#include "protocol/frame.h"

namespace qav::runner {

namespace {
namespace reply = protocol::reply;

bool endsInIdle(const std::optional<std::uint8_t>& command) {
    using protocol::Command;
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

QByteArray csvField(const QString& text) {
    QByteArray utf8 = text.toUtf8();
    if (!utf8.contains(',') && !utf8.contains('"') && !utf8.contains('\n') && !utf8.contains('\r'))
        return utf8;
    return '"' + utf8.replace('"', "\"\"") + '"';
}

QByteArray number(const std::optional<qint64>& ms) {
    return ms ? QByteArray::number(*ms) : QByteArray();
}
} // namespace

void ReplyMatcher::frameSent(const QByteArray& frame, const QString& step, const QDateTime& at,
                             qint64 nowMs) {
    Waiting w;
    w.timing.sentAt = at;
    w.timing.length = frame.size();
    if (frame.size() >= 4 && std::uint8_t(frame[0]) == protocol::kFrameHeader)
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
                waiting_[i].timing.command == std::uint8_t(protocol::Command::QueryStatus)) {
                waiting_[i].done = true;
                break;
            }
        settleThrough(-1);
        break;
    case reply::kIdle:
        for (qsizetype i = waiting_.size() - 1; i >= 0; --i)
            if (!waiting_[i].done && endsInIdle(waiting_[i].timing.command)) {
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

std::optional<QString> TimingCsv::open(const QString& path) {
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return file_.errorString();
    if (file_.write(header()) < 0 || !file_.flush())
        return file_.errorString();
    return std::nullopt;
}

void TimingCsv::write(const FrameTiming& timing) {
    if (!file_.isOpen() || error_)
        return;
    if (file_.write(row(timing)) < 0 || !file_.flush())
        error_ = file_.errorString();
}

std::optional<QString> TimingCsv::close() {
    if (file_.isOpen()) {
        if (!file_.flush() && !error_)
            error_ = file_.errorString();
        file_.close();
    }
    return error_;
}

QByteArray TimingCsv::header() {
    return "sent,command,length,ms_to_41,ms_to_4F,step\n";
}

QByteArray TimingCsv::row(const FrameTiming& t) {
    const QDateTime at = t.sentAt.toOffsetFromUtc(t.sentAt.offsetFromUtc());
    QByteArray line = at.toString(Qt::ISODateWithMs).toLatin1();
    line += ',';
    if (t.command)
        line += QByteArray::number(*t.command | 0x100, 16).right(2).toUpper();
    line += ',' + QByteArray::number(t.length) + ',' + number(t.msToReceived) + ',' +
            number(t.msToIdle) + ',' + csvField(t.step) + '\n';
    return line;
}

} // namespace qav::runner
