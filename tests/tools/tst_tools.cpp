// The test tools without a window: step lists, crash steps, file reading,
// settings, and the step player's handling of a step that stops or restarts it.
#include "common/hex_bytes.h"
#include "common/log_helpers.h"
#include "synthesis/gbk_text.h"
#include "tools/continuous_play.h"
#include "tools/crash_test.h"
#include "tools/playback_text.h"
#include "tools/script_frames.h"
#include "tools/step_player.h"
#include "tools/test_steps.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <limits>

using namespace qav::tools;
using qav::test::gbk;
namespace script = qav::test::script;

using qav::test::hex;

namespace {

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
        QCOMPARE(announcementFrame(4), script::announcement(4));
        QCOMPARE(announcementFrame(5), script::announcement(5));
        QCOMPARE(endOfTestsFrame(), script::endOfTests());
        QCOMPARE(endOfTestsFrame().size(), 36);
        // All five characters, with a length that covers every byte sent.
        QCOMPARE(cycleMarkerFrame(), script::cycleMarker());
        QCOMPARE(gbkTextFrame(QStringLiteral("打断")), hex("FD 00 06 01 01 B4 F2 B6 CF"));
    }

    void playbackTextLineByLine() {
        const QString address = QStringLiteral("www.example.com");
        const QStringList lines = {
            QStringLiteral("默认自动判断，如：[g0]") + address +
                QStringLiteral("[d]。设置成中文，  如：[g1]") + address +
                QStringLiteral("[d]。设置成英文，  如：[g2]") + address + QStringLiteral("[d]"),
            QString(),
            QStringLiteral("Beijing：Tonight to tomorrow ，Cloudy with showers to 19 ℃ ~ 12 ℃”"),
            QString(),
            address + QStringLiteral("。-0.17%。-12.6℃。传真是:021-55506218 。联通3G。"
                                     "sound101 sound102 。[f0]这是发音风格为一字一顿的效果；[d]"),
            QString(),
            QString(),
            QStringLiteral("测试1：打断再合成 或 播完再合成（对于上面3个文本，按顺序）"),
            QStringLiteral("测试2：合成过程中：暂停，恢复，停止"),
            QStringLiteral("测试3：合成过程中：Standy，唤醒"),
            QString(),
            QString(),
            QStringLiteral("【接着点击“内测45”按钮完成以下测试"),
            QStringLiteral("测试4：打断再合成"),
            QStringLiteral("测试5：播完再合成"),
        };
        QCOMPARE(playbackTestLines(), lines);
        QCOMPARE(playbackTestText(), lines.join(QStringLiteral("\r\n")));
        // Texts A, B and C are lines 1, 3 (without its quotation mark) and 5.
        QCOMPARE(gbkTextFrame(sampleTextA()), script::textA());
        QCOMPARE(gbkTextFrame(sampleTextB()), script::textB());
        QCOMPARE(gbkTextFrame(sampleTextC()), script::textC());
    }

    void script123() {
        const StepList steps = qav::tools::script123();
        QList<script::Step> expected = script::script123Steps();
        QCOMPARE(expected.size(), 147);
        QStringList expectedLabels;
        QList<int> expectedWaits;
        for (const script::Step& s : expected) {
            expectedLabels << s.label;
            expectedWaits << s.waitMs;
        }
        QCOMPARE(labels(steps), expectedLabels);
        QCOMPARE(waits(steps), expectedWaits);
        QList<QByteArray> frames;
        for (const TestStep& s : steps)
            frames << s.frame;
        QCOMPARE(frames, script::script123FrameList());

        // What one pass adds up to.
        int total = 0;
        for (int w : expectedWaits)
            total += w;
        QCOMPARE(total, 301200);
        QMap<QString, int> count;
        for (const QString& l : expectedLabels)
            ++count[l];
        const QMap<QString, int> counts{{"N1", 1}, {"N2", 1}, {"N3", 1},  {"E", 1},
                                        {"A", 16}, {"B", 14}, {"C", 16},  {"P", 33},
                                        {"R", 31}, {"S", 3},  {"SB", 15}, {"W", 15}};
        QCOMPARE(count, counts);
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
            QCOMPARE(steps.at(0).frame, script::announcement(4));
            QCOMPARE(steps.at(12).frame, script::announcement(5));
            QCOMPARE(steps.at(15).frame, script::endOfTests());
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
        QCOMPARE(readInterruptSetting(QString()), std::optional<int>(0)); // an empty box
        for (const char* bad : {"abc", "12a", "-1", "32768", "nan"})
            QVERIFY2(!readInterruptSetting(QString::fromLatin1(bad)), bad);
    }

    // Each tag variant's send text and result line, from the step before it.
    void crashStepTexts_data() {
        QTest::addColumn<int>("variant");
        QTest::addColumn<QString>("front");
        QTest::addColumn<QString>("back");
        const char* const variants[][2] = {
            {"", ""},          {"[s0][t0][v3]", ""}, {"[s10][t10][v10]", ""}, {"[g1]", "[g0]"},
            {"[g2]", "[g0]"},  {"[h1]", ""},         {"[k10]", ""},           {"[n1]", ""},
            {"[n2]", ""},      {"[g1][h1]", ""},     {"[g2][h1]", ""},        {"[o1]", ""},
            {"[s0][t10]", ""}, {"[s10][t0]", ""}};
        for (int v = 1; v <= 14; ++v)
            QTest::addRow("variant %d", v) << v << QString::fromLatin1(variants[v - 1][0])
                                           << QString::fromLatin1(variants[v - 1][1]);
    }
    void crashStepTexts() {
        QFETCH(int, variant);
        QFETCH(QString, front);
        QFETCH(QString, back);
        const CrashStep step = planCrashStep({variant - 1, 2, 0}, QStringLiteral("文本\r\n末"));
        QCOMPARE(step.tagVariant, variant);
        QCOMPARE(step.sendText, QStringLiteral("[d][g1][s10] 1- 3- %1[g0][d]\r\n").arg(variant) +
                                    front + QStringLiteral("\r\n\r\n文本\r\n末") + back);
        QCOMPARE(
            step.resultLine,
            QStringLiteral("循环序号： 1    文本序号： 3    控制标记序号： %1\r\n").arg(variant));
        QCOMPARE(step.next.tagStep, variant == 14 ? 0 : variant);
        QCOMPARE(step.next.textIndex, variant == 14 ? 3 : 2);
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

    // A result line read back gives the counters its step left behind; any
    // other line, or numbers out of their range, give nothing.
    void resultLinesReadBack_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("tagStep");
        QTest::addColumn<int>("textIndex");
        QTest::addColumn<qint64>("loopIndex");
        const auto line = [](qint64 l, int t, int v) {
            return QStringLiteral("循环序号： %1    文本序号： %2    控制标记序号： %3")
                .arg(l)
                .arg(t)
                .arg(v);
        };
        QTest::newRow("first step") << line(1, 1, 1) << 1 << 0 << qint64(0);
        QTest::newRow("a text's last variant") << line(1, 1, 14) << 0 << 1 << qint64(0);
        QTest::newRow("a loop's last step") << line(7, 10, 14) << 0 << 0 << qint64(7);
        QTest::newRow("far into a run") << line(4711, 3, 9) << 9 << 2 << qint64(4710);
        QTest::newRow("variant 15") << line(1, 1, 15) << -1 << 0 << qint64(0);
        QTest::newRow("text 0") << line(1, 0, 1) << -1 << 0 << qint64(0);
        QTest::newRow("text 11") << line(1, 11, 1) << -1 << 0 << qint64(0);
        QTest::newRow("loop 0") << line(0, 1, 1) << -1 << 0 << qint64(0);
        QTest::newRow("cut off") << line(1, 1, 1).chopped(6) << -1 << 0 << qint64(0);
        QTest::newRow("with its line break")
            << line(1, 1, 1) + QStringLiteral("\r\n") << -1 << 0 << qint64(0);
        QTest::newRow("a verdict") << QStringLiteral("芯片死机：2026-12-08 01:02:03，无回传 66 秒")
                                   << -1 << 0 << qint64(0);
    }
    void resultLinesReadBack() {
        QFETCH(QString, line);
        QFETCH(int, tagStep);
        QFETCH(int, textIndex);
        QFETCH(qint64, loopIndex);
        const auto after = countersAfterResultLine(line);
        QCOMPARE(after.has_value(), tagStep >= 0);
        if (!after)
            return;
        QCOMPARE(after->tagStep, tagStep);
        QCOMPARE(after->textIndex, textIndex);
        QCOMPARE(after->loopIndex, loopIndex);
        // The next step's line is the one after it.
        const CrashStep next = planCrashStep(*after, QString());
        QCOMPARE(countersAfterResultLine(next.resultLine.chopped(2))->tagStep, next.next.tagStep);
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
        QCOMPARE(qav::synthesis::wholeGbkPrefix(QByteArray(20, char(0x81)) + char(0xB0)), 20);

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
        QTest::qWait(30);                             // no step of the old list follows
        QCOMPARE(seen, QStringList({"0", "1", "x"})); // the old list's wait is gone
        player.start(two, [&](const TestStep& s) {
            seen << s.label;
            player.stop();
        });
        QTest::qWait(30); // nothing follows a step that stopped the player
        QCOMPARE(seen.size(), 4);
        QVERIFY(!player.isRunning());
    }
};

QTEST_GUILESS_MAIN(TestTools)
#include "tst_tools.moc"
