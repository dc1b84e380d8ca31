#pragma once
// Helpers of the load tests (flood, soak, faults) and the load benchmarks: a
// real event loop to wait in, a probe for how long the loop stood still, the
// memory of the process, and whether the build is instrumented.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <time.h>

namespace qav::test {

// Instrumented builds run several times slower: the load tests scale down.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// Runs a real event loop until `done` holds or the time is up. (QTest's waits
// sleep between their turns of the loop, which would starve the console and
// slow every exchange down to their pace.)
inline bool runUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(2);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, [&] { loop.quit(); });
    check.start();
    loop.exec();
    return done();
}

inline void runFor(int ms) {
    QElapsedTimer t;
    t.start();
    runUntil([&] { return t.elapsed() >= ms; }, ms + 1000);
}

inline double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The longest time the event loop went without serving a 1 ms timer while
// the probe ran, in wall time and in this thread's own processor time (the
// part that is our work rather than other processes holding the processor).
// A wait that blocks the thread shows in the first, busy work in both.
class StallProbe : public QObject {
public:
    StallProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const double wall = clock_.nsecsElapsed() / 1e6;
            const double cpu = threadCpuMs();
            maxWallMs = std::max(maxWallMs, wall - lastWall_);
            maxCpuMs = std::max(maxCpuMs, cpu - lastCpu_);
            lastWall_ = wall;
            lastCpu_ = cpu;
            ++ticks;
        });
    }
    void start() {
        maxWallMs = maxCpuMs = 0;
        ticks = 0;
        clock_.start();
        lastWall_ = 0;
        lastCpu_ = threadCpuMs();
        timer_.start();
    }
    void stop() { timer_.stop(); }
    double maxWallMs = 0;
    double maxCpuMs = 0;
    qint64 ticks = 0;

private:
    QTimer timer_;
    QElapsedTimer clock_;
    double lastWall_ = 0;
    double lastCpu_ = 0;
};

// A memory figure of this process from /proc/self/status, in kB: "VmRSS" for
// what is resident now, "VmHWM" for the most that ever was. -1 when unknown.
inline qint64 processMemoryKb(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray head = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(head))
            return line.mid(head.size()).trimmed().split(' ').first().toLongLong();
    return -1;
}

// Resident memory of this process in MB.
inline double residentMB() {
    const qint64 kb = processMemoryKb("VmRSS");
    return kb < 0 ? -1 : double(kb) / 1024;
}

} // namespace qav::test
