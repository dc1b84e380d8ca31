// The work log in the window: the box mirroring the log, the "0x" box and
// the clear button.
#include "app/form1.h"
#include "app_helpers.h"
#include "common/load_helpers.h"
#include "logview/work_log_view.h"
#include "worklog/work_log.h"

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
using namespace qav::test;

class TestWorkLog : public QObject {
    Q_OBJECT
private slots:
    void consecutiveCommandsStartOnTheirOwnLines() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        f.Command7->click();
        f.Command7->click();
        QCOMPARE(allText(f.workLog()), kStopEntry + kStopEntry);
        f.workLogView().flush();
        // The box shows the same four lines (CR LF as line breaks).
        QCOMPARE(
            f.Text4->toPlainText() + QLatin1Char('\n'),
            QString(kStopEntry + kStopEntry).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) +
                QLatin1Char('\n'));
        QCOMPARE(f.Text4->caret(), f.workLog().size());
    }

    void prefixBoxSetsThePrefix() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        f.Check5->click();
        QCOMPARE(f.workLog().hexPrefix(), QStringLiteral("0x"));
        f.Command8_Click();
        f.Check5->click();
        QCOMPARE(f.workLog().hexPrefix(), QString());
        QCOMPARE(allText(f.workLog()),
                 QStringLiteral("发出一帧，字节数  4\r\n----> 0xFD 0x00 0x01 0x03 \r\n"));
    }

    void clearingEmptiesLogAndBox() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        f.Command7_Click();
        f.Command2->click();
        QCOMPARE(allText(f.workLog()), QString());
        QCOMPARE(f.Text4->toPlainText(), QString());
        f.Command28_Click();
        QCOMPARE(allText(f.workLog()),
                 QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 21 \r\n"));
    }

    void pieceByPieceLinesMirrorIntoTheBox() {
        QWidget view;
        worklog::WorkLog log;
        qav::logview::WorkLogView viewer(log, &view);
        log.append(QStringLiteral("<---- 返回：41  接收成功\r"));
        log.append(QStringLiteral("\n第二行\r\n"));
        log.append(QStringLiteral("第三行"));
        viewer.flush();
        QCOMPARE(viewer.toPlainText(), QStringLiteral("<---- 返回：41  接收成功\n第二行\n第三行"));
        QCOMPARE(allText(log), QStringLiteral("<---- 返回：41  接收成功\r\n第二行\r\n第三行"));
    }

    void boxFollowsTheTextSoonAfter() {
        QWidget view;
        worklog::WorkLog log;
        qav::logview::WorkLogView viewer(log, &view);
        const QString entry = frameEntry(QByteArray(4096, '\x5A'), QString());
        for (int i = 0; i < 3; ++i)
            log.append(entry);
        // The text is complete at once; the box catches up by itself.
        QCOMPARE(allText(log), entry + entry + entry);
        QCOMPARE(viewer.toPlainText(), QString());
        const QString shown = QString(entry).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QTRY_COMPARE(viewer.toPlainText(), shown + shown + shown);
        QCOMPARE(viewer.pendingViewChars(), 0);
        QCOMPARE(viewer.caret(), log.size());

        // Clearing drops what the box has not shown yet.
        log.append(entry);
        log.clear();
        QTest::qWait(3 * logview::WorkLogView::kViewDelayMs); // nothing may be shown meanwhile
        QCOMPARE(viewer.toPlainText(), QString());
        QCOMPARE(allText(log), QString());
    }

    void bigBurstIsShownInWholeLines() {
        // A burst of long lines: the box ends up with every one of them.
        QWidget view;
        worklog::WorkLog log;
        qav::logview::WorkLogView viewer(log, &view);
        QString expected;
        for (int i = 0; i < 40; ++i) {
            const QString line = QStringLiteral("line %1 ").arg(i) + QString(5000, u'x');
            log.append(line + QStringLiteral("\r\n"));
            expected += line + QLatin1Char('\n');
        }
        viewer.flush();
        QCOMPARE(viewer.toPlainText(), expected);
    }

    void boxKeepsTheLoopTurningUnderABurst() {
        // A flood of reply lines and long frame entries: the box catches up
        // slice by slice, and the event loop keeps turning meanwhile.
        QWidget view;
        worklog::WorkLog log;
        qav::logview::WorkLogView viewer(log, &view);
        const QString entry = frameEntry(QByteArray(4005, '\x5A'), QString());
        const QString reply = QStringLiteral("<---- 返回：4F  芯片空闲\r\n");
        for (int i = 0; i < 200; ++i) {
            log.append(entry);
            for (int k = 0; k < 20; ++k)
                log.append(reply);
        }
        StallProbe probe;
        probe.start();
        QVERIFY(runUntil([&] { return viewer.pendingViewChars() == 0; }, 60000));
        probe.stop();
        qInfo("longest stall %.1f ms (%.1f ms of our own processor time)", probe.maxWallMs,
              probe.maxCpuMs);
        QCOMPARE(viewer.toPlainText().count(QLatin1Char('\n')), 200 * 22);
        QVERIFY(probe.maxCpuMs <= (kSanitized ? 150 : 50));
    }

    void viewGoneFirstIsHarmless() {
        auto view = std::make_unique<QWidget>();
        worklog::WorkLog log;
        new logview::WorkLogView(log, view.get()); // goes with the box
        log.append(QStringLiteral("a\r\n"));
        view.reset();
        log.append(QStringLiteral("b\r\n"));
        QTest::qWait(
            3 * logview::WorkLogView::kViewDelayMs); // the box's timer may not fire into nothing
        QCOMPARE(allText(log), QStringLiteral("a\r\nb\r\n"));
    }
};

QTEST_MAIN(TestWorkLog)
#include "tst_work_log.moc"
