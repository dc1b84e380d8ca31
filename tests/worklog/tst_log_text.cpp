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
        QCOMPARE(log.text(0, log.size()), log.text());
        log.clear();
        QCOMPARE(log.lineCount(), 1);
        QCOMPARE(log.size(), 0);
    }
};

QTEST_MAIN(TestLogText)
#include "tst_log_text.moc"
