// The watchdog on its own: a silent chip is asked twice, then found hung and
// asked again every poll until it speaks; any byte starts the wait afresh; a
// lost link and a run that no longer waits are not hangs.
#include "session/watchdog.h"

#include <QSignalSpy>
#include <QTest>

using qav::session::Watchdog;

namespace {

constexpr int kSilence = 200;
constexpr int kQueryWait = 100;
constexpr int kPoll = 150;

struct Rig {
    bool waiting = true;
    bool linkUp = true;
    Watchdog dog{[this] { return waiting; }, [this] { return linkUp; }};
    QSignalSpy silent{&dog, &Watchdog::silent};
    QSignalSpy query{&dog, &Watchdog::query};
    QSignalSpy hung{&dog, &Watchdog::hung};
    QSignalSpy recovered{&dog, &Watchdog::recovered};

    Rig() { dog.setLimits({kSilence, kQueryWait, kPoll}); }
};

} // namespace

class TestWatchdog : public QObject {
    Q_OBJECT
private slots:
    void silenceIsAskedTwiceThenHung() {
        Rig r;
        QElapsedTimer clock;
        clock.start();
        r.dog.arm();
        QVERIFY(r.query.wait(2000));
        QVERIFY(clock.elapsed() >= kSilence - 5);
        QCOMPARE(r.silent.size(), 1);
        QCOMPARE(r.query.size(), 1);
        QVERIFY(!r.dog.isHung());
        QVERIFY(r.query.wait(2000)); // the second query, a query wait later
        QCOMPARE(r.hung.size(), 0);
        QVERIFY(r.hung.wait(2000));
        QVERIFY(clock.elapsed() >= kSilence + 2 * kQueryWait - 5);
        QVERIFY(r.dog.isHung());
        QCOMPARE(r.silent.size(), 1);
        // The silence counted from the arming, in whole seconds.
        QCOMPARE(r.hung.at(0).at(0).toLongLong(), 0);
        // Asked at the verdict, then every poll.
        QCOMPARE(r.query.size(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(r.query.size(), 5, 2000);
        QCOMPARE(r.hung.size(), 1);
    }

    void anyByteStartsTheWaitAfresh() {
        Rig r;
        r.dog.arm();
        QVERIFY(r.query.wait(2000));
        r.dog.chipSpoke(); // the answer to the query
        QVERIFY(!r.dog.isHung());
        // A whole silence limit before the next question, not a query wait.
        QElapsedTimer clock;
        clock.start();
        QVERIFY(r.query.wait(2000));
        QVERIFY(clock.elapsed() >= kSilence - 5);
        QCOMPARE(r.silent.size(), 2);
        QCOMPARE(r.hung.size(), 0);

        // Bytes that keep coming keep the chip from being asked at all.
        Rig busy;
        busy.dog.arm();
        for (int i = 0; i < 6; ++i) {
            QTest::qWait(kSilence / 2); // a chip answering twice per silence limit
            busy.dog.chipSpoke();
        }
        QCOMPARE(busy.query.size(), 0);
    }

    void theFirstByteAfterTheVerdictIsTheRecovery() {
        Rig r;
        r.dog.arm();
        QVERIFY(r.hung.wait(3000));
        r.dog.chipSpoke();
        QCOMPARE(r.recovered.size(), 1);
        QVERIFY(!r.dog.isHung());
        r.dog.chipSpoke();
        QCOMPARE(r.recovered.size(), 1); // once
        // And the wait begins again, from the top.
        QVERIFY(r.silent.wait(2000));
        QCOMPARE(r.silent.size(), 2);
    }

    void aLostLinkIsNotAHang() {
        Rig r;
        r.linkUp = false;
        r.dog.arm();
        // Nothing is asked while the link is down: check that nothing happens
        // over three silence limits.
        QTest::qWait(3 * kSilence);
        QCOMPARE(r.query.size(), 0);
        QCOMPARE(r.hung.size(), 0);
        // Back: asked once at once, and the usual verdict if nothing answers.
        r.linkUp = true;
        r.dog.linkBack();
        QCOMPARE(r.query.size(), 1);
        QCOMPARE(r.silent.size(), 0);
        QVERIFY(r.hung.wait(2000));
    }

    void aRunThatNoLongerWaitsEndsTheWatch() {
        Rig r;
        r.dog.arm();
        r.waiting = false;
        // The silence limit passes with no run waiting: check nothing is asked.
        QTest::qWait(2 * kSilence);
        QCOMPARE(r.query.size(), 0);
        QVERIFY(!r.dog.isArmed());

        Rig stopped;
        stopped.dog.arm();
        QVERIFY(stopped.hung.wait(3000));
        stopped.dog.disarm(); // "停止"
        const qsizetype asked = stopped.query.size();
        QTest::qWait(2 * kPoll); // no more polls: check nothing is asked
        QCOMPARE(stopped.query.size(), asked);
        stopped.dog.chipSpoke();
        QCOMPARE(stopped.recovered.size(), 0);
    }

    void linkBackWhileNotWatchingAsksNothing() {
        Rig r;
        r.dog.linkBack();
        QCOMPARE(r.query.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestWatchdog)
#include "tst_watchdog.moc"
