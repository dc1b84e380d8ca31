// The work log's entries byte for byte, one entry per frame however long,
// and the export to LOG.txt.
#include "common/log_helpers.h"
#include "worklog/work_log.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qav;
using namespace qav::test;

class TestWorkLog : public QObject {
    Q_OBJECT
private slots:
    void entryFormat_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("expected");
        QTest::newRow("stop") << QByteArray("\xFD\x00\x01\x02", 4) << QString() << kStopEntry;
        QTest::newRow("prefix") << QByteArray("\xFD\x00\x01\x02", 4) << QStringLiteral("0x")
                                << QStringLiteral(
                                       "发出一帧，字节数  4\r\n----> 0xFD 0x00 0x01 0x02 \r\n");
        QTest::newRow("0A stays two digits")
            << QByteArray("\x0A\xff\x10\x0f", 4) << QString()
            << QStringLiteral("发出一帧，字节数  4\r\n----> 0A FF 10 0F \r\n");
        QTest::newRow("one byte") << QByteArray("\x00", 1) << QString()
                                  << QStringLiteral("发出一帧，字节数  1\r\n----> 00 \r\n");
    }
    void entryFormat() {
        QFETCH(QByteArray, frame);
        QFETCH(QString, prefix);
        QFETCH(QString, expected);
        worklog::WorkLog log;
        log.setHexPrefix(prefix);
        log.appendFrame(frame);
        log.appendFrame(frame); // each entry on lines of its own
        QCOMPARE(allText(log), expected + expected);
    }

    void appendLineEndsTheLineOnce() {
        worklog::WorkLog log;
        QSignalSpy appended(&log, &worklog::WorkLog::appended);
        log.appendLine(QStringLiteral("串口COM1已重新打开"));
        log.appendLine(QString());
        QCOMPARE(allText(log), QStringLiteral("串口COM1已重新打开\r\n\r\n"));
        QCOMPARE(appended.size(), 2);
        QCOMPARE(log.lineCount(), 3);
        // Longer than one piece of an entry: the break comes once, at the end.
        log.clear();
        const QString line = QString(20'000, u'读') + QStringLiteral("完");
        log.appendLine(line);
        QCOMPARE(log.size(), 20'003);
        QCOMPARE(log.line(0), line);
        QCOMPARE(log.text(19'998, 20'003), QStringLiteral("读读完\r\n"));
    }

    void exportAppendsGbkBlocks() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("LOG.txt"));
        {
            QFile earlier(path);
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            earlier.write("old\r\n");
        }
        worklog::WorkLog log;
        log.appendFrame(QByteArray("\xFD\x00\x01\x02", 4));
        log.append(QStringLiteral("芯片空闲\r\n"));
        QVERIFY(!log.exportTo(path));
        worklog::WorkLog empty;
        QVERIFY(!empty.exportTo(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(),
                 QByteArray("old\r\n") + gbk(QStringLiteral("导出数据\r\n") + kStopEntry +
                                             QStringLiteral("芯片空闲\r\n\r\n导出数据\r\n\r\n")));
    }

    void exportFailureGivesTheReason() {
        QTemporaryDir dir;
        worklog::WorkLog log;
        const auto error = log.exportTo(dir.filePath(QStringLiteral("missing/LOG.txt")));
        QVERIFY(error.has_value());
        QVERIFY(!error->isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestWorkLog)
#include "tst_work_log.moc"
