// What a reply does next, and what the watchdog watches, against the chip
// emulator and against a chip played by hand on a pseudo-terminal:
//   - a healthy chip never gets a status query or a verdict: not during
//     script 45's play-out, not with replies left undecoded;
//   - a status query crossing the chip's own idle report runs one step;
//   - a sequence's waits run from frame start to frame start.
#include "chip_model.h"
#include "common/link_helpers.h"
#include "serial_line.h"
#include "session_helpers.h"
#include "tools/test_steps.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTest>
#include <algorithm>
#include <unistd.h>

using namespace qav;
using namespace qav::test;
using Sequence = session::ConsoleSession::Sequence;

namespace {

const QByteArray kQuery = QByteArray::fromHex("FD000121");

// A watchdog that asks after 0.4 s of silence: far shorter than any wait of
// the sequences played below, so a watch that should not be kept is seen.
session::ConsoleSession::Options quickWatch(double sequenceScale = 1) {
    session::ConsoleSession::Options o;
    o.silenceMs = 400;
    o.queryWaitMs = 200;
    o.recoveryPollMs = 300;
    o.sequenceTimeScale = sequenceScale;
    return o;
}

int count(const QList<QByteArray>& frames, const QByteArray& frame) {
    return int(std::count(frames.begin(), frames.end(), frame));
}

bool watched(const QString& log) {
    return log.contains(QStringLiteral("芯片无回传")) || log.contains(QStringLiteral("芯片死机"));
}

// The chip's end of a pseudo-terminal: when the first byte of each frame
// arrived, on a clock started with it.
class FrameClock {
public:
    explicit FrameClock(PtyPort& pty)
        : pty_(pty), notifier_(pty.masterFd(), QSocketNotifier::Read) {
        clock_.start();
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { read(); });
    }
    const QList<qint64>& starts() const { return starts_; }

private:
    void read() {
        const qint64 now = clock_.elapsed();
        for (const char byte : pty_.readAvailable()) {
            if (left_ == 0 && header_.isEmpty() && std::uint8_t(byte) == 0xFD)
                starts_.append(now);
            if (left_ > 0) {
                --left_;
                continue;
            }
            header_.append(byte);
            if (header_.size() == 3) {
                left_ = (std::uint8_t(header_[1]) << 8) | std::uint8_t(header_[2]);
                header_.clear();
            }
        }
    }
    PtyPort& pty_;
    QSocketNotifier notifier_;
    QElapsedTimer clock_;
    QList<qint64> starts_;
    QByteArray header_;
    int left_ = 0;
};

} // namespace

class TestRunDriver : public QObject {
    Q_OBJECT
private slots:
    // Script 45 through test 5's play-out against a healthy chip: every frame
    // is answered, and the play-out, far longer than the silence limit, is a
    // wait of the script, not something awaited of the chip.
    void healthyScript45IsNeverQueried() {
        SessionFixture s;
        // 360 s of play-out in 1.8 s; the silence limit is 0.4 s.
        s.setOptions(quickWatch(200));
        sim::ChipModel chip;
        chip.setTimeScale(200);
        sim::SerialLine line(&chip);
        QVERIFY(line.open(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        QVERIFY(s.session().setLineSettings(QStringLiteral("9600,N,8,1")));

        const QByteArray n5 = tools::announcementFrame(5);
        const QByteArray end = tools::endOfTestsFrame();
        s.session().toggleSequence(Sequence::Script45);
        // Test 5 has begun, then its play-out ran its course: E follows it.
        QTRY_VERIFY_WITH_TIMEOUT(s.frames().contains(n5), 90'000);
        QTRY_VERIFY_WITH_TIMEOUT(s.frames().contains(end), 30'000);
        s.session().toggleSequence(Sequence::None);

        QCOMPARE(count(s.frames(), kQuery), 0);
        QVERIFY2(!watched(s.log()), qPrintable(s.log().right(400)));
    }

    // "回传解释" unticked during interrupted play: nothing is decoded, so
    // nothing is awaited. Many silence limits later the play goes on at its
    // own pace, with no query and no verdict.
    void undecodedRepliesAreNotWatched() {
        SessionFixture s;
        s.setOptions(quickWatch());
        sim::ChipModel chip;
        chip.setTimeScale(100);
        sim::SerialLine line(&chip);
        QVERIFY(line.open(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        s.text().setText(QStringLiteral("打断"));
        s.session().setRepliesDecoded(false);
        // Passes of 100, 200, 300 ms, the marker, 1.5 s: a cycle of 2.1 s.
        s.session().toggleSequence(Sequence::InterruptedPlay, 100, 2);
        QTest::qWait(3'000); // seven silence limits; checks that nothing is watched
        QCOMPARE(s.session().status().sequence, Sequence::InterruptedPlay);
        const QList<QByteArray> frames = s.frames();
        QCOMPARE(count(frames, kQuery), 0);
        QVERIFY(!watched(s.log()));
        // Two cycles of four frames and the first of the third.
        QVERIFY2(frames.size() >= 8 && frames.size() <= 10,
                 qPrintable(QString::number(frames.size())));

        // Ticked again, the replies held in the port are read with the next
        // arrival, and the play goes on.
        s.session().setRepliesDecoded(true);
        QTRY_VERIFY(s.log().contains(QStringLiteral("<---- 返回：41  接收成功")));
        s.session().toggleSequence(Sequence::None);
        QVERIFY(!watched(s.log()));
    }

    // The watchdog asks a chip that plays a long text; the chip ends the text
    // just then. Its own idle report and the answer to the query ("41 4F")
    // arrive in separate reads: one idle state, one step.
    void crossingIdleRepliesRunOneStep_data() {
        QTest::addColumn<bool>("byHand");
        QTest::newRow("the watchdog's query") << false;
        QTest::newRow("a query sent by hand") << true;
    }
    void crossingIdleRepliesRunOneStep() {
        QFETCH(bool, byHand);
        SessionFixture s;
        s.setOptions(quickWatch());
        PtyPort chip;
        QVERIFY(chip.linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        QVERIFY(s.session().setLineSettings(QStringLiteral("115200,N,8,1")));
        const QByteArray round = QByteArray::fromHex("FD00060101C4E3BAC3"); // 你好
        s.text().setText(QStringLiteral("你好"));
        QVERIFY(s.session().startContinuousPlay(100));
        QCOMPARE(chip.read(round.size()), round);
        QVERIFY(chip.write("A")); // taken; the chip plays it
        if (byHand)
            s.session().sendFrame(kQuery);
        QCOMPARE(chip.read(kQuery.size(), 3000), kQuery);
        QVERIFY(chip.write("O")); // the text is done: the next round
        QCOMPARE(chip.read(round.size()), round);
        QVERIFY(chip.write("AO")); // the query's answer: idle, as said
        QTRY_VERIFY(s.log().endsWith(QStringLiteral("<---- 返回：4F  芯片空闲\r\n")));
        QCOMPARE(chip.readFor(300), QByteArray()); // checks that no third round follows
        // The second round's own answer and idle report run the third.
        QVERIFY(chip.write("A"));
        QTRY_VERIFY(s.log().endsWith(QStringLiteral("<---- 返回：41  接收成功\r\n")));
        QVERIFY(chip.write("O"));
        QCOMPARE(chip.read(round.size()), round);
        s.session().stop();
    }

    // Script 123's first frames, N1 A B C at waits of 1000 and 200 ms, then
    // A B C at 500: each wait runs from the start of one frame to the start
    // of the next, whatever the frames' time on the line.
    void script123KeepsItsClock_data() {
        QTest::addColumn<QString>("settings");
        QTest::newRow("9600 baud") << QStringLiteral("9600,N,8,1");
        QTest::newRow("115200 baud") << QStringLiteral("115200,N,8,1");
    }
    void script123KeepsItsClock() {
        QFETCH(QString, settings);
        SessionFixture s;
        PtyPort chip;
        QVERIFY(chip.linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        QVERIFY(s.session().setLineSettings(settings));
        FrameClock clock(chip);
        s.session().toggleSequence(Sequence::Script123);
        QTRY_VERIFY_WITH_TIMEOUT(clock.starts().size() >= 8, 10'000);
        s.session().toggleSequence(Sequence::None);

        // A loaded machine fires a timer late now and then, so each gap only
        // has to be near its wait; the median shows whether the clock holds.
        // Waits counted from the end of the line time would put every gap
        // 20 to 140 ms late at 9600 baud.
        const qint64 waits[] = {1000, 200, 200, 200, 500, 500, 500};
        const QList<qint64> at = clock.starts();
        QList<qint64> late;
        for (int i = 0; i < 7; ++i) {
            const qint64 gap = at[i + 1] - at[i];
            QVERIFY2(gap >= waits[i] - 60 && gap <= waits[i] + 400,
                     qPrintable(QStringLiteral("frame %1 started %2 ms after the one before, "
                                               "not %3 ms")
                                    .arg(i + 2)
                                    .arg(gap)
                                    .arg(waits[i])));
            late << gap - waits[i];
        }
        qInfo("frame starts, ms after the one before: %s", qPrintable([&] {
                  QStringList gaps;
                  for (int i = 0; i < 7; ++i)
                      gaps << QString::number(at[i + 1] - at[i]);
                  return gaps.join(QStringLiteral(", "));
              }()));
        std::sort(late.begin(), late.end());
        QVERIFY2(late[3] <= 30,
                 qPrintable(QStringLiteral("frames start a median %1 ms late").arg(late[3])));
    }
};

QTEST_GUILESS_MAIN(TestRunDriver)
#include "tst_run_driver.moc"
