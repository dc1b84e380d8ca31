// The test tools in the window: interrupted play, the scripts and their stop
// paths, continuous play and the crash test, against the chip emulator
// where replies matter.
#include "app_helpers.h"
#include "link/serial_port_service.h"
#include "tools/crash_test.h"
#include "tools/playback_text.h"
#include "tools/step_player.h"
#include "tools/test_steps.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace qav;
using qav::test::ConsoleFixture;
using qav::test::gbk;

namespace {

// Frames in the order the work log shows them.
QList<QByteArray> loggedFrames(const QString& log) {
    QList<QByteArray> frames;
    for (const QString& line : log.split(QStringLiteral("\r\n"))) {
        if (line.startsWith(QStringLiteral("----> ")))
            frames << QByteArray::fromHex(line.mid(6).remove(QStringLiteral("0x")).toLatin1());
    }
    return frames;
}

qsizetype frameCount(app::Form1& f) {
    return f.workLog().text().count(QStringLiteral("----> "));
}

// Plays the window's sequences faster by the given factor.
tools::StepPlayer* scalePlayer(app::Form1& f, double scale) {
    tools::StepPlayer& player = f.session().stepPlayer();
    player.setTimeScale(scale);
    return &player;
}

// The chip emulator on a pseudo-terminal linked as COM1 in the folder.
class Emulator {
public:
    Emulator(const QString& dir, double timeScale) {
        process_.setProgram(QStringLiteral(QAV_EMULATOR_PATH));
        process_.setArguments({QStringLiteral("--dir"), dir, QStringLiteral("--port"),
                               QStringLiteral("1"), QStringLiteral("--time-scale"),
                               QString::number(timeScale), QStringLiteral("--quiet")});
        process_.start();
        link_ = QDir(dir).filePath(QStringLiteral("COM1"));
    }
    ~Emulator() {
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill();
    }
    bool ready() {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            if (QFileInfo(link_).isSymLink() || QFileInfo::exists(link_))
                return true;
            QTest::qWait(10);
        }
        return false;
    }

private:
    QProcess process_;
    QString link_;
};

QByteArray synthesisFrameOf(const QString& text) {
    return tools::gbkTextFrame(text);
}

QString gbkText(const QByteArray& bytes) {
    QStringDecoder gbk("GBK");
    return gbk.decode(bytes);
}

} // namespace

class TestToolsWindow : public QObject {
    Q_OBJECT
private slots:
    void interruptedPlaySendsGrowingWaits() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        c.messages().clear(); // no chip on COM1 here
        f.sendText().setText(QStringLiteral("打断"));
        f.workLog().clear();
        f.Text6->setText(QStringLiteral("1s"));
        f.Command23_Click();
        f.Text6->setText(QStringLiteral("1000"));
        f.Text7->setText(QString());
        f.Command23_Click();
        QCOMPARE(c.messages(), QStringList(2, QStringLiteral("请输入大于等于1的整数")));
        QCOMPARE(frameCount(f), 0); // nothing started

        f.Text7->setText(QStringLiteral("2"));
        auto* player = scalePlayer(f, 20); // 1 s -> 50 ms
        QList<qint64> at;
        QElapsedTimer clock;
        clock.start();
        connect(player, &tools::StepPlayer::stepRun, player, [&] { at << clock.elapsed(); });
        f.Command23_Click();
        QTRY_VERIFY_WITH_TIMEOUT(frameCount(f) >= 9, 5000);
        f.Command23_Click(); // pressed again: stops
        const qsizetype stoppedAt = frameCount(f);
        QTest::qWait(200);
        QCOMPARE(frameCount(f), stoppedAt);

        const QByteArray s = synthesisFrameOf(QStringLiteral("打断"));
        const QByteArray m = tools::cycleMarkerFrame();
        QCOMPARE(loggedFrames(f.workLog().text()).mid(0, 9),
                 QList<QByteArray>({s, s, s, m, s, s, s, m, s}));
        // Waits 50, 100, 150, then 75 after the marker (scaled), in that order.
        QVERIFY(at.size() >= 5);
        const qint64 expected[] = {50, 100, 150, 75};
        for (int i = 0; i < 4; ++i) {
            const qint64 gap = at[i + 1] - at[i];
            QVERIFY2(gap >= expected[i] - 5 && gap < expected[i] + 150,
                     qPrintable(QStringLiteral("wait %1 took %2 ms").arg(i).arg(gap)));
        }
    }

    void script123PlaysItsListResponsively() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        f.Combo5->setCurrentIndex(0); // another encoding does not change the script's frames
        scalePlayer(f, 1000);         // one pass in about 0.3 s
        f.workLog().clear();
        qint64 longestGap = 0;
        QElapsedTimer probe;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout,
                [&] { longestGap = std::max(longestGap, probe.restart()); });
        probe.start();
        ticker.start(1);
        f.Command14_Click();
        QTRY_VERIFY_WITH_TIMEOUT(frameCount(f) >= 150, 10000);
        f.Command14_Click();
        ticker.stop();

        QList<QByteArray> expected;
        for (const tools::TestStep& s : tools::script123())
            expected << s.frame;
        const QList<QByteArray> sent = loggedFrames(f.workLog().text());
        QCOMPARE(sent.mid(0, 147), expected);
        QCOMPARE(sent.mid(147, 3), expected.mid(0, 3)); // and round again
        QVERIFY2(longestGap < 100, qPrintable(QString::number(longestGap)));
    }

    void sequencesStopOnEachPath() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        scalePlayer(f, 1000);
        auto stillSending = [&f] {
            const qsizetype n = frameCount(f);
            QTest::qWait(100);
            return frameCount(f) != n;
        };

        f.Command14_Click();
        QTRY_VERIFY(frameCount(f) > 5);
        f.Command14_Click(); // its own button
        QVERIFY(!stillSending());

        f.Command22_Click();
        QTRY_VERIFY(frameCount(f) > 10);
        f.Command7_Click(); // "停止": sends its stop frame and ends the script
        QVERIFY(!stillSending());
        QCOMPARE(loggedFrames(f.workLog().text()).last(), QByteArray::fromHex("FD000102"));

        f.Text6->setText(QStringLiteral("10"));
        f.Text7->setText(QStringLiteral("3"));
        f.sendText().setText(QStringLiteral("a"));
        f.Command23_Click();
        QTRY_VERIFY(frameCount(f) > 15);
        f.close(); // closing the window
        QVERIFY(!stillSending());
    }

    void script45FollowsTheChunkLimit() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        scalePlayer(f, 1000);
        f.workLog().clear();
        f.Command22_Click();
        QTRY_VERIFY_WITH_TIMEOUT(frameCount(f) >= 16, 5000);
        f.Command22_Click();
        const QList<QByteArray> sent = loggedFrames(f.workLog().text());
        QCOMPARE(sent.at(0), tools::announcementFrame(4));
        // Ten requests of test 4 send the same first chunk of the demonstration text.
        for (int i = 2; i <= 10; ++i)
            QCOMPARE(sent.at(i), sent.at(1));
        QCOMPARE(sent.at(1).at(3), char(0x01));
        QCOMPARE(sent.at(11), tools::announcementFrame(5));
        QCOMPARE(sent.at(12), sent.at(1));
        QCOMPARE(sent.at(13), tools::endOfTestsFrame());
        QCOMPARE(sent.at(14), tools::announcementFrame(4));
    }

    void crashStepsWithoutChip() {
        ConsoleFixture c;
        c.writeFile(tools::crashTextFileName(0), gbk(QStringLiteral("第一个文本")));
        app::Form1& f = c.load();
        c.messages().clear(); // no chip on COM1 here
        const QString results = QStringLiteral("死机测试文本-测试结果.txt");

        f.Command25_Click();
        QCOMPARE(f.sendText().text(),
                 QStringLiteral("[d][g1][s10] 1- 1- 1[g0][d]\r\n\r\n\r\n第一个文本"));
        // On disk before the next step, while the console keeps the file open.
        QCOMPARE(c.readFile(results),
                 gbk(QStringLiteral("循环序号： 1    文本序号： 1    控制标记序号： 1\r\n")));
        QCOMPARE(f.state().crash.tagStep, 1);

        for (int i = 2; i <= 14; ++i)
            f.Command25_Click();
        QCOMPARE(f.sendText().text(), QStringLiteral("[d][g1][s10] 1- 1- 14[g0][d]\r\n"
                                                     "[s10][t0]\r\n\r\n第一个文本"));
        QCOMPARE(f.state().crash.tagStep, 0);
        QCOMPARE(f.state().crash.textIndex, 1);

        for (int i = 15; i <= 140; ++i)
            f.Command25_Click();
        // The missing files were created empty; the last step speaks the header only.
        QVERIFY(QFileInfo::exists(c.path(tools::crashTextFileName(9))));
        QCOMPARE(f.sendText().text(), QStringLiteral("[d][g1][s10] 1- 10- 14[g0][d]\r\n"
                                                     "[s10][t0]\r\n\r\n"));
        QCOMPARE(f.state().crash.loopIndex, 1);
        QCOMPARE(f.state().crash.textIndex, 0);
        const QStringList lines = gbkText(c.readFile(results)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 141);
        QCOMPARE(lines.at(139),
                 QStringLiteral("循环序号： 1    文本序号： 10    控制标记序号： 14"));
        f.Command25_Click();
        QVERIFY(
            gbkText(c.readFile(results))
                .endsWith(QStringLiteral("循环序号： 2    文本序号： 1    控制标记序号： 1\r\n")));
        QVERIFY(c.messages().isEmpty());
    }

    void unreadableCrashTextIsReportedOnce() {
        ConsoleFixture c;
        QVERIFY(QDir(c.dir()).mkdir(tools::crashTextFileName(0)));
        app::Form1& f = c.load();
        c.messages().clear(); // no chip on COM1 here
        for (int i = 0; i < 3; ++i)
            f.Command25_Click();
        QCOMPARE(c.messages().size(), 1);
        QVERIFY(c.messages().first().contains(tools::crashTextFileName(0)));
        // The step went on with an empty text.
        QCOMPARE(f.sendText().text(), QStringLiteral("[d][g1][s10] 1- 1- 3[g0][d]\r\n"
                                                     "[s10][t10][v10]\r\n\r\n"));
    }

    void continuousPlayAgainstTheChip() {
        ConsoleFixture c;
        Emulator chip(c.dir(), 20);
        QVERIFY(chip.ready());
        app::Form1& f = c.load();
        QVERIFY(f.serialPort().portOpen());
        f.sendText().setText(QStringLiteral("你好"));

        f.Text2->setPlainText(QStringLiteral("0"));
        f.workLog().clear();
        f.Command3_Click();
        QCOMPARE(c.messages(), QStringList{QStringLiteral("请输入大于等于1的整数")});
        QCOMPARE(frameCount(f), 0);
        QTest::qWait(1100); // the countdown ticks once and stops itself
        QVERIFY(!f.Timer1->isActive());

        f.Text2->setPlainText(QStringLiteral("3"));
        QElapsedTimer clock;
        clock.start();
        f.Command3_Click();
        QCOMPARE(frameCount(f), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!f.Timer1->isActive(), 5000);
        QVERIFY(clock.elapsed() >= 2700); // a coarse timer may fire up to 5% early
        const qsizetype played = frameCount(f);
        QVERIFY2(played > 5, qPrintable(QString::number(played)));
        QTest::qWait(500);
        QVERIFY(frameCount(f) <= played + 1); // a request already on its way may still end
        const QList<QByteArray> sent = loggedFrames(f.workLog().text());
        for (const QByteArray& frame : sent)
            QCOMPARE(frame, synthesisFrameOf(QStringLiteral("你好")));
    }

    void crashTestDrivenByIdleReplies() {
        ConsoleFixture c;
        for (int i = 0; i < tools::kCrashTexts; ++i)
            c.writeFile(tools::crashTextFileName(i), gbk(QStringLiteral("文本%1").arg(i + 1)));
        Emulator chip(c.dir(), 200);
        QVERIFY(chip.ready());
        app::Form1& f = c.load();
        QVERIFY(f.serialPort().portOpen());
        const QString results = QStringLiteral("死机测试文本-测试结果.txt");

        // Idle replies before the first press start nothing.
        f.sendText().setText(QStringLiteral("先说一句"));
        f.Command6_Click();
        QTRY_VERIFY(f.workLog().text().contains(QStringLiteral("4F  芯片空闲")));
        QTest::qWait(200);
        QVERIFY(c.readFile(results).isEmpty());
        QCOMPARE(f.sendText().text(), QStringLiteral("先说一句"));

        // One press, then the chip's idle replies carry the test through a whole loop.
        f.Command25_Click();
        auto lineCount = [&] { return c.readFile(results).count("\r\n"); };
        QTRY_VERIFY_WITH_TIMEOUT(lineCount() >= 141, 45000);
        f.Check1->setChecked(false);
        QTest::qWait(300);
        const qsizetype stopped = lineCount();
        QTest::qWait(500);
        QCOMPARE(lineCount(), stopped); // unticked: idle replies no longer advance it

        tools::CrashCounters counters;
        QStringList expected;
        for (int i = 0; i < 141; ++i) {
            const tools::CrashStep step = tools::planCrashStep(counters, QString());
            expected << step.resultLine;
            counters = step.next;
        }
        const QString written = gbkText(c.readFile(results));
        QVERIFY(written.startsWith(expected.join(QString())));
    }
};

QTEST_MAIN(TestToolsWindow)
#include "tst_tools_window.moc"
