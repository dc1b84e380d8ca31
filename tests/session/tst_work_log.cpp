// The work log's entries byte for byte, one entry per frame however long,
// and the export to LOG.txt.
#include "session/work_log.h"
#include "session_helpers.h"

#include <QFile>
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
        session::WorkLog log;
        log.setHexPrefix(prefix);
        log.appendFrame(frame);
        log.appendFrame(frame); // each entry on lines of its own
        QCOMPARE(log.text(), expected + expected);
    }

    void longFrameIsOneEntry() {
        SessionFixture s;
        const QByteArray frame(3005, '\x41');
        s.session().sendFrame(frame);
        QVERIFY(s.log().startsWith(QStringLiteral("发出一帧，字节数  3005\r\n----> 41 41 ")));
        QCOMPARE(s.log().count(QStringLiteral("\r\n")), 2);
        QCOMPARE(s.log(), frameEntry(frame));
        QCOMPARE(s.state().lastFrameIndex, 3004);
        // Exactly the bytes handed over are logged.
        s.session().workLog().clear();
        s.session().sendFrame(QByteArray("\x01\x02", 2));
        QCOMPARE(s.log(), QStringLiteral("发出一帧，字节数  2\r\n----> 01 02 \r\n"));
        QCOMPARE(s.state().lastFrameIndex, 1);
    }

    void prefixAppliesToLaterEntriesOnly() {
        SessionFixture s;
        s.session().sendCommand(protocol::Command::Stop);
        s.session().setHexPrefixShown(true);
        s.session().sendCommand(protocol::Command::Pause);
        s.session().setHexPrefixShown(false);
        s.session().sendCommand(protocol::Command::Resume);
        QCOMPARE(s.log(),
                 kStopEntry + QStringLiteral("发出一帧，字节数  4\r\n----> 0xFD 0x00 0x01 0x03 \r\n"
                                             "发出一帧，字节数  4\r\n----> FD 00 01 04 \r\n"));
    }

    void exportAppendsGbkBlocks() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("LOG.txt"));
        {
            QFile earlier(path);
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            earlier.write("old\r\n");
        }
        session::WorkLog log;
        log.appendFrame(QByteArray("\xFD\x00\x01\x02", 4));
        log.append(QStringLiteral("芯片空闲\r\n"));
        QVERIFY(!log.exportTo(path));
        session::WorkLog empty;
        QVERIFY(!empty.exportTo(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(),
                 QByteArray("old\r\n") + gbk(QStringLiteral("导出数据\r\n") + kStopEntry +
                                             QStringLiteral("芯片空闲\r\n\r\n导出数据\r\n\r\n")));
    }

    void exportFailureGivesTheReason() {
        QTemporaryDir dir;
        session::WorkLog log;
        const auto error = log.exportTo(dir.filePath(QStringLiteral("missing/LOG.txt")));
        QVERIFY(error.has_value());
        QVERIFY(!error->isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestWorkLog)
#include "tst_work_log.moc"
