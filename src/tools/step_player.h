#pragma once
// Plays a list of test steps on the event loop: it runs a step, arms a
// single-shot timer for the step's wait, and runs the next step when the
// timer fires, wrapping round to the first step after the last. Nothing
// blocks, so the window stays responsive and stop() takes effect at once.

#include "tools/test_steps.h"

#include <QObject>
#include <QTimer>
#include <functional>

namespace qav::tools {

class StepPlayer : public QObject {
    Q_OBJECT
public:
    using Perform = std::function<void(const TestStep&)>;

    explicit StepPlayer(QObject* parent = nullptr);

    // Waits are divided by the scale: 1000 plays a 1 s wait in 1 ms. A
    // change applies from the next wait on.
    void setTimeScale(double scale);
    double timeScale() const { return timeScale_; }

    // The player holds while this is false: a step's wait starts only once
    // it holds after the step, and a step that falls due meanwhile runs only
    // once it holds again. The owner calls readyChanged() when it may have
    // become true. Without one the player never holds.
    void setReadyCheck(std::function<bool()> ready) { ready_ = std::move(ready); }
    void readyChanged();
    bool isHolding() const { return hold_ != Hold::None; }

    // Replaces whatever was playing, runs the first step at once and keeps
    // going until stop(). An empty list starts nothing.
    void start(StepList steps, Perform perform);
    void stop();
    bool isRunning() const { return running_; }

    // Steps run since the last start, and the index of the next one.
    qint64 stepsRun() const { return stepsRun_; }
    qsizetype nextIndex() const { return next_; }

signals:
    void stepRun(qsizetype index);
    void stopped();

private:
    enum class Hold { None, BeforeWait, BeforeStep };
    void onTimer();
    void runNext();
    void startWait();
    bool ready() const { return !ready_ || ready_(); }
    int scaled(int waitMs) const;

    QTimer timer_;
    StepList steps_;
    Perform perform_;
    std::function<bool()> ready_;
    Hold hold_ = Hold::None;
    int waitMs_ = 0; // of the step just run
    qsizetype next_ = 0;
    qint64 stepsRun_ = 0;
    quint64 generation_ = 0; // bumped by start and stop, so a step that restarts or stops the
                             // player is not followed by a stale wait
    double timeScale_ = 1.0;
    bool running_ = false;
};

} // namespace qav::tools
