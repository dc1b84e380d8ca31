// The work log: entries byte for byte, the "0x" prefix, clearing, the text
// box mirroring the log, and the export to LOG.txt.
#include "app/form1.h"
#include "app/work_log_view.h"
#include "app_helpers.h"
#include "session/work_log.h"

#include <QCheckBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <memory>

using namespace qav;
using qav::test::ConsoleFixture;

namespace {
const QString kStopEntry = QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 02 \r\n");
}

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
        QCOMPARE(session::WorkLog::frameEntry(frame, prefix), expected);
    }

    void consecutiveCommandsStartOnTheirOwnLines() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        f.Command7->click();
        f.Command7->click();
        QCOMPARE(f.workLog().text(), kStopEntry + kStopEntry);
        f.workLogView().flush();
        // The box shows the same four lines (CR LF as line breaks).
        QCOMPARE(
            f.Text4->toPlainText() + QLatin1Char('\n'),
            QString(kStopEntry + kStopEntry).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) +
                QLatin1Char('\n'));
        QCOMPARE(f.Text4->caret(), f.workLog().size());
    }

    void prefixAppliesToLaterEntriesOnly() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        f.Command7_Click();
        f.Check5->click();
        QCOMPARE(f.workLog().hexPrefix(), QStringLiteral("0x"));
        f.Command8_Click();
        f.Check5->click();
        QCOMPARE(f.workLog().hexPrefix(), QString());
        f.Command9_Click();
        QCOMPARE(f.workLog().text(),
                 kStopEntry +
                     QStringLiteral("发出一帧，字节数  4\r\n----> 0xFD 0x00 0x01 0x03 \r\n") +
                     QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 04 \r\n"));
    }

    void clearingEmptiesLogAndBox() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        f.Command7_Click();
        f.Command2->click();
        QCOMPARE(f.workLog().text(), QString());
        QCOMPARE(f.Text4->toPlainText(), QString());
        f.Command28_Click();
        QCOMPARE(f.workLog().text(),
                 QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 21 \r\n"));
    }

    void longFrameIsOneEntry() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        QByteArray frame(3005, '\x41');
        f.session().sendFrame(frame);
        const QString text = f.workLog().text();
        QVERIFY(text.startsWith(QStringLiteral("发出一帧，字节数  3005\r\n----> 41 41 ")));
        QCOMPARE(text.count(QStringLiteral("\r\n")), 2);
        QCOMPARE(f.state().lastFrameIndex, 3004);
        // Exactly the bytes handed over are logged.
        f.Command2_Click();
        f.session().sendFrame(QByteArray("\x01\x02", 2));
        QCOMPARE(f.workLog().text(), QStringLiteral("发出一帧，字节数  2\r\n----> 01 02 \r\n"));
    }

    void pieceByPieceLinesMirrorIntoTheBox() {
        QWidget view;
        session::WorkLog log;
        qav::app::WorkLogView viewer(log, &view);
        log.append(QStringLiteral("<---- 返回：41  接收成功\r"));
        log.append(QStringLiteral("\n第二行\r\n"));
        log.append(QStringLiteral("第三行"));
        viewer.flush();
        QCOMPARE(viewer.toPlainText(), QStringLiteral("<---- 返回：41  接收成功\n第二行\n第三行"));
        QCOMPARE(log.text(), QStringLiteral("<---- 返回：41  接收成功\r\n第二行\r\n第三行"));
    }

    void boxFollowsTheTextSoonAfter() {
        QWidget view;
        session::WorkLog log;
        qav::app::WorkLogView viewer(log, &view);
        const QString entry = session::WorkLog::frameEntry(QByteArray(4096, '\x5A'), QString());
        for (int i = 0; i < 3; ++i)
            log.append(entry);
        // The text is complete at once; the box catches up by itself.
        QCOMPARE(log.text(), entry + entry + entry);
        QCOMPARE(viewer.toPlainText(), QString());
        const QString shown = QString(entry).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QTRY_COMPARE(viewer.toPlainText(), shown + shown + shown);
        QCOMPARE(viewer.pendingViewChars(), 0);
        QCOMPARE(viewer.caret(), log.size());

        // Clearing drops what the box has not shown yet.
        log.append(entry);
        log.clear();
        QTest::qWait(3 * app::WorkLogView::kViewDelayMs);
        QCOMPARE(viewer.toPlainText(), QString());
        QCOMPARE(log.text(), QString());
    }

    void bigBurstIsShownInWholeLines() {
        // A burst of long lines: the box ends up with every one of them.
        QWidget view;
        session::WorkLog log;
        qav::app::WorkLogView viewer(log, &view);
        QString expected;
        for (int i = 0; i < 40; ++i) {
            const QString line = QStringLiteral("line %1 ").arg(i) + QString(5000, u'x');
            log.append(line + QStringLiteral("\r\n"));
            expected += line + QLatin1Char('\n');
        }
        viewer.flush();
        QCOMPARE(viewer.toPlainText(), expected);
    }

    void viewGoneFirstIsHarmless() {
        auto view = std::make_unique<QWidget>();
        session::WorkLog log;
        new app::WorkLogView(log, view.get()); // goes with the box
        log.append(QStringLiteral("a\r\n"));
        view.reset();
        log.append(QStringLiteral("b\r\n"));
        QTest::qWait(3 * app::WorkLogView::kViewDelayMs);
        QCOMPARE(log.text(), QStringLiteral("a\r\nb\r\n"));
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
        QCOMPARE(f.readAll(), QByteArray("old\r\n") +
                                  test::gbk(QStringLiteral("导出数据\r\n") + kStopEntry +
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

QTEST_MAIN(TestWorkLog)
#include "tst_work_log.moc"
