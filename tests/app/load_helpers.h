#pragma once
// Helpers of the load tests (flood, soak): a real event loop to wait in, the
// resident memory of the process, and whether the build is instrumented.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <functional>

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

// Resident memory of this process in MB, from /proc/self/status.
inline double residentMB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return -1;
}

} // namespace qav::test
