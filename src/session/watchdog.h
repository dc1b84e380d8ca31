#pragma once
// The watchdog of a run: nothing the run waits for may take longer than its
// deadline without a word.
//
//   Off ──arm()──> Listening ──silence limit──> Asking (query) ──no byte──> Asking (query again)
//                    ^   │                          │                           │
//                    └───┴────── any byte ──────────┘                   no byte │
//                                                                               v
//                   recovered() <── any byte ── Hung (the verdict; asks again every poll)
//
// While the run waits for the chip, a silence of the chip as long as the
// silence limit makes the watchdog ask it (silent(), then query()). Any byte
// from the chip starts the wait afresh: 0x4E says it plays a long text, and an
// idle 0x4F is decoded as usual and moves the run on. Two queries without a
// byte in answer give the verdict (hung()); from then on the chip is asked
// again every poll interval, and its first byte ends the hang (recovered()).
//
// A lost link is not a hang: while the link is down the watchdog only waits,
// and so it does while frames are still going out to the chip.
// The owner says what "waiting" and "link up" mean; the watchdog asks each
// time a deadline passes, and goes off by itself once the run no longer waits.

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

namespace qav::session {

class Watchdog : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int silenceMs = 60'000;      // no byte from the chip this long: ask it
        int queryWaitMs = 3'000;     // for the answer to one status query
        int recoveryPollMs = 10'000; // how often a hung chip is asked again
    };
    static constexpr int kQueriesBeforeVerdict = 2;

    // waiting: a run waits for the chip now. linkUp: the link to it is open
    // and no frame is going out on it; the chip cannot answer before.
    Watchdog(std::function<bool()> waiting, std::function<bool()> linkUp,
             QObject* parent = nullptr);

    void setLimits(const Limits& limits) { limits_ = limits; }
    const Limits& limits() const { return limits_; }

    // A run has begun to wait (a frame went out for it): the silence is
    // counted from now, unless the watchdog already counts.
    void arm();
    // The run was stopped: nothing is counted until the next arm().
    void disarm();
    // Bytes came from the chip.
    void chipSpoke();
    // A frame has just left the line: the chip cannot answer it sooner, so
    // a silence that is being counted counts from here, and so does the
    // wait for the answer to a query that waited behind other frames.
    void frameLeft();
    // The link is back after it was lost: ask the chip once at once, so
    // that an idle chip's answer moves the run on.
    void linkBack();

    bool isArmed() const { return state_ != State::Off; }
    bool isHung() const { return state_ == State::Hung; }
    // When the chip last said anything, or the wait began.
    QDateTime silentSince() const { return silentSinceWall_; }

signals:
    void silent(qint64 seconds); // the silence limit passed; a query follows
    void query();                // send the status query now
    void hung(qint64 silentSeconds);
    void recovered(qint64 silentSeconds);

private:
    enum class State { Off, Listening, Asking, Hung };

    void onDeadline();
    void ask();
    void listen();
    qint64 silentSeconds() const;

    std::function<bool()> waiting_;
    std::function<bool()> linkUp_;
    Limits limits_;
    State state_ = State::Off;
    int queries_ = 0;
    QTimer deadline_;
    QElapsedTimer silentFor_;
    QDateTime silentSinceWall_;
};

} // namespace qav::session
