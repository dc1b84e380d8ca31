// The crash test in the session: the steps one by one, the result file as it
// is written, and a whole loop driven by the chip emulator's idle replies.
#include "common/link_helpers.h"
#include "emulated_bridge.h"
#include "session/crash_results.h"
#include "session_helpers.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

using namespace qav;
using namespace qav::test;

namespace {

const QString kResultFile = QStringLiteral("死机测试文本-测试结果.txt");

QString textFile(int number) {
    return QStringLiteral("死机测试文本%1.txt").arg(number, 2, 10, QLatin1Char('0'));
}

QString resultLine(int loop, int text, int variant) {
    return QStringLiteral("循环序号： %1    文本序号： %2    控制标记序号： %3\r\n")
        .arg(loop)
        .arg(text)
        .arg(variant);
}

} // namespace

class TestCrashTest : public QObject {
    Q_OBJECT
private slots:
    void stepsWithoutChip() {
        SessionFixture s;
        s.writeFile(textFile(1), gbk(QStringLiteral("第一个文本")));
        // The session opened the working folder, and with it the result file.
        s.session();
        QVERIFY(QFileInfo(s.path(kResultFile)).isFile());
        QVERIFY(s.readFile(kResultFile).isEmpty());

        s.session().crashStep();
        QCOMPARE(s.text().text(),
                 QStringLiteral("[d][g1][s10] 1- 1- 1[g0][d]\r\n\r\n\r\n第一个文本"));
        // On disk before the next step, while the session keeps the file open.
        QCOMPARE(s.readFile(kResultFile), gbk(resultLine(1, 1, 1)));
        QCOMPARE(loggedFrames(s.log()),
                 QList<QByteArray>{QByteArray::fromHex("FD 00 2D 01 01") +
                                   gbk(QStringLiteral("[d][g1][s10] 1- 1- 1[g0][d]\r\n\r\n\r\n"
                                                      "第一个文本"))});

        for (int i = 2; i <= 14; ++i)
            s.session().crashStep();
        QCOMPARE(s.text().text(), QStringLiteral("[d][g1][s10] 1- 1- 14[g0][d]\r\n"
                                                 "[s10][t0]\r\n\r\n第一个文本"));
        QVERIFY(gbkText(s.readFile(kResultFile)).endsWith(resultLine(1, 1, 14)));
        // After the fourteenth variant the next text begins with the first.
        s.session().crashStep();
        QVERIFY(gbkText(s.readFile(kResultFile)).endsWith(resultLine(1, 2, 1)));

        for (int i = 16; i <= 140; ++i)
            s.session().crashStep();
        // The missing files were created empty; the last step speaks the header only.
        QVERIFY(QFileInfo::exists(s.path(textFile(10))));
        QCOMPARE(QFileInfo(s.path(textFile(10))).size(), 0);
        QCOMPARE(s.text().text(), QStringLiteral("[d][g1][s10] 1- 10- 14[g0][d]\r\n"
                                                 "[s10][t0]\r\n\r\n"));
        const QStringList lines = gbkText(s.readFile(kResultFile)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 141);
        QCOMPARE(lines.at(139) + QStringLiteral("\r\n"), resultLine(1, 10, 14));
        s.session().crashStep();
        QVERIFY(gbkText(s.readFile(kResultFile)).endsWith(resultLine(2, 1, 1)));
        QCOMPARE(loggedFrames(s.log()).size(), 141);
        QVERIFY(s.messages().isEmpty());
    }

    void unreadableTextIsReportedOnce() {
        SessionFixture s;
        QVERIFY(QDir(s.dir()).mkdir(textFile(1)));
        for (int i = 0; i < 3; ++i)
            s.session().crashStep();
        QCOMPARE(s.messages(), QStringList{QStringLiteral("无法读取测试文本文件：") + textFile(1)});
        // The step went on with an empty text.
        QCOMPARE(s.text().text(), QStringLiteral("[d][g1][s10] 1- 1- 3[g0][d]\r\n"
                                                 "[s10][t10][v10]\r\n\r\n"));
    }

    void drivenByIdleReplies() {
        SessionFixture s;
        for (int i = 1; i <= 10; ++i)
            s.writeFile(textFile(i), gbk(QStringLiteral("文本%1").arg(i)));
        EmulatorProcess chip(s.dir(), 200);
        QVERIFY(chip.ready());
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        // Each step's frame takes its time on the line: 5 ms at 115200 baud
        // rather than 50 at 9600, and the replies are read sooner.
        QVERIFY(s.session().setLineSettings(QStringLiteral("115200,N,8,1")));

        // Idle replies before the first step start nothing.
        s.text().setText(QStringLiteral("先说一句"));
        s.session().synthesize();
        QTRY_VERIFY(s.log().contains(QStringLiteral("<---- 返回：4F  芯片空闲\r\n")));
        QTest::qWait(200); // checks that the idle reply starts no step
        QVERIFY(s.readFile(kResultFile).isEmpty());
        QCOMPARE(s.text().text(), QStringLiteral("先说一句"));

        // One step, then the chip's idle replies carry the test through a whole loop.
        s.session().crashStep();
        auto lineCount = [&] { return s.readFile(kResultFile).count("\r\n"); };
        QTRY_VERIFY_WITH_TIMEOUT(lineCount() >= 141, 45000);
        // Not decoded: the replies stay in the port and the idle replies no
        // longer advance the test. (The wait checks that nothing happens.)
        s.session().setRepliesDecoded(false);
        const qsizetype stopped = lineCount();
        QTest::qWait(500);
        QCOMPARE(lineCount(), stopped);

        QString expected;
        for (int text = 1; text <= 10; ++text)
            for (int variant = 1; variant <= 14; ++variant)
                expected += resultLine(1, text, variant);
        expected += resultLine(2, 1, 1);
        QVERIFY(gbkText(s.readFile(kResultFile)).startsWith(expected));
        // The fifth text under variant 5, as the chip was given it.
        QVERIFY(s.log().contains(
            hexLine(gbk(QStringLiteral("[d][g1][s10] 1- 5- 5[g0][d]\r\n[g2]\r\n\r\n文本5[g0]")))));
    }

    // A result file left by a run that was stopped: read back, and gone on
    // with from the step after its last whole line. The line the end of the
    // file cut off goes; the rest of the file stays as it was.
    void goesOnWhereTheResultFileEnds_data() {
        QTest::addColumn<QList<int>>("last"); // loop, text, variant of the last step
        QTest::addColumn<QList<int>>("next");
        QTest::addColumn<QByteArray>("torn");
        QTest::newRow("within a text")
            << QList<int>{1, 1, 3} << QList<int>{1, 1, 4} << QByteArray();
        QTest::newRow("after a text")
            << QList<int>{1, 2, 14} << QList<int>{1, 3, 1} << QByteArray();
        QTest::newRow("after a loop")
            << QList<int>{3, 10, 14} << QList<int>{4, 1, 1} << QByteArray();
        QTest::newRow("a line cut off")
            << QList<int>{1, 1, 3} << QList<int>{1, 1, 4} << gbk(resultLine(1, 1, 4)).left(13);
    }
    void goesOnWhereTheResultFileEnds() {
        QFETCH(QList<int>, last);
        QFETCH(QList<int>, next);
        QFETCH(QByteArray, torn);
        const QString hang = QStringLiteral("芯片死机：2026-12-08 01:02:03，无回传 66 秒，"
                                            "死机测试 循环 1 文本 1 控制标记 2");
        const QString back = QStringLiteral("芯片已恢复：2026-12-08 01:05:00，无回传 240 秒");
        const QByteArray earlier =
            gbk(resultLine(1, 1, 1) + resultLine(1, 1, 2) + hang + QStringLiteral("\r\n") + back +
                QStringLiteral("\r\n") + resultLine(last[0], last[1], last[2]));
        SessionFixture s;
        s.writeFile(kResultFile, earlier + torn);

        session::CrashProgress progress;
        QVERIFY(!session::CrashResults::readProgress(s.path(kResultFile), 1, progress));
        QCOMPARE(progress.steps, 3);
        QCOMPARE(progress.hangs, 1);
        QCOMPARE(progress.verdicts, QStringList{hang}); // as many as asked for
        QCOMPARE(progress.lastStep + QStringLiteral("\r\n"), resultLine(last[0], last[1], last[2]));
        QCOMPARE(progress.wholeBytes, earlier.size());
        QCOMPARE(progress.tornBytes, torn.size());
        QCOMPARE(progress.otherLines, 0);
        QVERIFY(progress.next);

        auto options = SessionFixture::Options();
        options.crashResume =
            session::SessionOptions::CrashResume{*progress.next, progress.wholeBytes};
        s.setOptions(options);
        s.session().crashStep();
        QCOMPARE(s.readFile(kResultFile), earlier + gbk(resultLine(next[0], next[1], next[2])));
        QVERIFY(s.text().text().startsWith(QStringLiteral("[d][g1][s10] %1- %2- %3[g0][d]\r\n")
                                               .arg(next[0])
                                               .arg(next[1])
                                               .arg(next[2])));
    }

    void resultFilesThatAreNoneToGoOn() {
        SessionFixture s;
        session::CrashProgress progress;
        // Absent: nothing to go on with, and no fault.
        QVERIFY(!session::CrashResults::readProgress(s.path(kResultFile), 10, progress));
        QVERIFY(!progress.next);
        QCOMPARE(progress.wholeBytes, 0);
        // Lines of another kind are counted, not taken for steps.
        s.writeFile(kResultFile, "notes\r\n\r\n" + gbk(resultLine(1, 1, 1)).left(8));
        QVERIFY(!session::CrashResults::readProgress(s.path(kResultFile), 10, progress));
        QVERIFY(!progress.next);
        QCOMPARE(progress.otherLines, 1);
        QCOMPARE(progress.tornBytes, 8);
        // A folder of that name cannot be read.
        SessionFixture t;
        QVERIFY(QDir(t.dir()).mkdir(kResultFile));
        QVERIFY(session::CrashResults::readProgress(t.path(kResultFile), 10, progress));
    }

    void onTheUsbLinkOnlyStepsByHand() {
        SessionFixture s(SessionFixture::emulatedBridge());
        s.useUsbLink();
        s.session().crashStep();
        // The chip reports idle over the bridge; that starts no further step.
        QTRY_VERIFY(s.log().contains(QStringLiteral("<-0x4F  芯片空闲\r\n")));
        QTest::qWait(100); // checks that no further step follows
        QCOMPARE(s.emulator()->framesReceived().size(), 1);
        QCOMPARE(s.readFile(kResultFile), gbk(resultLine(1, 1, 1)));
        s.session().crashStep();
        QCOMPARE(s.readFile(kResultFile), gbk(resultLine(1, 1, 1) + resultLine(1, 1, 2)));
        QVERIFY(s.text().text().startsWith(QStringLiteral("[d][g1][s10] 1- 1- 2[g0][d]\r\n")));
    }
};

QTEST_GUILESS_MAIN(TestCrashTest)
#include "tst_crash_test.moc"
