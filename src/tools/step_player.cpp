#include "tools/step_player.h"

#include <cmath>

namespace qav::tools {

StepPlayer::StepPlayer(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &StepPlayer::runNext);
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
    if (!running_)
        return;
    running_ = false;
    emit stopped();
}

void StepPlayer::runNext() {
    if (!running_)
        return;
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
    timer_.start(scaled(step.waitMs));
}

int StepPlayer::scaled(int waitMs) const {
    if (waitMs <= 0)
        return 0;
    return int(std::lround(waitMs / timeScale_));
}

} // namespace qav::tools
