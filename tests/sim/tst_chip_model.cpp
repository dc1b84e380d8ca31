#include "chip_model.h"
#include "common/hex_bytes.h"
#include "common/log_helpers.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTest>

using qav::sim::ChipModel;
using qav::test::gbk;
using State = ChipModel::State;

using qav::test::hex;

namespace {
QByteArray frame(quint8 command, int parameter = -1, const QByteArray& data = {}) {
    QByteArray body(1, char(command));
    if (parameter >= 0)
        body.append(char(parameter));
    body += data;
    QByteArray out;
    out.append(char(0xFD)).append(char(body.size() >> 8)).append(char(body.size() & 0xFF));
    return out + body;
}

QByteArray synth(const QString& text) {
    return frame(0x01, 1, gbk(text));
}
} // namespace

class TestChipModel : public QObject {
    Q_OBJECT
private slots:
    void commandsMoveTheStateAndAnswer() {
        ChipModel chip;
        chip.setTimeScale(1); // nothing ends on its own during this test
        QSignalSpy spontaneous(&chip, &ChipModel::spontaneousReply);

        QCOMPARE(chip.handleFrame(hex("FD000121")), hex("414F"));
        QCOMPARE(chip.handleFrame(synth(QStringLiteral("欢迎光临，今天天气很好"))), hex("41"));
        QCOMPARE(chip.state(), State::Playing);
        QCOMPARE(chip.handleFrame(hex("FD000121")), hex("414E"));
        QCOMPARE(chip.handleFrame(hex("FD000103")), hex("41"));
        QCOMPARE(chip.state(), State::Paused);
        QCOMPARE(chip.handleFrame(hex("FD000121")), hex("414E")); // paused is not idle
        QCOMPARE(chip.handleFrame(hex("FD000104")), hex("41"));
        QCOMPARE(chip.state(), State::Playing);

        QCOMPARE(chip.handleFrame(hex("FD000102")), hex("41"));
        QCOMPARE(chip.state(), State::Idle);
        QVERIFY(spontaneous.isEmpty()); // the idle report follows the 0x41
        QTRY_COMPARE(spontaneous.size(), 1);
        QCOMPARE(spontaneous[0][0].toByteArray(), hex("4F"));

        QSignalSpy utterances(&chip, &ChipModel::utteranceStarted);
        QCOMPARE(chip.handleFrame(hex("FD000122")), hex("41"));
        QCOMPARE(chip.state(), State::Standby);
        QCOMPARE(chip.handleFrame(synth(QStringLiteral("睡着"))), hex("41"));
        QCOMPARE(chip.state(), State::Standby);
        QVERIFY(utterances.isEmpty());
        QCOMPARE(chip.handleFrame(hex("FD0001FF")), hex("41"));
        QCOMPARE(chip.state(), State::Idle);
    }

    void versionAnswerFollowsTheAcknowledgement() {
        ChipModel chip;
        QSignalSpy spontaneous(&chip, &ChipModel::spontaneousReply);
        QCOMPARE(chip.handleFrame(hex("FD000158")), hex("41"));
        QTRY_COMPARE(spontaneous.size(), 1);
        const QByteArray answer = spontaneous[0][0].toByteArray();
        QVERIFY(answer.startsWith('S'));
        QVERIFY(answer.size() > 1);
    }

    void unusableFramesGetAnError() {
        ChipModel chip;
        QSignalSpy utterances(&chip, &ChipModel::utteranceStarted);
        QCOMPARE(chip.handleFrame(hex("FD000177")), hex("45"));       // unknown command
        QCOMPARE(chip.handleFrame(hex("FD000301054142")), hex("45")); // encoding 5
        QCOMPARE(chip.handleFrame(hex("FD00020101")), hex("45"));     // no text
        QCOMPARE(chip.handleFrame(hex("FD000502")), hex("45"));       // length disagrees
        QCOMPARE(chip.handleFrame(hex("FD0000")), hex("45"));
        QCOMPARE(chip.handleFrame(hex("FD00023205")), hex("45")); // replay count 0
        QCOMPARE(chip.handleBadFrame(hex("FD0005"), QStringLiteral("timeout")), hex("45"));
        QCOMPARE(chip.state(), State::Idle);
        QVERIFY(utterances.isEmpty());
        QCOMPARE(chip.frameCount(), 7);
    }

    void everyEncodingIsDecoded_data() {
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QByteArray>("bytes");
        const QString text = QStringLiteral("[v3]中文字幕abc");
        QTest::newRow("GB2312") << 0 << gbk(text);
        QTest::newRow("GBK") << 1 << gbk(text);
        QTest::newRow("BIG5") << 2 << QByteArray(QStringEncoder("Big5").encode(text));
        QTest::newRow("UTF-16LE") << 3
                                  << QByteArray(
                                         QStringEncoder(QStringEncoder::Utf16LE).encode(text));
        QTest::newRow("UTF-16BE") << 4
                                  << QByteArray(
                                         QStringEncoder(QStringEncoder::Utf16BE).encode(text));
    }
    void everyEncodingIsDecoded() {
        QFETCH(int, encoding);
        QFETCH(QByteArray, bytes);
        ChipModel chip;
        QSignalSpy utterances(&chip, &ChipModel::utteranceStarted);
        QSignalSpy traced(&chip, &ChipModel::traced);
        QCOMPARE(chip.handleFrame(frame(0x01, encoding, bytes)), hex("41"));
        QCOMPARE(utterances.size(), 1);
        QCOMPARE(utterances[0][1].toString(), QStringLiteral("[v3]中文字幕abc"));
        QVERIFY(traced.last()[0].toString().contains(QStringLiteral("\"[v3]中文字幕abc\"")));
        QCOMPARE(chip.properties().volume, 3);
    }

    void tagsPersistUntilReset() {
        ChipModel chip;
        chip.handleFrame(synth(QStringLiteral("[v8][s2][t9][m52][g1]你好")));
        chip.handleFrame(
            synth(QStringLiteral("再见[v11][s]"))); // out of range, malformed: no effect
        QCOMPARE(chip.properties().volume, 8);
        QCOMPARE(chip.properties().rate, 2);
        QCOMPARE(chip.properties().tone, 9);
        QCOMPARE(chip.properties().speaker, 52);
        QCOMPARE(chip.properties().language, 1);
        chip.handleFrame(synth(QStringLiteral("[d]")));
        QCOMPARE(chip.properties(), qav::sim::SpeechProperties{});
    }

    void cacheStoresAndPlaysWithTheEncodingOfThePlayFrame() {
        ChipModel chip;
        QSignalSpy began(&chip, &ChipModel::utteranceBegan);
        const QByteArray text = QStringEncoder(QStringEncoder::Utf16BE).encode(u"缓存文本");
        QCOMPARE(chip.handleFrame(frame(0x31, 0, text)), hex("41"));
        QCOMPARE(chip.state(), State::Idle);
        QCOMPARE(chip.handleFrame(frame(0x32, 0x34)), hex("41")); // 3 times, UTF-16BE
        QCOMPARE(chip.state(), State::Playing);
        QCOMPARE(began.size(), 1);
        const auto u = began[0][0].value<qav::sim::Utterance>();
        QCOMPARE(u.text, QStringLiteral("缓存文本"));
        QCOMPARE(u.repeats, 3);

        // Segment 15 holds 256 bytes; more does not fit.
        QCOMPARE(chip.handleFrame(frame(0x31, 15, QByteArray(256, 'a'))), hex("41"));
        QCOMPARE(chip.handleFrame(frame(0x31, 15, QByteArray(257, 'a'))), hex("45"));
        QCOMPARE(chip.handleFrame(frame(0x31, 16, "a")), hex("45"));
    }

    void idleReportTimingFollowsTextRateAndScale() {
        ChipModel chip;
        chip.setTimeScale(20);
        QSignalSpy spontaneous(&chip, &ChipModel::spontaneousReply);
        QSignalSpy began(&chip, &ChipModel::utteranceBegan);
        QElapsedTimer clock;
        qint64 took = -1;
        connect(&chip, &ChipModel::spontaneousReply, this, [&] { took = clock.elapsed(); });
        clock.start();
        chip.handleFrame(synth(QStringLiteral("[s5]这是一段用来测量时间的中文文本")));
        const double modelMs = began[0][0].value<qav::sim::Utterance>().durationMs;
        QVERIFY(modelMs > 2000);
        QTRY_COMPARE_WITH_TIMEOUT(spontaneous.size(), 1, 5000);
        QCOMPARE(spontaneous[0][0].toByteArray(), hex("4F"));
        QVERIFY2(took >= qint64(modelMs / 20) - 1, qPrintable(QString::number(took)));
        // well within the unscaled time
        QVERIFY2(took < qint64(modelMs / 2), qPrintable(QString::number(took)));
        QCOMPARE(chip.state(), State::Idle);

        // The fastest rate takes a quarter of the slowest.
        chip.handleFrame(synth(QStringLiteral("[s0]一二三四五六七八")));
        const double slow = began[1][0].value<qav::sim::Utterance>().durationMs;
        chip.handleFrame(synth(QStringLiteral("[s10]一二三四五六七八")));
        const double fast = began[2][0].value<qav::sim::Utterance>().durationMs;
        QCOMPARE(qRound(slow / fast), 4);
    }

    void pauseHoldsTheUtteranceAndANewTextCutsIn() {
        ChipModel chip;
        chip.setTimeScale(50);
        QSignalSpy spontaneous(&chip, &ChipModel::spontaneousReply);
        chip.handleFrame(synth(QStringLiteral("[s5]一二三四五六七八九十"))); // ~2.3 s, 46 ms here
        chip.handleFrame(hex("FD000103"));
        QTest::qWait(150); // paused: no idle report comes
        QVERIFY(spontaneous.isEmpty());
        chip.handleFrame(hex("FD000104"));
        QTRY_COMPARE(spontaneous.size(), 1);

        // A synthesis while playing replaces the utterance: one idle report only.
        chip.handleFrame(synth(QStringLiteral("一二三四五六七八九十")));
        chip.handleFrame(synth(QStringLiteral("一二三四五六七八九十")));
        QTRY_COMPARE(spontaneous.size(), 2);
        QTest::qWait(150); // and no second one comes
        QCOMPARE(spontaneous.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestChipModel)
#include "tst_chip_model.moc"
