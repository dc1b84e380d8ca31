// The timed sequences of the session: interrupted play, the two scripts and
// their stop paths, and continuous play against the chip emulator. Frames are
// checked byte for byte as the work log shows them.
#include "common/link_helpers.h"
#include "demo/demo_texts.h"
#include "session_helpers.h"
#include "tools/script_frames.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace qav;
using namespace qav::test;
using Sequence = session::ConsoleSession::Sequence;

namespace {

const QString kWholeNumber = QStringLiteral("请输入大于等于1的整数");

qsizetype frameCount(SessionFixture& s) {
    return s.log().count(QStringLiteral("----> "));
}

// Whether frames still go out over the next 100 ms. (A fixed wait: it
// checks that nothing happens.)
bool stillSending(SessionFixture& s) {
    const qsizetype n = frameCount(s);
    QTest::qWait(100);
    return frameCount(s) != n;
}

void setSequenceTimeScale(SessionFixture& s, double scale) {
    session::ConsoleSession::Options options;
    options.sequenceTimeScale = scale;
    s.setOptions(options);
}

} // namespace

class TestSequences : public QObject {
    Q_OBJECT
private slots:
    void interruptedPlaySendsGrowingWaits() {
        SessionFixture s;
        setSequenceTimeScale(s, 5); // 1 s -> 200 ms
        PtyPort chip;
        QVERIFY(chip.linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        s.text().setText(QStringLiteral("打断"));
        QList<qint64> at;
        QElapsedTimer clock;
        clock.start();
        connect(&s.session(), &session::ConsoleSession::stepStarted, &s.session(),
                [&] { at << clock.elapsed(); });
        s.session().toggleSequence(Sequence::InterruptedPlay, 1000, 2);
        QCOMPARE(s.session().status().sequence, Sequence::InterruptedPlay);
        QTRY_VERIFY_WITH_TIMEOUT(frameCount(s) >= 9, 15000);
        s.session().toggleSequence(Sequence::InterruptedPlay); // again: stops
        QCOMPARE(s.session().status().sequence, Sequence::None);
        const qsizetype stoppedAt = frameCount(s);
        QTest::qWait(200); // checks that no frame follows
        QCOMPARE(frameCount(s), stoppedAt);

        const QByteArray t = QByteArray::fromHex("FD 00 06 01 01 B4 F2 B6 CF"); // 打断
        const QByteArray m = script::cycleMarker();
        QCOMPARE(loggedFrames(s.log()).mid(0, 9), QList<QByteArray>({t, t, t, m, t, t, t, m, t}));
        // Nothing of it is left for the chip's idle reply to start.
        QVERIFY(chip.write("O"));
        QTRY_VERIFY(s.log().endsWith(QStringLiteral("<---- 返回：4F  芯片空闲\r\n")));
        QCOMPARE(frameCount(s), stoppedAt);
        // Waits 200, 400, 600, then 300 after the marker (scaled), in that order.
        // A timer never fires early; a loaded machine may fire it late, so the
        // upper bound is loose and the lower bounds carry the order.
        QVERIFY(at.size() >= 5);
        const qint64 expected[] = {200, 400, 600, 300};
        for (int i = 0; i < 4; ++i) {
            const qint64 gap = at[i + 1] - at[i];
            QVERIFY2(gap >= expected[i] - 5 && gap < expected[i] + 400,
                     qPrintable(QStringLiteral("wait %1 took %2 ms").arg(i).arg(gap)));
        }
    }

    void interruptedPlayWithoutPassesMarksEveryRequest() {
        SessionFixture s;
        setSequenceTimeScale(s, 1000);
        s.text().setText(QStringLiteral("打断"));
        s.session().toggleSequence(Sequence::InterruptedPlay, 10, 0);
        QTRY_VERIFY(frameCount(s) >= 4);
        s.session().toggleSequence(session::ConsoleSession::Sequence::None);
        const QByteArray t = QByteArray::fromHex("FD 00 06 01 01 B4 F2 B6 CF");
        QCOMPARE(loggedFrames(s.log()).mid(0, 4),
                 QList<QByteArray>({t, script::cycleMarker(), t, script::cycleMarker()}));
    }

    void script123PlaysItsListResponsively() {
        SessionFixture s;
        setSequenceTimeScale(s, 1000); // one pass in about 0.3 s
        s.session().setEncoding(0);    // another encoding does not change the script's frames
        qint64 longestGap = 0;
        QElapsedTimer probe;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout,
                [&] { longestGap = std::max(longestGap, probe.restart()); });
        probe.start();
        ticker.start(1);
        s.session().toggleSequence(Sequence::Script123);
        QTRY_VERIFY_WITH_TIMEOUT(frameCount(s) >= 150, 10000);
        s.session().toggleSequence(Sequence::Script123);
        ticker.stop();

        const QList<QByteArray> pass = script::script123FrameList();
        const QList<QByteArray> sent = loggedFrames(s.log());
        QCOMPARE(sent.mid(0, 147), pass);
        QCOMPARE(sent.mid(147, 3), pass.mid(0, 3)); // and round again
        QVERIFY2(longestGap < 100, qPrintable(QString::number(longestGap)));
    }

    void script45FollowsTheChunkLimit_data() {
        QTest::addColumn<bool>("usb");
        QTest::newRow("serial link") << false;
        QTest::newRow("USB link") << true;
    }
    void script45FollowsTheChunkLimit() {
        QFETCH(bool, usb);
        SessionFixture s(usb ? SessionFixture::emulatedBridge() : nullptr);
        setSequenceTimeScale(s, usb ? 100 : 1000);
        if (usb)
            s.useUsbLink();
        s.text().setText(QStringLiteral("被替换的文本"));
        s.session().toggleSequence(Sequence::Script45);
        QTRY_VERIFY_WITH_TIMEOUT(frameCount(s) >= 16, 20000);
        s.session().toggleSequence(Sequence::Script45);
        const QList<QByteArray> sent = loggedFrames(s.log());
        QCOMPARE(sent.at(0), script::announcement(4));
        // Ten requests of test 4 send the same first chunk of the
        const QByteArray chunk = sent.at(1);
        // demonstration text, all of it or cut to the link's chunk limit.
        const QByteArray demo = gbk(demo::englishChineseDemoText());
        const qsizetype textBytes = chunk.size() - 5;
        if (usb)
            QVERIFY2(textBytes == 512 || textBytes == 511, qPrintable(QString::number(textBytes)));
        else
            QCOMPARE(textBytes, demo.size()); // shorter than the serial link's 4091
        QCOMPARE(chunk.first(5), QByteArray::fromHex("FD") + char((textBytes + 2) >> 8) +
                                     char((textBytes + 2) & 0xFF) + QByteArray::fromHex("0101"));
        QVERIFY(demo.startsWith(chunk.mid(5)));
        for (int i = 2; i <= 10; ++i)
            QCOMPARE(sent.at(i), chunk);
        QCOMPARE(sent.at(11), script::announcement(5));
        QCOMPARE(sent.at(12), chunk);
        QCOMPARE(sent.at(13), script::endOfTests());
        QCOMPARE(sent.at(14), script::announcement(4));
    }

    void sequencesStopOnEachPath() {
        SessionFixture s;
        setSequenceTimeScale(s, 1000);

        s.session().toggleSequence(Sequence::Script123);
        QTRY_VERIFY(frameCount(s) > 5);
        s.session().toggleSequence(Sequence::Script123); // its own button
        QVERIFY(!stillSending(s));

        s.session().toggleSequence(Sequence::Script45);
        QTRY_VERIFY(frameCount(s) > 10);
        s.session().stop(); // "停止": sends its stop frame and ends the script
        QVERIFY(!stillSending(s));
        QCOMPARE(loggedFrames(s.log()).last(), QByteArray::fromHex("FD000102"));

        // Another sequence's start replaces the one running.
        s.text().setText(QStringLiteral("a"));
        s.session().toggleSequence(Sequence::InterruptedPlay, 10, 3);
        QTRY_VERIFY(frameCount(s) > 15);
        s.session().toggleSequence(Sequence::Script123);
        QCOMPARE(s.session().status().sequence, Sequence::Script123);
        s.session().toggleSequence(session::ConsoleSession::Sequence::None);
        QVERIFY(!stillSending(s));
    }

    void continuousPlayAgainstTheChip() {
        SessionFixture s;
        EmulatorProcess chip(s.dir(), 20);
        QVERIFY(chip.ready());
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        s.text().setText(QStringLiteral("你好"));

        QVERIFY(!s.session().startContinuousPlay(0));
        QCOMPARE(s.messages(), QStringList{kWholeNumber});
        QCOMPARE(frameCount(s), 0);
        // The countdown ticks once and stops itself.
        QTRY_VERIFY_WITH_TIMEOUT(!s.session().status().continuousPlay, 3000);
        // No time given and none left: refused as well.
        QVERIFY(!s.session().startContinuousPlay(std::nullopt));
        QCOMPARE(s.messages(), QStringList(2, kWholeNumber));

        QElapsedTimer clock;
        clock.start();
        QVERIFY(s.session().startContinuousPlay(3));
        QCOMPARE(frameCount(s), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!s.session().status().continuousPlay, 5000);
        QVERIFY(clock.elapsed() >= 2700); // a coarse timer may fire up to 5% early
        const qsizetype played = frameCount(s);
        QVERIFY2(played > 5, qPrintable(QString::number(played)));
        // Play has ended: the chip's idle replies start no more rounds. (The
        // wait checks that nothing happens; a request already on its way may
        // still end.)
        QTest::qWait(500);
        QVERIFY(frameCount(s) <= played + 1);
        const QByteArray hello = QByteArray::fromHex("FD 00 06 01 01 C4 E3 BA C3"); // 你好
        for (const QByteArray& frame : loggedFrames(s.log()))
            QCOMPARE(frame, hello);
    }

    void synthesisByHandEndsContinuousPlay() {
        SessionFixture s;
        PtyPort chip;
        QVERIFY(chip.linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        const QByteArray hello = QByteArray::fromHex("FD 00 06 01 01 C4 E3 BA C3"); // 你好
        s.text().setText(QStringLiteral("你好"));
        QVERIFY(s.session().startContinuousPlay(100));
        QCOMPARE(chip.read(9), hello);
        QVERIFY(chip.write("O")); // idle: the next round
        QCOMPARE(chip.read(9), hello);
        s.session().synthesize(); // by hand
        QCOMPARE(chip.read(9), hello);
        QVERIFY(chip.write("O")); // and now idle starts nothing
        QTRY_VERIFY(s.log().endsWith(QStringLiteral("<---- 返回：4F  芯片空闲\r\n")));
        QVERIFY(chip.readFor(100).isEmpty()); // checks that nothing is sent
        QCOMPARE(loggedFrames(s.log()).size(), 3);
        QVERIFY(s.session().status().continuousPlay); // it runs on, with nothing to start
    }
};

QTEST_GUILESS_MAIN(TestSequences)
#include "tst_sequences.moc"
