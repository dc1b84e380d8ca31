// The work log read by lines: where lines begin and end, whatever the breaks.
#include "worklog/work_log.h"

#include <QTest>

using qav::worklog::WorkLog;

class TestLogText : public QObject {
    Q_OBJECT
private slots:
    void linesOfEveryBreak() {
        WorkLog log;
        QCOMPARE(log.lineCount(), 1);
        QCOMPARE(log.line(0), QString());
        // A CR LF split over two appends is one break; lone CR and LF are one each.
        log.append(QStringLiteral("发出一帧\r"));
        log.append(QStringLiteral("\n----> FD \r\nS1.0\rx\n"));
        log.append(QStringLiteral("tail"));
        QCOMPARE(log.lineCount(), 5);
        const QStringList lines = {QStringLiteral("发出一帧"), QStringLiteral("----> FD "),
                                   QStringLiteral("S1.0"), QStringLiteral("x"),
                                   QStringLiteral("tail")};
        const qint64 starts[] = {0, 6, 17, 22, 24};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(log.line(i), lines[i]);
            QCOMPARE(log.lineStart(i), starts[i]);
            QCOMPARE(log.lineOf(starts[i]), qint64(i));
        }
        QCOMPARE(log.lineOf(5), 0);  // the CR of the first break
        QCOMPARE(log.lineOf(28), 4); // the end of the text
        QCOMPARE(log.text(4, 8), QStringLiteral("\r\n--"));
        QCOMPARE(log.text(0, log.size()), QStringLiteral("发出一帧\r\n----> FD \r\nS1.0\rx\ntail"));
        log.clear();
        QCOMPARE(log.lineCount(), 1);
        QCOMPARE(log.size(), 0);
    }

    void marksOfTheIndexInsideEntries() {
        // The index marks its place every 64 KiB, inside an entry if need be,
        // but never between a CR and its LF (bytes 65535 and 65536 here) nor
        // inside a two-byte code (长 at bytes 131072 and 131073).
        WorkLog log;
        const QString first = QStringLiteral("x") + QString(65'534, u'a');
        const QString second = QString(65'527, u'b') + QStringLiteral("长尾");
        const QString text =
            first + QStringLiteral("\r\n第二行\r\n") + second + QStringLiteral("\r\nend");
        log.append(QStringLiteral("x"));
        log.append(QString(65'534, u'a') + QStringLiteral("\r\n第二行"));
        log.append(QStringLiteral("\r\n") + second + QStringLiteral("\r\n"));
        log.append(QStringLiteral("end"));
        QCOMPARE(log.size(), text.size());
        QCOMPARE(log.lineCount(), 4);
        QCOMPARE(log.line(0), first);
        QCOMPARE(log.line(1), QStringLiteral("第二行"));
        QCOMPARE(log.line(2), second);
        QCOMPARE(log.line(3), QStringLiteral("end"));
        const qint64 starts[] = {0, 65'537, 65'542, 131'073};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(log.lineStart(i), starts[i]);
            QCOMPARE(log.lineOf(starts[i]), qint64(i));
        }
        QCOMPARE(log.lineOf(65'535), 0); // the CR
        QCOMPARE(log.lineOf(65'536), 0); // its LF
        QCOMPARE(log.text(65'533, 65'540), QStringLiteral("aa\r\n第二行"));
        QCOMPARE(log.text(131'067, 131'075), QStringLiteral("bb长尾\r\nen"));
        QCOMPARE(log.text(0, log.size()), text);
    }

    void manySegmentsReadInAnyOrder() {
        // Far more segments than the index keeps at once, asked for out of order.
        WorkLog log;
        for (int i = 0; i < 40'000; ++i)
            log.append(QStringLiteral("第%1行：----> FD 00 01 02\r\n").arg(i));
        QCOMPARE(log.lineCount(), 40'001);
        for (int i : {39'999, 0, 20'000, 7, 31'111, 12'345, 39'000, 1, 25'000, 5'000, 39'998})
            QCOMPARE(log.line(i), QStringLiteral("第%1行：----> FD 00 01 02").arg(i));
        QCOMPARE(log.lineOf(log.lineStart(27'182) + 3), 27'182);
        QCOMPARE(log.text(log.lineStart(9'999), log.lineStart(10'001)),
                 QStringLiteral("第9999行：----> FD 00 01 02\r\n第10000行：----> FD 00 01 02\r\n"));
        // Cleared and written again: nothing of the old log is read back.
        log.clear();
        log.append(QStringLiteral("新的\r\n"));
        QCOMPARE(log.line(0), QStringLiteral("新的"));
        QCOMPARE(log.lineCount(), 2);
    }
};

QTEST_MAIN(TestLogText)
#include "tst_log_text.moc"
