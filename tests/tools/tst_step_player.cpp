// The step player: order, waits under a time scale, stopping, responsiveness.
#include "tools/step_player.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace qav::tools;

namespace {

StepList numbered(int count, int waitMs) {
    StepList steps;
    for (int i = 0; i < count; ++i)
        steps.append({StepAction::SendFrame, QByteArray(1, char(i)), waitMs, QString::number(i)});
    return steps;
}

} // namespace

class TestPlayer : public QObject {
    Q_OBJECT
private slots:
    void playsInOrderAndWrapsRound() {
        StepPlayer player;
        player.setTimeScale(100);
        QStringList seen;
        player.start(numbered(3, 100), [&](const TestStep& s) { seen << s.label; });
        QCOMPARE(seen, QStringList({"0"})); // the first step at once
        QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= 7, 2000);
        QCOMPARE(seen.mid(0, 7), QStringList({"0", "1", "2", "0", "1", "2", "0"}));
        player.stop();
        const qsizetype after = seen.size();
        QTest::qWait(20);
        QCOMPARE(seen.size(), after);
        QVERIFY(!player.isRunning());
    }

    void waitsFollowTheScale() {
        StepPlayer player;
        player.setTimeScale(10); // 500 ms -> 50 ms
        QList<qint64> at;
        QElapsedTimer clock;
        clock.start();
        player.start(numbered(2, 500), [&](const TestStep&) { at << clock.elapsed(); });
        QTRY_VERIFY_WITH_TIMEOUT(at.size() >= 3, 2000);
        player.stop();
        QVERIFY2(at[1] - at[0] >= 45 && at[2] - at[1] >= 45, "waits too short");
        QVERIFY2(at[2] - at[0] < 400, "waits not scaled");
    }

    void stopFromInsideAStep() {
        StepPlayer player;
        QSignalSpy stopped(&player, &StepPlayer::stopped);
        int runs = 0;
        player.start(numbered(2, 0), [&](const TestStep&) {
            if (++runs == 2)
                player.stop();
        });
        QTRY_VERIFY_WITH_TIMEOUT(!player.isRunning(), 1000);
        QTest::qWait(10);
        QCOMPARE(runs, 2);
        QCOMPARE(stopped.size(), 1);
    }

    void restartFromInsideAStep() {
        StepPlayer player;
        QStringList seen;
        bool restarted = false;
        player.start(numbered(2, 0), [&](const TestStep& s) {
            seen << s.label;
            if (!restarted && s.label == "1") {
                restarted = true;
                StepList other = numbered(1, 1000000);
                other[0].label = "x";
                player.start(other, [&](const TestStep& t) { seen << t.label; });
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= 3, 1000);
        QTest::qWait(20);
        QCOMPARE(seen, QStringList({"0", "1", "x"})); // the old list's wait is gone
        player.stop();
    }

    void zeroWaitsKeepTheLoopResponsive() {
        StepPlayer player;
        int runs = 0;
        player.start(numbered(4, 0), [&](const TestStep&) { ++runs; });
        bool ticked = false;
        QTimer::singleShot(5, [&] { ticked = true; });
        QTRY_VERIFY_WITH_TIMEOUT(ticked, 1000);
        QVERIFY(runs > 1);
        player.stop();
    }
};

QTEST_GUILESS_MAIN(TestPlayer)
#include "tst_step_player.moc"
