// Unattended runs against the chip emulator on a pseudo-terminal: a chip that
// hangs is found with its time and the run goes on once it is back; a lost
// idle reply is asked for instead of stopping the run; a port that comes back
// resumes the run; and a long text over USB does not stop at a lost answer.
#include "chip_model.h"
#include "emulated_bridge.h"
#include "serial_line.h"
#include "session_helpers.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace qav;
using namespace qav::test;

namespace {

const QString kResultFile = QStringLiteral("死机测试文本-测试结果.txt");
const QByteArray kQuery = QByteArray::fromHex("FD000121");

// The result line of a crash step, as the test writes it.
QString resultLine(int loop, int text, int variant) {
    return QStringLiteral("循环序号： %1    文本序号： %2    控制标记序号： %3")
        .arg(loop)
        .arg(text)
        .arg(variant);
}

session::ConsoleSession::Options quickWatch() {
    session::ConsoleSession::Options t;
    t.silenceMs = 400;
    t.queryWaitMs = 200;
    t.recoveryPollMs = 300;
    return t;
}

// The lines of the log that start with `lead`.
QStringList linesStartingWith(const QString& log, const QString& lead) {
    QStringList found;
    for (const QString& line : log.split(QStringLiteral("\r\n")))
        if (line.startsWith(lead))
            found << line;
    return found;
}

// The crash test's result file, line by line.
QStringList results(const SessionFixture& s) {
    QStringList lines = gbkText(s.readFile(kResultFile)).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

struct ChipOnLine {
    sim::ChipModel chip;
    sim::SerialLine line{&chip};
};

} // namespace

class TestChipHang : public QObject {
    Q_OBJECT
private slots:
    void hangIsRecordedAndTheCrashTestGoesOn() {
        SessionFixture s;
        s.setOptions(quickWatch());
        ChipOnLine c;
        c.chip.setTimeScale(500);
        c.chip.setHangAfter(3);
        c.chip.setRecoverAfterMs(1500);
        QVERIFY(c.line.open(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        QSignalSpy hangs(&s.session(), &session::ConsoleSession::chipHangRecorded);
        QSignalSpy recoveries(&s.session(), &session::ConsoleSession::chipRecoveryRecorded);

        s.session().crashStep(); // "1-死机测试"
        QVERIFY(hangs.wait(5000));
        const QDateTime seen = QDateTime::currentDateTime();
        QTRY_COMPARE_WITH_TIMEOUT(recoveries.size(), 1, 5000);
        // The run goes on with the step after the hung one.
        QTRY_VERIFY_WITH_TIMEOUT(results(s).size() >= 7, 5000);
        s.session().stop();

        const QString log = s.log();
        const QStringList verdicts = linesStartingWith(log, QStringLiteral("芯片死机："));
        QCOMPARE(verdicts.size(), 1);
        const QRegularExpression verdict(
            QStringLiteral("^芯片死机：(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)，无回传 1 秒，"
                           "死机测试 循环 1 文本 1 控制标记 3$"));
        const auto m = verdict.match(verdicts.first());
        QVERIFY2(m.hasMatch(), qPrintable(verdicts.first()));
        const QDateTime at =
            QDateTime::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QVERIFY2(qAbs(at.secsTo(seen)) <= 1, qPrintable(m.captured(1)));
        QCOMPARE(hangs.first().first().toString(), verdicts.first());

        const QStringList back = linesStartingWith(log, QStringLiteral("芯片已恢复："));
        QCOMPARE(back.size(), 1);
        QVERIFY2(QRegularExpression(
                     QStringLiteral(
                         "^芯片已恢复：\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d，无回传 [12] 秒$"))
                     .match(back.first())
                     .hasMatch(),
                 qPrintable(back.first()));
        // Before the verdict: the silence line, then the two queries.
        QCOMPARE(linesStartingWith(log, QStringLiteral("芯片无回传 ")).size(), 1);
        QVERIFY(log.indexOf(QStringLiteral("芯片无回传 0 秒，查询芯片状态")) <
                log.indexOf(verdicts.first()));
        // The chip's power-up answer follows its recovery line.
        QVERIFY(log.indexOf(back.first() + QStringLiteral("\r\n<---- 返回：4A  初始化成功回传")) >
                0);

        // The result file: the steps, the verdict right after the step it
        // hung on, the recovery, then the steps that followed.
        const QStringList lines = results(s);
        QCOMPARE(lines.mid(0, 7), QStringList({resultLine(1, 1, 1), resultLine(1, 1, 2),
                                               resultLine(1, 1, 3), verdicts.first(), back.first(),
                                               resultLine(1, 1, 4), resultLine(1, 1, 5)}));
    }

    void lostIdleRepliesAreAskedFor() {
        SessionFixture s;
        s.setOptions(quickWatch());
        ChipOnLine c;
        c.chip.setTimeScale(500);
        c.chip.setDropIdleEvery(2);
        QSignalSpy dropped(&c.chip, &sim::ChipModel::idleReplyDropped);
        QVERIFY(c.line.open(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));

        s.session().crashStep();
        QTRY_VERIFY_WITH_TIMEOUT(results(s).size() >= 6, 10000);
        s.session().stop();

        const QString log = s.log();
        QCOMPARE(linesStartingWith(log, QStringLiteral("芯片死机：")).size(), 0);
        const qsizetype asked = linesStartingWith(log, QStringLiteral("芯片无回传 ")).size();
        QVERIFY(asked >= 2);
        // One query per silence, and each shows in the log as a frame.
        QCOMPARE(loggedFrames(log).count(kQuery), asked);
        QVERIFY(dropped.size() >= asked);
        QCOMPARE(results(s).mid(0, 6),
                 QStringList({resultLine(1, 1, 1), resultLine(1, 1, 2), resultLine(1, 1, 3),
                              resultLine(1, 1, 4), resultLine(1, 1, 5), resultLine(1, 1, 6)}));
    }

    void aPortThatComesBackResumesTheRun() {
        SessionFixture s;
        s.setOptions(quickWatch());
        sim::ChipModel chip;
        chip.setTimeScale(20); // the first step speaks for a while
        auto line = std::make_unique<sim::SerialLine>(&chip);
        QVERIFY(line->open(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        QSignalSpy utterances(&chip, &sim::ChipModel::utteranceStarted);

        s.session().crashStep();
        QVERIFY(utterances.wait(3000));
        // The adapter is pulled out while the chip speaks; its idle reply
        // falls due while nobody listens, and is lost.
        line.reset();
        QTRY_VERIFY_WITH_TIMEOUT(s.log().contains(QStringLiteral("串口COM1已断开：")), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(chip.state(), sim::ChipModel::State::Idle, 5000);
        line = std::make_unique<sim::SerialLine>(&chip);
        QVERIFY(line->open(s.dir(), 1));
        QTRY_VERIFY_WITH_TIMEOUT(s.log().contains(QStringLiteral("串口COM1已重新打开")), 3000);
        // The console asks the idle chip, and its answer runs the next step.
        QTRY_COMPARE_WITH_TIMEOUT(results(s).size(), 2, 3000);
        s.session().stop();
        QCOMPARE(results(s), QStringList({resultLine(1, 1, 1), resultLine(1, 1, 2)}));
        const QString log = s.log();
        const qsizetype reopened = log.indexOf(QStringLiteral("串口COM1已重新打开"));
        QVERIFY(log.indexOf(frameEntry(kQuery), reopened) > reopened);
        QCOMPARE(linesStartingWith(log, QStringLiteral("芯片死机：")).size(), 0);
    }

    void theEndOfARunStopsTheCrashTestForGood() {
        SessionFixture s;
        s.setOptions(quickWatch());
        ChipOnLine c;
        c.chip.setTimeScale(20);
        QVERIFY(c.line.open(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        QSignalSpy utterances(&c.chip, &sim::ChipModel::utteranceStarted);
        QSignalSpy ended(&s.session(), &session::ConsoleSession::runEnded);
        s.session().crashStep();
        QVERIFY(utterances.wait(3000));
        s.session().endRun();
        QVERIFY(ended.wait(3000));
        // The stop went out last, and its idle reply ran no step: check that
        // nothing follows over several silence limits.
        QTest::qWait(3 * quickWatch().silenceMs);
        QCOMPARE(results(s), QStringList{resultLine(1, 1, 1)});
        QCOMPARE(loggedFrames(s.log()).last(), QByteArray::fromHex("FD000102"));
        QTRY_COMPARE(c.chip.frameCount(), 2);
    }

    void aSynthesisSpokenForAFaceIsWatchedToo() {
        SessionFixture s;
        s.setOptions(quickWatch());
        ChipOnLine c;
        c.chip.setTimeScale(500);
        c.chip.setHangAfter(2);
        QVERIFY(c.line.open(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        QSignalSpy spoken(&s.session(), &session::ConsoleSession::spoken);
        QSignalSpy hangs(&s.session(), &session::ConsoleSession::chipHangRecorded);
        s.text().setText(QStringLiteral("欢迎"));
        QCOMPARE(s.session().speak(), session::ConsoleSession::SelectionSend::Sent);
        QVERIFY(spoken.wait(3000));
        // The second one hangs the chip: no idle reply, and the verdict.
        s.session().speak();
        QVERIFY(hangs.wait(5000));
        QCOMPARE(spoken.size(), 1);
        s.session().stop();
    }

    void aLostAnswerDoesNotStopALongTextOverUsb() {
        SessionFixture s(SessionFixture::emulatedBridge());
        session::ConsoleSession::Options t;
        t.usbAckTimeoutMs = 100;
        s.setOptions(t);
        s.useUsbLink();
        auto* bridge = s.emulator();
        // Three pieces of 512 bytes; the answer to the first frame's last
        // packet is lost.
        s.text().setText(QString(1200, QLatin1Char('a')));
        QSignalSpy frames(bridge, &sim::EmulatedBridge::frameReceived);
        connect(bridge, &sim::EmulatedBridge::reportWritten, this,
                [bridge, lastPackets = 0](const link::Report& report) mutable {
                    if (report[1] == 0xBC && ++lastPackets == 1)
                        bridge->dropAcks(1);
                });
        QVERIFY(s.session().startContinuousPlay(60.0));
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), 3, 5000);
        s.session().stop();
        const QStringList sizes = [&] {
            QStringList out;
            for (const auto& f : bridge->framesReceived())
                out << QString::number(f.size());
            return out;
        }();
        QCOMPARE(sizes.mid(0, 3), QStringList({"517", "517", "181"}));
        QCOMPARE(linesStartingWith(s.log(), QStringLiteral("F320未应答本帧，按已接收继续")).size(),
                 1);
    }
};

QTEST_GUILESS_MAIN(TestChipHang)
#include "tst_chip_hang.moc"
