// The test tools without a window: step lists, crash steps, file reading,
// settings, and the step player's handling of a step that stops or restarts it.
#include "tools/continuous_play.h"
#include "tools/crash_test.h"
#include "tools/playback_text.h"
#include "tools/step_player.h"
#include "tools/test_steps.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <limits>

using namespace qav::tools;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}
QByteArray gbk(const QString& text) {
    return QStringEncoder("GBK").encode(text);
}

QStringList labels(const StepList& steps) {
    QStringList out;
    for (const TestStep& s : steps)
        out << s.label;
    return out;
}

QList<int> waits(const StepList& steps) {
    QList<int> out;
    for (const TestStep& s : steps)
        out << s.waitMs;
    return out;
}

} // namespace

class TestTools : public QObject {
    Q_OBJECT
private slots:
    void framesToTheByte() {
        QCOMPARE(announcementFrame(1),
                 hex("FD 00 10 01 01 73 6F 75 6E 64 31 30 31 20 B2 E2 CA D4 31"));
        QCOMPARE(announcementFrame(5).right(1), hex("35"));
        QCOMPARE(endOfTestsFrame(),
                 hex("FD 00 21 01 01") + gbk(QStringLiteral("sound101 测试完毕，会再循环测试")));
        QCOMPARE(endOfTestsFrame().size(), 36);
        // All five characters, with a length that covers every byte sent.
        QCOMPARE(cycleMarkerFrame(), hex("FD 00 0C 01 01 D4 D9 D1 AD BB B7 B2 E2 CA D4"));
        const QByteArray b = gbkTextFrame(sampleTextB());
        QCOMPARE(b.size(), 72);
        QCOMPARE(b.left(5), hex("FD 00 45 01 01"));
        const QString text = playbackTestText();
        QCOMPARE(text.count(QStringLiteral("\r\n")), 14);
        QCOMPARE(text.count(QLatin1Char('\n')), 14);
        QVERIFY(text.startsWith(sampleTextA() + QStringLiteral("\r\n\r\n") + sampleTextB() +
                                QStringLiteral("”\r\n\r\n") + sampleTextC() +
                                QStringLiteral("\r\n")));
    }

    void script123() {
        const StepList steps = qav::tools::script123();
        QCOMPARE(steps.size(), 147);
        int total = 0;
        for (int w : waits(steps))
            total += w;
        QCOMPARE(total, 301200);
        QMap<QString, int> count;
        for (const QString& l : labels(steps))
            ++count[l];
        const QMap<QString, int> expected{{"N1", 1}, {"N2", 1}, {"N3", 1},  {"E", 1},
                                          {"A", 16}, {"B", 14}, {"C", 16},  {"P", 33},
                                          {"R", 31}, {"S", 3},  {"SB", 15}, {"W", 15}};
        QCOMPARE(count, expected);
        // Each label stands for one frame, text frames with encoding code 1.
        const QMap<QString, QByteArray> frames{{"A", gbkTextFrame(sampleTextA())},
                                               {"B", gbkTextFrame(sampleTextB())},
                                               {"C", gbkTextFrame(sampleTextC())},
                                               {"S", hex("FD000102")},
                                               {"P", hex("FD000103")},
                                               {"R", hex("FD000104")},
                                               {"SB", hex("FD000122")},
                                               {"W", hex("FD0001FF")},
                                               {"E", endOfTestsFrame()},
                                               {"N1", announcementFrame(1)},
                                               {"N2", announcementFrame(2)},
                                               {"N3", announcementFrame(3)}};
        for (const TestStep& s : steps)
            QCOMPARE(s.frame, frames.value(s.label));
        // B is left out at the two long intervals; the tests start where they should.
        QCOMPARE(labels(steps.mid(25, 5)), QStringList({"A", "C", "A", "C", "N2"}));
        QCOMPARE(waits(steps.mid(25, 4)), QList<int>({15000, 15000, 25000, 25000}));
        QCOMPARE(labels(steps.mid(99, 2)), QStringList({"S", "N3"}));
        QCOMPARE(waits(steps.mid(143, 4)), QList<int>({8000, 1000, 1000, 4000}));
    }

    void script45BothLinks() {
        const QStringList order{"N4",    "load",  "synth", "synth", "synth", "synth",
                                "synth", "synth", "synth", "synth", "synth", "synth",
                                "N5",    "load",  "synth", "E"};
        for (int limit : {4091, 512}) {
            const StepList steps = script45(limit);
            QCOMPARE(labels(steps), order);
            QCOMPARE(waits(steps),
                     QList<int>({2000, 0, 200, 500, 1000, 1500, 2000, 3000, 5000, 10000, 20000,
                                 30000, 2000, 0, limit == 4091 ? 360000 : 70000, 4000}));
            QCOMPARE(steps.at(12).frame, announcementFrame(5));
        }
    }

    void interruptedPlay() {
        StepList cycle = interruptedPlayCycle(1000, 2);
        QCOMPARE(labels(cycle), QStringList({"synth", "synth", "synth", "marker"}));
        QCOMPARE(waits(cycle), QList<int>({1000, 2000, 3000, 1500}));
        QCOMPARE(labels(interruptedPlayCycle(1000, 0)), QStringList({"synth", "marker"}));
        // From the 33rd request of a cycle with 1 s steps the wait stays at 32767.
        cycle = interruptedPlayCycle(1000, 100);
        QCOMPARE(waits(cycle.mid(31, 3)), QList<int>({32000, 32767, 32767}));
        QCOMPARE(interruptedPlayCycle(32767, 32767).size(), 32769);

        QCOMPARE(readInterruptSetting(QStringLiteral(" 100 ")), std::optional<int>(100));
        QCOMPARE(readInterruptSetting(QStringLiteral("2.5")), std::optional<int>(2));
        QCOMPARE(readInterruptSetting(QStringLiteral("0")), std::optional<int>(0));
        for (const char* bad : {"", "abc", "12a", "-1", "32768", "nan"})
            QVERIFY2(!readInterruptSetting(QString::fromLatin1(bad)), bad);
    }

    void crashCountersStayInRange() {
        const qint64 most = std::numeric_limits<qint64>::max();
        const CrashStep last = planCrashStep({13, 9, most}, QString());
        QCOMPARE(last.next.loopIndex, most);
        QVERIFY(last.resultLine.startsWith(QStringLiteral("循环序号： 9223372036854775808 ")));
        // Counters out of range start a text afresh.
        QCOMPARE(planCrashStep({99, -3, -1}, QString()).resultLine,
                 QStringLiteral("循环序号： 1    文本序号： 1    控制标记序号： 1\r\n"));
        QCOMPARE(planCrashStep({}, QString()).resultGbk,
                 gbk(QStringLiteral("循环序号： 1    文本序号： 1    控制标记序号： 1\r\n")));
    }

    void readingCrashTexts() {
        QTemporaryDir dir;
        const QString missing = dir.filePath(crashTextFileName(2));
        CrashTextRead r = readCrashText(missing, 100);
        QVERIFY(r.created && !r.error && r.text.isEmpty());
        QVERIFY(QFile::exists(missing));

        QFile f(dir.filePath(QStringLiteral("t.txt")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(gbk(QStringLiteral("ab中文\r\n末")));
        f.close();
        QCOMPARE(readCrashText(f.fileName(), 100).text, QStringLiteral("ab中文\r\n末"));
        // Cut inside 文: the half character is left out, not decoded as rubbish.
        QCOMPARE(readCrashText(f.fileName(), 5).text, QStringLiteral("ab中"));
        QCOMPARE(wholeGbkPrefix(QByteArray(20, char(0x81)) + char(0xB0)), 20);

        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        r = readCrashText(dir.filePath(QStringLiteral("folder")), 100);
        QVERIFY(r.error && r.text.isEmpty());
    }

    void replaySeconds() {
        QCOMPARE(readReplaySeconds(QStringLiteral("500000\r\n")), 500000.0);
        QCOMPARE(readReplaySeconds(QStringLiteral("500000\n")), 500000.0);
        QCOMPARE(readReplaySeconds(QStringLiteral("0")), 0.0);
        QVERIFY(!readReplaySeconds(QString()));
    }

    void playerStepThatStopsOrRestarts() {
        StepPlayer player;
        QStringList seen;
        const StepList two{{StepAction::SendFrame, {}, 0, "0"},
                           {StepAction::SendFrame, {}, 0, "1"}};
        const StepList slow{{StepAction::SendFrame, {}, 1000000, "x"}};
        player.start(two, [&](const TestStep& s) {
            seen << s.label;
            if (s.label == "1")
                player.start(slow, [&](const TestStep& t) { seen << t.label; });
        });
        QTest::qWait(30);
        QCOMPARE(seen, QStringList({"0", "1", "x"})); // the old list's wait is gone
        player.start(two, [&](const TestStep& s) {
            seen << s.label;
            player.stop();
        });
        QTest::qWait(30);
        QCOMPARE(seen.size(), 4);
        QVERIFY(!player.isRunning());
    }
};

QTEST_GUILESS_MAIN(TestTools)
#include "tst_tools.moc"
