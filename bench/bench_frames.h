#pragma once
// What the load benchmarks log: the hex area's 33-byte start frame and a
// 4096-byte synthesis frame, and this thread's processor time.
#include <QByteArray>
#include <ctime>

namespace qav::bench {

inline double cpuMicros() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

inline QByteArray hexAreaFrame() {
    return QByteArray::fromHex(
        "FD001E0101BBB6D3ADB9DBBFB4D3EFD2F4BACFB3C9CFB5CDB3B5C4D1DDCABEA3A1");
}

inline QByteArray synthesisFrame() {
    QByteArray frame(4096, '\0');
    frame[0] = char(0xFD);
    frame[1] = char(0x0F);
    frame[2] = char(0xFD);
    frame[3] = 0x01;
    frame[4] = 0x01;
    for (int i = 5; i < frame.size(); ++i)
        frame[i] = char(0xB0 + i % 0x40);
    return frame;
}

} // namespace qav::bench
