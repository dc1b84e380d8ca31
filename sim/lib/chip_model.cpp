#include "chip_model.h"

#include "protocol/frame.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

namespace qav::sim {

namespace {

namespace reply = protocol::reply;
using protocol::Command;

// The version answer comes a moment after the 0x41, as a message of its own.
constexpr int kVersionDelayMs = 20;
// Noted on the trace line of a frame the hung chip leaves unanswered.
QString hungNote() {
    return QStringLiteral(" (hung: no answer)");
}

QByteArray bytes(std::initializer_list<quint8> list) {
    QByteArray out;
    for (quint8 b : list)
        out.append(char(b));
    return out;
}

QString hexBytes(const QByteArray& data, int limit = 16) {
    QString out;
    const int shown = std::min<int>(int(data.size()), limit);
    for (int i = 0; i < shown; ++i) {
        if (i)
            out += u' ';
        out += QStringLiteral("%1").arg(quint8(data[i]), 2, 16, QLatin1Char('0')).toUpper();
    }
    if (data.size() > shown)
        out += QStringLiteral(" … (%1 bytes)").arg(data.size());
    return out;
}

// Shows a text on one line: line breaks and other control characters escaped.
QString quoted(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (QChar c : text) {
        if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    out += u'"';
    return out;
}

QString commandName(quint8 command) {
    switch (Command(command)) {
    case Command::Synthesize:
        return QStringLiteral("synthesise");
    case Command::Stop:
        return QStringLiteral("stop");
    case Command::Pause:
        return QStringLiteral("pause");
    case Command::Resume:
        return QStringLiteral("resume");
    case Command::QueryStatus:
        return QStringLiteral("status query");
    case Command::Standby:
        return QStringLiteral("standby");
    case Command::CacheStore:
        return QStringLiteral("cache store");
    case Command::CachePlay:
        return QStringLiteral("cache play");
    case Command::QueryVersion:
        return QStringLiteral("version query");
    case Command::WakeUp:
        return QStringLiteral("wake-up");
    }
    return QStringLiteral("unknown command");
}

QString stateName(ChipModel::State state) {
    switch (state) {
    case ChipModel::State::Idle:
        return QStringLiteral("idle");
    case ChipModel::State::Playing:
        return QStringLiteral("playing");
    case ChipModel::State::Paused:
        return QStringLiteral("paused");
    case ChipModel::State::Standby:
        return QStringLiteral("standby");
    }
    return {};
}

} // namespace

ChipModel::ChipModel(QObject* parent) : QObject(parent) {
    uptime_.start();
    speechTimer_.setSingleShot(true);
    speechTimer_.setTimerType(Qt::PreciseTimer);
    connect(&speechTimer_, &QTimer::timeout, this, &ChipModel::finishSpeaking);
    recoveryTimer_.setSingleShot(true);
    recoveryTimer_.setTimerType(Qt::PreciseTimer);
    connect(&recoveryTimer_, &QTimer::timeout, this, &ChipModel::powerCycle);
}

ChipModel::~ChipModel() = default;

void ChipModel::setTimeScale(double scale) {
    if (!(scale > 0) || !std::isfinite(scale))
        return;
    if (state_ == State::Playing) {
        remainingMs_ = std::max(0.0, remainingMs_ - speechClock_.nsecsElapsed() / 1e6 * scale_);
        scale_ = scale;
        armTimer();
        return;
    }
    scale_ = scale;
}

double ChipModel::timeScale() const {
    return scale_;
}

ChipModel::State ChipModel::state() const {
    return state_;
}

QByteArray ChipModel::handleBadFrame(const QByteArray& data, const QString& reason) {
    ++frameCount_;
    const QString body = QStringLiteral("bad frame (%1): %2").arg(reason, hexBytes(data));
    if (hung_) {
        trace(frameCount_, body + hungNote(), {});
        return {};
    }
    const QByteArray answer = bytes({reply::kReceiveError});
    trace(frameCount_, body, answer);
    return answer;
}

QByteArray ChipModel::handleFrame(const QByteArray& frame) {
    if (frame.size() < 4 || quint8(frame[0]) != protocol::kFrameHeader)
        return handleBadFrame(frame, QStringLiteral("no frame"));
    const int length = (quint8(frame[1]) << 8) | quint8(frame[2]);
    if (length == 0 || length != frame.size() - 3)
        return handleBadFrame(
            frame, QStringLiteral("length %1 for %2 bytes").arg(length).arg(frame.size() - 3));
    ++frameCount_;
    const quint8 command = quint8(frame[3]);
    QString body = QStringLiteral("%1 ").arg(command, 2, 16, QLatin1Char('0')).toUpper() +
                   commandName(command);
    if (hung_) {
        trace(frameCount_, body + hungNote(), {});
        return {};
    }
    Outcome outcome;
    switch (Command(command)) {
    case Command::Synthesize:
        outcome = synthesize(frame);
        break;
    case Command::CacheStore:
        outcome = cacheStore(frame);
        break;
    case Command::CachePlay:
        outcome = cachePlay(frame);
        break;
    case Command::Stop:
    case Command::Pause:
    case Command::Resume:
    case Command::QueryStatus:
    case Command::Standby:
    case Command::QueryVersion:
    case Command::WakeUp:
        outcome = simpleCommand(command);
        break;
    default:
        outcome = {bytes({reply::kReceiveError}), QString()};
        break;
    }
    if (!outcome.detail.isEmpty())
        body += u' ' + outcome.detail;
    trace(frameCount_, body, outcome.reply);
    if (hangAfter_ > 0 && Command(command) == Command::Synthesize &&
        outcome.reply == bytes({reply::kReceived}) && ++synthesesCounted_ == hangAfter_)
        hangUp();
    return outcome.reply;
}

ChipModel::Outcome ChipModel::synthesize(const QByteArray& frame) {
    if (frame.size() < 5)
        return {bytes({reply::kReceiveError}), QStringLiteral("without encoding")};
    const int encoding = quint8(frame[4]);
    const std::optional<QString> text = decodeText(encoding, QByteArrayView(frame).sliced(5));
    if (!text)
        return {bytes({reply::kReceiveError}),
                encodingName(encoding) + QStringLiteral(": unknown")};
    QString detail = encodingName(encoding) + u' ' + quoted(*text);
    if (text->isEmpty())
        return {bytes({reply::kReceiveError}), detail + QStringLiteral(" (no text)")};
    if (state_ == State::Standby)
        return {bytes({reply::kReceived}), detail + QStringLiteral(" (standby: not spoken)")};
    if (state_ == State::Playing || state_ == State::Paused)
        detail += QStringLiteral(" (cuts off #%1)").arg(speakingFrame_);
    startSpeaking(*text, 1);
    detail += QStringLiteral(" [%1 ms]").arg(qRound64(remainingMs_));
    return {bytes({reply::kReceived}), detail};
}

ChipModel::Outcome ChipModel::cacheStore(const QByteArray& frame) {
    if (frame.size() < 5)
        return {bytes({reply::kReceiveError}), QStringLiteral("without segment")};
    const int segment = quint8(frame[4]);
    const QByteArray data = frame.sliced(5);
    QString detail = QStringLiteral("segment %1, %2 bytes").arg(segment).arg(data.size());
    if (segment >= kCacheSegments)
        return {bytes({reply::kReceiveError}), detail + QStringLiteral(" (no such segment)")};
    if (data.isEmpty())
        return {bytes({reply::kReceiveError}), detail + QStringLiteral(" (no text)")};
    const int room = (kCacheSegments - segment) * kCacheSegmentSize;
    if (data.size() > room)
        return {bytes({reply::kReceiveError}),
                detail + QStringLiteral(" (only %1 bytes fit)").arg(room)};
    for (qsizetype at = 0, s = segment; at < data.size(); at += kCacheSegmentSize, ++s)
        cache_[s] = data.mid(at, kCacheSegmentSize);
    // The GBK view is only a hint: the encoding is told at play time.
    detail += u' ' + quoted(decodeText(1, data).value_or(QString()));
    return {bytes({reply::kReceived}), detail};
}

ChipModel::Outcome ChipModel::cachePlay(const QByteArray& frame) {
    if (frame.size() != 5)
        return {bytes({reply::kReceiveError}), QStringLiteral("without parameter")};
    const int parameter = quint8(frame[4]);
    const int repeats = parameter >> 4;
    const int encoding = parameter & 0x0F;
    QString detail = QStringLiteral("%1 x, %2").arg(repeats).arg(encodingName(encoding));
    if (repeats == 0 || encoding > 4)
        return {bytes({reply::kReceiveError}), detail + QStringLiteral(" (bad parameter)")};
    QByteArray stored;
    for (const QByteArray& segment : cache_)
        stored += segment;
    const QString text = decodeText(encoding, stored).value_or(QString());
    detail += u' ' + quoted(text);
    if (state_ == State::Standby)
        return {bytes({reply::kReceived}), detail + QStringLiteral(" (standby: not spoken)")};
    if (state_ == State::Playing || state_ == State::Paused)
        detail += QStringLiteral(" (cuts off #%1)").arg(speakingFrame_);
    startSpeaking(text, repeats);
    detail += QStringLiteral(" [%1 ms]").arg(qRound64(remainingMs_));
    return {bytes({reply::kReceived}), detail};
}

ChipModel::Outcome ChipModel::simpleCommand(quint8 command) {
    const QByteArray ok = bytes({reply::kReceived});
    const State before = state_;
    switch (Command(command)) {
    case Command::Stop:
        if (state_ == State::Standby)
            return {ok, QStringLiteral("(standby: ignored)")};
        stopSpeaking();
        // Idle is reported after the acknowledgement, as a message of its own.
        QTimer::singleShot(0, this, [this, life = life_, frame = frameCount_] {
            if (life == life_)
                reportIdle(frame, IdleCause::Stop);
        });
        return {ok, QStringLiteral("(%1 -> idle, then 4F)").arg(stateName(before))};
    case Command::Pause:
        if (state_ == State::Playing) {
            remainingMs_ = std::max(0.0, remainingMs_ - speechClock_.nsecsElapsed() / 1e6 * scale_);
            speechTimer_.stop();
            state_ = State::Paused;
        }
        return {ok, QStringLiteral("(%1 -> %2)").arg(stateName(before), stateName(state_))};
    case Command::Resume:
        if (state_ == State::Paused) {
            state_ = State::Playing;
            armTimer();
        }
        return {ok, QStringLiteral("(%1 -> %2)").arg(stateName(before), stateName(state_))};
    case Command::QueryStatus: {
        const bool busy = state_ == State::Playing || state_ == State::Paused;
        return {bytes({reply::kReceived, busy ? reply::kPlaying : reply::kIdle}),
                QStringLiteral("(%1)").arg(stateName(state_))};
    }
    case Command::Standby:
        stopSpeaking();
        state_ = State::Standby;
        return {ok, QStringLiteral("(%1 -> standby)").arg(stateName(before))};
    case Command::WakeUp:
        if (state_ == State::Standby)
            state_ = State::Idle;
        return {ok, QStringLiteral("(%1 -> %2)").arg(stateName(before), stateName(state_))};
    case Command::QueryVersion: {
        const QByteArray answer = char(reply::kVersion) + QByteArray(kVersionText);
        QTimer::singleShot(kVersionDelayMs, this, [this, answer, life = life_] {
            if (life == life_)
                emit spontaneousReply(answer);
        });
        return {ok, QStringLiteral("(then \"%1\")").arg(QString::fromLatin1(answer))};
    }
    default:
        return {bytes({reply::kReceiveError}), QString()};
    }
}

void ChipModel::startSpeaking(const QString& text, int repeats) {
    Utterance utterance;
    utterance.frameNumber = frameCount_;
    utterance.text = text;
    utterance.properties = properties_;
    utterance.repeats = repeats;
    double total = 0;
    for (int i = 0; i < repeats; ++i)
        total += speakingTimeMs(text, properties_);
    utterance.durationMs = total;
    remainingMs_ = total;
    speakingFrame_ = frameCount_;
    state_ = State::Playing;
    armTimer();
    emit utteranceStarted(utterance.frameNumber, text);
    emit utteranceBegan(utterance);
}

void ChipModel::stopSpeaking() {
    speechTimer_.stop();
    remainingMs_ = 0;
    state_ = State::Idle;
}

void ChipModel::finishSpeaking() {
    if (state_ != State::Playing)
        return;
    state_ = State::Idle;
    remainingMs_ = 0;
    reportIdle(speakingFrame_, IdleCause::UtteranceEnd);
}

void ChipModel::reportIdle(int frameNumber, IdleCause cause) {
    const QString what = cause == IdleCause::UtteranceEnd ? QStringLiteral("end of utterance")
                                                          : QStringLiteral("after stop");
    if (dropIdleEvery_ > 0 && ++idleReportsCounted_ == dropIdleEvery_) {
        idleReportsCounted_ = 0;
        trace(frameNumber,
              what + QStringLiteral(", fault: 4F dropped (one in %1 lost)").arg(dropIdleEvery_),
              {});
        emit idleReplyDropped(frameNumber);
        return;
    }
    const QByteArray idle = bytes({reply::kIdle});
    // The idle report after a stop is announced on the stop's own line.
    if (cause == IdleCause::UtteranceEnd)
        trace(frameNumber, what, idle);
    emit spontaneousReply(idle);
}

void ChipModel::setHangAfter(int synthesisFrames) {
    hangAfter_ = std::max(0, synthesisFrames);
    synthesesCounted_ = 0;
}

void ChipModel::setRecoverAfterMs(int milliseconds) {
    recoverAfterMs_ = std::max(0, milliseconds);
    if (!hung_)
        return;
    if (recoverAfterMs_ == 0)
        recoveryTimer_.stop();
    else
        recoveryTimer_.start(int(std::max<qint64>(recoverAfterMs_ - hungClock_.elapsed(), 0)));
}

void ChipModel::setDropIdleEvery(int n) {
    dropIdleEvery_ = std::max(0, n);
    idleReportsCounted_ = 0;
}

void ChipModel::hangUp() {
    hung_ = true;
    ++life_;
    hungClock_.start();
    // Whatever it was saying never ends.
    speechTimer_.stop();
    QString body = QStringLiteral("fault: hung after %1 synthesis frame%2, answers nothing ")
                       .arg(hangAfter_)
                       .arg(hangAfter_ == 1 ? "" : "s");
    if (recoverAfterMs_ > 0) {
        body +=
            QStringLiteral("until a power cycle in %1 s").arg(recoverAfterMs_ / 1000.0, 0, 'f', 3);
        recoveryTimer_.start(recoverAfterMs_);
    } else {
        body += QStringLiteral("from now on");
    }
    trace(frameCount_, body, {});
    emit hung(frameCount_);
}

void ChipModel::powerCycle() {
    const bool wasHung = std::exchange(hung_, false);
    recoveryTimer_.stop();
    ++life_;
    speechTimer_.stop();
    remainingMs_ = 0;
    state_ = State::Idle;
    properties_ = SpeechProperties{};
    cache_.fill(QByteArray());
    synthesesCounted_ = 0;
    const QByteArray initialised = bytes({reply::kInitialised});
    QString body = QStringLiteral("power cycle");
    if (wasHung)
        body += QStringLiteral(" after %1 s hung").arg(hungClock_.elapsed() / 1000.0, 0, 'f', 3);
    trace(frameCount_, body + QStringLiteral(": idle, default properties, answers again"),
          initialised);
    emit spontaneousReply(initialised);
    if (wasHung)
        emit recovered();
}

void ChipModel::armTimer() {
    speechClock_.start();
    const double realMs = std::ceil(remainingMs_ / scale_);
    speechTimer_.start(int(std::clamp(realMs, 0.0, double(INT_MAX))));
}

void ChipModel::trace(int frameNumber, const QString& body, const QByteArray& answer) {
    const double seconds = uptime_.nsecsElapsed() / 1e9;
    QString line = QStringLiteral("%1  #%2  %3")
                       .arg(seconds, 10, 'f', 3)
                       .arg(frameNumber, 6, 10, QLatin1Char('0'))
                       .arg(body);
    if (!answer.isEmpty())
        line += QStringLiteral("  -> ") + hexBytes(answer);
    emit traced(line);
}

} // namespace qav::sim
