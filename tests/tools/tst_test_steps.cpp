// The step lists of the timed tests, the playback test text and the reading
// of the interrupted-play settings.
#include "tools/playback_text.h"
#include "tools/test_steps.h"

#include <QMap>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTest>

using namespace qav::tools;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

int totalWait(const StepList& steps) {
    int sum = 0;
    for (const TestStep& s : steps)
        sum += s.waitMs;
    return sum;
}

QStringList labels(const StepList& steps) {
    QStringList out;
    for (const TestStep& s : steps)
        out << s.label;
    return out;
}

} // namespace

class TestSteps : public QObject {
    Q_OBJECT
private slots:
    void playbackText() {
        const QString text = playbackTestText();
        QCOMPARE(text.split(QStringLiteral("\r\n")).size(), 15);
        QVERIFY(!text.endsWith(QStringLiteral("\r\n")));
        QVERIFY(!text.contains(QRegularExpression(QStringLiteral("[^\r]\n"))));
        const QStringList lines = playbackTestLines();
        QCOMPARE(lines.at(0), sampleTextA());
        QCOMPARE(lines.at(2), sampleTextB() + QStringLiteral("”"));
        QCOMPARE(lines.at(4), sampleTextC());
        for (int empty : {1, 3, 5, 6, 10, 11})
            QVERIFY(lines.at(empty).isEmpty());
        QCOMPARE(lines.at(14), QStringLiteral("测试5：播完再合成"));
        // The same address three times in text A, each behind its language tag.
        QCOMPARE(sampleTextA().count(QStringLiteral("www.example.com[d]")), 3);
        QVERIFY(sampleTextC().contains(QStringLiteral("[f0]这是发音风格为一字一顿的效果；[d]")));
    }

    void fixedFrames() {
        QCOMPARE(announcementFrame(1), hex("FD0010010173 6F756E64313031 20B2E2CAD431"));
        QCOMPARE(announcementFrame(2).right(1), hex("32"));
        QCOMPARE(announcementFrame(5).right(1), hex("35"));
        const QByteArray e = endOfTestsFrame();
        QCOMPARE(e.size(), 36);
        QCOMPARE(e.left(5), hex("FD00210101"));
        QCOMPARE(e.mid(5),
                 QStringEncoder("GBK").encode(QStringLiteral("sound101 测试完毕，会再循环测试")));
        // All five characters, and a length that covers every byte sent.
        QCOMPARE(cycleMarkerFrame(), hex("FD000C0101D4D9D1ADBBB7B2E2CAD4"));
    }

    void textB() {
        const QByteArray b = gbkTextFrame(sampleTextB());
        QCOMPARE(b.size(), 72);
        QCOMPARE(b.left(5), hex("FD00450101"));
    }

    void script123OnePass() {
        const StepList steps = script123();
        QCOMPARE(steps.size(), 147);
        QCOMPARE(totalWait(steps), 301200);
        QMap<QString, int> count;
        for (const QString& l : labels(steps))
            ++count[l];
        QCOMPARE(count.value("N1") + count.value("N2") + count.value("N3") + count.value("E"), 4);
        QCOMPARE(count.value("A"), 16);
        QCOMPARE(count.value("B"), 14);
        QCOMPARE(count.value("C"), 16);
        QCOMPARE(count.value("P"), 33);
        QCOMPARE(count.value("R"), 31);
        QCOMPARE(count.value("S"), 3);
        QCOMPARE(count.value("SB"), 15);
        QCOMPARE(count.value("W"), 15);

        // Labels and frames agree, and every step is a frame send with encoding 1 for text.
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
        for (const TestStep& s : steps) {
            QCOMPARE(s.action, StepAction::SendFrame);
            QCOMPARE(s.frame, frames.value(s.label));
        }

        // Test 1: B only at the eight short intervals; test boundaries where they belong.
        QCOMPARE(steps.at(0).label, QStringLiteral("N1"));
        QCOMPARE(labels(steps.mid(25, 4)), QStringList({"A", "C", "A", "C"}));
        QCOMPARE(steps.at(28).waitMs, 25000);
        QCOMPARE(steps.at(29).label, QStringLiteral("N2"));
        QCOMPARE(steps.at(100).label, QStringLiteral("N3"));
        QCOMPARE(steps.at(100).waitMs, 2000);
        // The last group of test 3: C waits 8000, standby 1000, wake-up 1000.
        QCOMPARE(labels(steps.mid(143, 3)), QStringList({"C", "SB", "W"}));
        QCOMPARE(steps.at(143).waitMs, 8000);
        QCOMPARE(steps.at(145).waitMs, 1000);
        QCOMPARE(steps.at(146).waitMs, 4000);
        // Every pass is built alike.
        QCOMPARE(labels(script123()), labels(steps));
    }

    void script45BothLinks() {
        for (int limit : {4091, 512}) {
            const StepList steps = script45(limit);
            QCOMPARE(labels(steps), QStringList({"N4", "load", "synth", "synth", "synth", "synth",
                                                 "synth", "synth", "synth", "synth", "synth",
                                                 "synth", "N5", "load", "synth", "E"}));
            QList<int> waits;
            for (const TestStep& s : steps)
                waits << s.waitMs;
            const int playOut = limit == 4091 ? 360000 : 70000;
            QCOMPARE(waits, QList<int>({2000, 0, 200, 500, 1000, 1500, 2000, 3000, 5000, 10000,
                                        20000, 30000, 2000, 0, playOut, 4000}));
            QCOMPARE(steps.at(0).frame, announcementFrame(4));
            QCOMPARE(steps.at(12).frame, announcementFrame(5));
            QCOMPARE(steps.at(1).action, StepAction::LoadEnglishChineseText);
            QCOMPARE(steps.at(14).action, StepAction::Synthesize);
        }
    }

    void interruptedCycle() {
        StepList cycle = interruptedPlayCycle(1000, 2);
        QCOMPARE(labels(cycle), QStringList({"synth", "synth", "synth", "marker"}));
        QList<int> waits;
        for (const TestStep& s : cycle)
            waits << s.waitMs;
        QCOMPARE(waits, QList<int>({1000, 2000, 3000, 1500}));
        QCOMPARE(cycle.last().frame, cycleMarkerFrame());

        // No passes: the marker follows every request.
        QCOMPARE(labels(interruptedPlayCycle(1000, 0)), QStringList({"synth", "marker"}));
        // Waits stop growing at 32767 ms: the 33rd request of a cycle with 1 s steps.
        cycle = interruptedPlayCycle(1000, 100);
        QCOMPARE(cycle.size(), 102);
        QCOMPARE(cycle.at(31).waitMs, 32000);
        QCOMPARE(cycle.at(32).waitMs, 32767);
        QCOMPARE(cycle.at(100).waitMs, 32767);
        // The largest settings do not overflow.
        cycle = interruptedPlayCycle(32767, 32767);
        QCOMPARE(cycle.size(), 32769);
        QCOMPARE(cycle.at(32767).waitMs, 32767);
    }

    void interruptSettings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value"); // -1: refused
        QTest::newRow("start text") << "1000" << 1000;
        QTest::newRow("blanks") << " 100 " << 100;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("half to even down") << "2.5" << 2;
        QTest::newRow("half to even up") << "3.5" << 4;
        QTest::newRow("largest") << "32767" << 32767;
        QTest::newRow("too large") << "32768" << -1;
        QTest::newRow("negative") << "-1" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("letters") << "abc" << -1;
        QTest::newRow("digits then letters") << "12a" << -1;
        QTest::newRow("not a number") << "nan" << -1;
    }
    void interruptSettings() {
        QFETCH(QString, text);
        QFETCH(int, value);
        const auto read = readInterruptSetting(text);
        if (value < 0)
            QVERIFY(!read);
        else
            QCOMPARE(read, std::optional<int>(value));
    }
};

QTEST_GUILESS_MAIN(TestSteps)
#include "tst_test_steps.moc"
