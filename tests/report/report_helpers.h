#pragma once
// Captures with known times, written by the console's own capture writer,
// for the report's tests: a crash test that hangs once and recovers, and
// captures cut off or damaged.

#include "common/hex_bytes.h"
#include "worklog/capture_file.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QTimeZone>
#include <ctime>

namespace qav::test {

// The report shows local times; the tests read them in China's time.
inline void useChinaTime() {
    qputenv("TZ", "CST-8");
    ::tzset();
}

// 2026-12-08 03:00:00 in China (UTC+8).
inline constexpr qint64 kRunStartMs = 1796670000000;

// A capture whose packets are placed at milliseconds after kRunStartMs.
class TimedCapture {
public:
    explicit TimedCapture(const QString& path, qint64 startMs = kRunStartMs) : start_(startMs) {
        file_.open(path);
    }
    void frame(qint64 atMs, const QByteArray& bytes) { file_.frameSent(bytes, micros(atMs)); }
    void chip(qint64 atMs, const QByteArray& bytes) { file_.serialReceived(bytes, micros(atMs)); }
    void usbIn(qint64 atMs, const QByteArray& report) { file_.usbReportRead(report, micros(atMs)); }
    void event(qint64 atMs, const QString& text) { file_.event(text, micros(atMs)); }
    void close() { file_.close(); }

private:
    qint64 micros(qint64 atMs) const { return (start_ + atMs) * 1000; }
    worklog::CaptureFile file_;
    qint64 start_;
};

inline const QByteArray kSpeakFrame = hex("FD00060101C4E3BAC3"); // 你好, GBK
inline const QByteArray kQueryFrame = hex("FD000121");
inline const QByteArray kStopFrame = hex("FD000102");
inline const QByteArray kReceived = hex("41");
inline const QByteArray kIdle = hex("4F");
inline const QByteArray kFresh = hex("4A");

// A crash test of twelve steps on COM1 at 9600 baud. Steps 1 to 10 take
// 40 + k ms to 0x41 and 2000 + 100 k ms to 0x4F (k = 0..9); step 11 hangs
// after its 0x41 at 100.05 s: the watchdog asks twice and gives its verdict
// at 166.05 s; the chip starts afresh at 300 s and step 12 runs normally.
// Then "停止", the link lost and back, and "清空"; the last packet is at 340 s.
inline void writeCrashRunWithAHang(const QString& path, qint64 startMs = kRunStartMs) {
    TimedCapture c(path, startMs);
    c.event(0, QStringLiteral("测试开始 test=crash-test port=COM1 settings=9600,N,8,1"));
    for (int k = 0; k < 10; ++k) {
        const qint64 t = k * 10000 + 10;
        c.frame(t, kSpeakFrame);
        c.chip(t + 40 + k, kReceived);
        c.chip(t + 2000 + 100 * k, kIdle);
    }
    c.frame(100010, kSpeakFrame);
    c.chip(100050, kReceived);
    c.event(160050, QStringLiteral("芯片无回传 60 秒，查询芯片状态"));
    c.frame(160050, kQueryFrame);
    c.frame(163050, kQueryFrame);
    c.event(166050, QStringLiteral("芯片死机：2026-12-08 03:02:46，无回传 66 秒，死机测试 循环 1 "
                                   "文本 2 控制标记 1"));
    c.chip(300000, kFresh);
    c.event(300001, QStringLiteral("芯片已恢复：2026-12-08 03:05:00，无回传 199 秒"));
    c.frame(300010, kSpeakFrame);
    c.chip(300050, kReceived);
    c.chip(302010, kIdle);
    c.event(310000, QStringLiteral("停止"));
    c.frame(310000, kStopFrame);
    c.chip(310030, kReceived);
    c.chip(310100, kIdle);
    c.event(320000, QStringLiteral("串口COM1已断开：设备已移除"));
    c.event(330000, QStringLiteral("串口COM1已重新打开"));
    c.event(340000, QStringLiteral("清空"));
}

// The bytes of writeCrashRunWithAHang's capture, written into dir.
inline QByteArray crashRunWithAHangBytes(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("whole.pcapng"));
    writeCrashRunWithAHang(path);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An hour of a crash test: a step every 10 s, 0x41 after 40 ms and 0x4F
// after 2 to 2.6 s; the chip hangs in the steps at 20 and 40 minutes, gets
// its verdict 66 s later and is back five minutes after it hung. "清空" at
// 10 minutes, the link lost at 50 and back at 52, "停止" at the end.
inline constexpr qint64 kHangAtMs[] = {1'200'000, 2'400'000};
inline constexpr qint64 kHangSilenceMs = 300'000;
inline constexpr qint64 kVerdictAfterMs = 66'000;

inline void writeHourWithTwoHangs(const QString& path, qint64 startMs = kRunStartMs) {
    TimedCapture c(path, startMs);
    c.event(0, QStringLiteral("测试开始 test=crash-test port=COM2 settings=115200,N,8,1"));
    int hang = 0;
    for (qint64 t = 10'000; t < 3'590'000; t += 10'000) {
        c.frame(t, kSpeakFrame);
        c.chip(t + 40, kReceived);
        if (hang < 2 && t == kHangAtMs[hang]) {
            c.event(t + kVerdictAfterMs,
                    QStringLiteral("芯片死机：第 %1 次，无回传 66 秒").arg(hang + 1));
            c.chip(t + kHangSilenceMs, kFresh);
            c.event(t + kHangSilenceMs + 1,
                    QStringLiteral("芯片已恢复：第 %1 次，无回传 300 秒").arg(hang + 1));
            t += kHangSilenceMs;
            ++hang;
            continue;
        }
        c.chip(t + 2000 + (t / 10'000 % 7) * 100, kIdle);
        if (t == 600'000)
            c.event(t + 5000, QStringLiteral("清空"));
        if (t == 3'000'000)
            c.event(t + 5000, QStringLiteral("串口COM2已断开：设备已移除"));
        if (t == 3'120'000)
            c.event(t + 5000, QStringLiteral("串口COM2已重新打开"));
    }
    c.event(3'600'000, QStringLiteral("停止"));
    c.frame(3'600'000, kStopFrame);
}

} // namespace qav::test
