// The faults the chip model plays: a hang after the n-th synthesis frame,
// the power cycle that ends it, and idle reports left out.

#include "chip_model.h"
#include "common/hex_bytes.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using qav::sim::ChipModel;
using State = ChipModel::State;

using qav::test::hex;

namespace {
// A synthesis frame of a short English text (GBK).
QByteArray synth(const QByteArray& text = "ab") {
    const int length = int(text.size()) + 2;
    return QByteArray("\xFD", 1) + char(length >> 8) + char(length & 0xFF) + "\x01\x01" + text;
}

QStringList lines(const QSignalSpy& traced) {
    QStringList out;
    for (const auto& arguments : traced)
        out << arguments[0].toString();
    return out;
}

bool anyContains(const QStringList& list, const QString& text) {
    for (const QString& line : list)
        if (line.contains(text))
            return true;
    return false;
}
} // namespace

class TestChipFaults : public QObject {
    Q_OBJECT
private slots:
    void hungChipAnswersNothingFromTheNthSynthesisOn() {
        ChipModel chip;
        chip.setTimeScale(1000); // "ab" lasts well under a millisecond
        chip.setHangAfter(3);
        QSignalSpy spontaneous(&chip, &ChipModel::spontaneousReply);
        QSignalSpy hung(&chip, &ChipModel::hung);
        QSignalSpy traced(&chip, &ChipModel::traced);

        QCOMPARE(chip.handleFrame(synth()), hex("41"));
        QTRY_COMPARE(spontaneous.size(), 1);
        // Neither a rejected synthesis nor a cache play counts.
        QCOMPARE(chip.handleFrame(hex("FD000301054142")), hex("45"));
        QCOMPARE(chip.handleFrame(hex("FD0003310041")), hex("41"));
        QCOMPARE(chip.handleFrame(hex("FD00023211")), hex("41"));
        QTRY_COMPARE(spontaneous.size(), 2);
        QCOMPARE(chip.handleFrame(synth()), hex("41"));
        QTRY_COMPARE(spontaneous.size(), 3);
        QVERIFY(!chip.isHung());

        // A stop whose idle report is still due, then the third synthesis:
        // it is taken and starts speaking, and the chip hangs.
        QCOMPARE(chip.handleFrame(hex("FD000102")), hex("41"));
        QCOMPARE(chip.handleFrame(synth()), hex("41"));
        QVERIFY(chip.isHung());
        QCOMPARE(hung.size(), 1);
        QCOMPARE(hung[0][0].toInt(), 7);
        QCOMPARE(chip.state(), State::Playing);

        QCOMPARE(chip.handleFrame(hex("FD000121")), QByteArray());
        QCOMPARE(chip.handleFrame(hex("FD000158")), QByteArray());
        QCOMPARE(chip.handleFrame(hex("FD000102")), QByteArray());
        QCOMPARE(chip.handleFrame(synth()), QByteArray());
        QCOMPARE(chip.handleFrame(hex("FD000177")), QByteArray());
        QCOMPARE(chip.handleBadFrame(hex("FD0005"), QStringLiteral("timeout")), QByteArray());
        QCOMPARE(chip.frameCount(), 13);
        // Checks that nothing comes: neither the stop's idle report nor the
        // end of the utterance (due after well under a millisecond).
        QTest::qWait(100);
        QCOMPARE(spontaneous.size(), 3);
        QVERIFY(chip.isHung());

        const QStringList trace = lines(traced);
        QVERIFY(anyContains(trace, QStringLiteral("#000007  fault: hung after 3 synthesis "
                                                  "frames, answers nothing from now on")));
        QVERIFY(anyContains(trace, QStringLiteral("#000008  21 status query (hung: no answer)")));
        QVERIFY(trace.last().endsWith(QStringLiteral("bad frame (timeout): FD 00 05 (hung: no "
                                                     "answer)")));
    }

    void powerCycleAfterRealTimeThenHangsAgain() {
        ChipModel chip;
        chip.setTimeScale(1000);
        chip.setHangAfter(2);
        chip.setRecoverAfterMs(300);
        QSignalSpy spontaneous(&chip, &ChipModel::spontaneousReply);
        QSignalSpy recovered(&chip, &ChipModel::recovered);
        QSignalSpy began(&chip, &ChipModel::utteranceBegan);
        QSignalSpy traced(&chip, &ChipModel::traced);

        QCOMPARE(chip.handleFrame(hex("FD00053100414243")), hex("41")); // cache "ABC"
        QCOMPARE(chip.handleFrame(synth("[v8][s2]ab")), hex("41"));
        QTRY_COMPARE(spontaneous.size(), 1);
        QElapsedTimer sinceHang;
        QCOMPARE(chip.handleFrame(synth("[v9]a")), hex("41"));
        sinceHang.start();
        QVERIFY(chip.isHung());
        QCOMPARE(chip.properties().volume, 9);

        QTRY_COMPARE_WITH_TIMEOUT(spontaneous.size(), 2, 3000);
        const qint64 took = sinceHang.elapsed();
        QCOMPARE(spontaneous[1][0].toByteArray(), hex("4A"));
        // Real time, not divided by the time scale of 1000.
        QVERIFY2(took >= 299 && took < 1000, qPrintable(QString::number(took)));
        QCOMPARE(recovered.size(), 1);
        QVERIFY(!chip.isHung());
        QCOMPARE(chip.state(), State::Idle);
        QCOMPARE(chip.properties(), qav::sim::SpeechProperties{});
        QVERIFY(anyContains(lines(traced), QStringLiteral("power cycle after 0.3")));
        QVERIFY(lines(traced).last().endsWith(
            QStringLiteral("idle, default properties, answers again  -> 4A")));

        // Answers again; the cache was lost with the power.
        QCOMPARE(chip.handleFrame(hex("FD000121")), hex("414F"));
        QCOMPARE(chip.handleFrame(hex("FD00023211")), hex("41"));
        QCOMPARE(began.last()[0].value<qav::sim::Utterance>().text, QString());
        QTRY_COMPARE(spontaneous.size(), 3);

        // The count starts afresh: the second synthesis after the power cycle hangs it.
        QCOMPARE(chip.handleFrame(synth()), hex("41"));
        QTRY_COMPARE(spontaneous.size(), 4);
        QVERIFY(!chip.isHung());
        QCOMPARE(chip.handleFrame(synth()), hex("41"));
        QVERIFY(chip.isHung());
        QCOMPARE(chip.handleFrame(hex("FD000121")), QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(recovered.size(), 2, 3000);
        QCOMPARE(spontaneous.last()[0].toByteArray(), hex("4A"));
        QCOMPARE(spontaneous.size(), 5);
    }

    void recoveryTimeSetWhileHungCountsFromTheHang() {
        ChipModel chip;
        chip.setHangAfter(1);
        QSignalSpy recovered(&chip, &ChipModel::recovered);
        QElapsedTimer sinceHang;
        QCOMPARE(chip.handleFrame(synth()), hex("41"));
        sinceHang.start();
        QTest::qWait(100); // hung with no recovery set: nothing happens
        QVERIFY(recovered.isEmpty());
        chip.setRecoverAfterMs(250);
        QTRY_COMPARE_WITH_TIMEOUT(recovered.size(), 1, 3000);
        const qint64 took = sinceHang.elapsed();
        QVERIFY2(took >= 249 && took < 800, qPrintable(QString::number(took)));
    }

    void everyNthIdleReportIsLeftOutButStatusAnswersStay() {
        ChipModel chip;
        chip.setTimeScale(1000);
        chip.setDropIdleEvery(2);
        QSignalSpy spontaneous(&chip, &ChipModel::spontaneousReply);
        QSignalSpy dropped(&chip, &ChipModel::idleReplyDropped);
        QSignalSpy traced(&chip, &ChipModel::traced);

        chip.handleFrame(synth()); // frame 1: its 4F is sent
        QTRY_COMPARE(spontaneous.size(), 1);
        chip.handleFrame(synth()); // frame 2: its 4F is left out
        QTRY_COMPARE(dropped.size(), 1);
        QCOMPARE(dropped[0][0].toInt(), 2);
        QCOMPARE(chip.state(), State::Idle);
        QCOMPARE(chip.handleFrame(hex("FD000121")), hex("414F")); // never left out, not counted
        chip.handleFrame(synth());                                // frame 4: sent
        QTRY_COMPARE(spontaneous.size(), 2);
        QCOMPARE(chip.handleFrame(hex("FD000102")), hex("41")); // frame 5: a stop's 4F, left out
        QTRY_COMPARE(dropped.size(), 2);
        QCOMPARE(dropped[1][0].toInt(), 5);
        QCOMPARE(chip.handleFrame(hex("FD000102")), hex("41")); // frame 6: sent
        QTRY_COMPARE(spontaneous.size(), 3);
        for (const auto& reply : spontaneous)
            QCOMPARE(reply[0].toByteArray(), hex("4F"));
        QCOMPARE(dropped.size(), 2);

        const QStringList trace = lines(traced);
        QVERIFY(anyContains(
            trace, QStringLiteral("#000002  end of utterance, fault: 4F dropped (one in 2 lost)")));
        QVERIFY(anyContains(
            trace, QStringLiteral("#000005  after stop, fault: 4F dropped (one in 2 lost)")));
        QVERIFY(anyContains(trace, QStringLiteral("#000004  end of utterance  -> 4F")));
    }
};

QTEST_GUILESS_MAIN(TestChipFaults)
#include "tst_chip_faults.moc"
