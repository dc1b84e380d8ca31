#include "tools/step_player.h"

#include <cmath>

namespace qav::tools {

StepPlayer::StepPlayer(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &StepPlayer::onTimer);
}

void StepPlayer::setTimeScale(double scale) {
    if (scale > 0 && std::isfinite(scale))
        timeScale_ = scale;
}

void StepPlayer::start(StepList steps, Perform perform) {
    stop();
    if (steps.isEmpty() || !perform)
        return;
    steps_ = std::move(steps);
    perform_ = std::move(perform);
    next_ = 0;
    stepsRun_ = 0;
    running_ = true;
    runNext();
}

void StepPlayer::stop() {
    ++generation_;
    timer_.stop();
    hold_ = Hold::None;
    if (!running_)
        return;
    running_ = false;
    emit stopped();
}

void StepPlayer::runNext() {
    if (!running_)
        return;
    hold_ = Hold::None;
    const qsizetype index = next_;
    // Copied: the step may restart the player, which replaces the list.
    const TestStep step = steps_.at(index);
    next_ = (index + 1) % steps_.size();
    ++stepsRun_;
    const quint64 generation = generation_;
    perform_(step);
    if (generation != generation_ || !running_)
        return;
    emit stepRun(index);
    if (generation != generation_ || !running_)
        return;
    waitMs_ = step.waitMs;
    if (!ready()) {
        hold_ = Hold::BeforeWait;
        return;
    }
    startWait();
}

void StepPlayer::startWait() {
    hold_ = Hold::None;
    timer_.start(scaled(waitMs_));
}

void StepPlayer::onTimer() {
    if (!ready()) {
        hold_ = Hold::BeforeStep;
        return;
    }
    runNext();
}

void StepPlayer::readyChanged() {
    if (!running_ || hold_ == Hold::None || !ready())
        return;
    if (hold_ == Hold::BeforeWait) {
        startWait();
    } else {
        hold_ = Hold::None;
        runNext();
    }
}

int StepPlayer::scaled(int waitMs) const {
    if (waitMs <= 0)
        return 0;
    return int(std::lround(waitMs / timeScale_));
}

} // namespace qav::tools
