// A long run of the work log in its box: the crash test's entries, taken in
// by the box as they come, must not make the process grow. Whatever the log
// and the box keep in memory (the index's cache, the laid-out rows) is made
// in the first few thousand entries and then only reused.
#include "common/load_helpers.h"
#include "logview/work_log_view.h"
#include "worklog/work_log.h"

#include <QTest>
#include <malloc.h>

using qav::logview::WorkLogView;
using qav::worklog::WorkLog;

namespace {

constexpr int kEntries = 200'000;
constexpr int kWarmEntries = 3'000; // every cache is full by here
constexpr int kStepsPerCatchUp = 10;
constexpr double kMaxHeapGrowthMiB = 1;
constexpr double kMaxResidentGrowthMiB = 1.5;

double heapInUseMiB() {
    const struct mallinfo2 m = mallinfo2();
    return double(m.uordblks + m.hblkhd) / (1024 * 1024);
}

// A synthesis frame of the crash test's size: FD, the length, 01 01, text.
QByteArray crashFrame(int textBytes) {
    QByteArray frame = QByteArray::fromHex("FD0000 0101");
    frame[1] = char((textBytes + 2) >> 8);
    frame[2] = char((textBytes + 2) & 0xFF);
    const QByteArray text = QByteArray::fromHex("BBB6D3ADB9E2C1D9") + "[d][g1][s10] 1- 5- 5 ";
    return frame + text.repeated(textBytes / text.size() + 1).left(textBytes);
}

} // namespace

class TestLogMemory : public QObject {
    Q_OBJECT
private slots:
    void longRunDoesNotGrow() {
        if (qav::test::kSanitized)
            QSKIP("instrumented builds keep freed memory aside");
        WorkLog log;
        WorkLogView box(log);
        box.resize(640, 300);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        const QList<QByteArray> frames = {crashFrame(200), crashFrame(333), crashFrame(480)};
        const QString received = QStringLiteral("<---- 返回：41  接收成功\r\n");
        const QString idle = QStringLiteral("<---- 返回：4F  芯片空闲\r\n");

        double warmHeap = 0, warmResident = 0;
        for (int entries = 0, step = 0; entries < kEntries; ++step) {
            log.appendFrame(frames[step % frames.size()]);
            log.append(received);
            log.append(idle);
            entries += 3;
            if (step % kStepsPerCatchUp == 0) {
                box.flush();
                QCoreApplication::processEvents(); // its repaint
            }
            if (warmHeap == 0 && entries >= kWarmEntries) {
                warmHeap = heapInUseMiB();
                warmResident = qav::test::residentMB();
            }
        }
        box.flush();
        QCoreApplication::processEvents();
        QVERIFY(box.isFollowing());
        const QStringList rows = box.visibleRows(); // the last one is empty, after the break
        QVERIFY(rows.size() >= 2);
        QCOMPARE(rows.at(rows.size() - 2), QStringLiteral("<---- 返回：4F  芯片空闲"));
        const double heapGrowth = heapInUseMiB() - warmHeap;
        const double residentGrowth = qav::test::residentMB() - warmResident;
        qInfo("after %d entries: heap in use %.2f MiB, resident %.2f MiB; after %d: growth "
              "%+.2f MiB heap, %+.2f MiB resident; log %.0f M characters",
              kWarmEntries, warmHeap, warmResident, kEntries, heapGrowth, residentGrowth,
              double(log.size()) / 1e6);
        QVERIFY2(heapGrowth < kMaxHeapGrowthMiB, qPrintable(QString::number(heapGrowth)));
        QVERIFY2(residentGrowth < kMaxResidentGrowthMiB,
                 qPrintable(QString::number(residentGrowth)));
    }
};

QTEST_MAIN(TestLogMemory)
#include "tst_log_memory.moc"
