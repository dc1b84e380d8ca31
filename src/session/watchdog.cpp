#include "session/watchdog.h"

#include <cmath>

namespace qav::session {

Watchdog::Watchdog(std::function<bool()> waiting, std::function<bool()> linkUp, QObject* parent)
    : QObject(parent), waiting_(std::move(waiting)), linkUp_(std::move(linkUp)) {
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, &Watchdog::onDeadline);
}

void Watchdog::arm() {
    if (state_ != State::Off)
        return;
    silentFor_.start();
    silentSinceWall_ = QDateTime::currentDateTime();
    listen();
}

void Watchdog::disarm() {
    state_ = State::Off;
    deadline_.stop();
}

void Watchdog::listen() {
    state_ = State::Listening;
    queries_ = 0;
    deadline_.start(limits_.silenceMs);
}

void Watchdog::chipSpoke() {
    const State was = state_;
    const qint64 seconds = silentSeconds();
    silentFor_.start();
    silentSinceWall_ = QDateTime::currentDateTime();
    if (was == State::Off)
        return;
    listen();
    if (was == State::Hung)
        emit recovered(seconds);
}

void Watchdog::frameLeft() {
    switch (state_) {
    case State::Listening:
        silentFor_.start();
        silentSinceWall_ = QDateTime::currentDateTime();
        deadline_.start(limits_.silenceMs);
        return;
    case State::Asking:
        deadline_.start(limits_.queryWaitMs);
        return;
    case State::Hung:
    case State::Off:
        return;
    }
}

void Watchdog::linkBack() {
    if (state_ == State::Off)
        return;
    if (state_ != State::Hung)
        state_ = State::Asking;
    queries_ = 0;
    emit query();
    deadline_.start(state_ == State::Hung ? limits_.recoveryPollMs : limits_.queryWaitMs);
}

void Watchdog::onDeadline() {
    if (!waiting_()) {
        disarm();
        return;
    }
    if (!linkUp_()) {
        // The link's loss has its own line; wait for it to come back, or
        // for the frames on their way to reach the chip.
        deadline_.start(state_ == State::Hung ? limits_.recoveryPollMs : limits_.silenceMs);
        return;
    }
    switch (state_) {
    case State::Listening:
        state_ = State::Asking;
        emit silent(silentSeconds());
        ask();
        return;
    case State::Asking:
        if (queries_ < kQueriesBeforeVerdict) {
            ask();
            return;
        }
        state_ = State::Hung;
        emit hung(silentSeconds());
        if (state_ == State::Hung) {
            emit query();
            deadline_.start(limits_.recoveryPollMs);
        }
        return;
    case State::Hung:
        emit query();
        deadline_.start(limits_.recoveryPollMs);
        return;
    case State::Off:
        return;
    }
}

void Watchdog::ask() {
    ++queries_;
    emit query();
    if (state_ == State::Asking)
        deadline_.start(limits_.queryWaitMs);
}

qint64 Watchdog::silentSeconds() const {
    return silentFor_.isValid() ? std::llround(double(silentFor_.elapsed()) / 1000.0) : 0;
}

} // namespace qav::session
