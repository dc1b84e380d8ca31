// Crash-test steps over the counters, and the reading of its text files.
#include "tools/continuous_play.h"
#include "tools/crash_test.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <limits>
#include <unistd.h>

using namespace qav::tools;

class TestCrash : public QObject {
    Q_OBJECT
private slots:
    void firstStep() {
        const CrashStep s = planCrashStep({}, QStringLiteral("你好"));
        QCOMPARE(s.sendText, QStringLiteral("[d][g1][s10] 1- 1- 1[g0][d]\r\n\r\n\r\n你好"));
        QCOMPARE(s.resultLine,
                 QStringLiteral("循环序号： 1    文本序号： 1    控制标记序号： 1\r\n"));
        QCOMPARE(s.resultGbk, QStringEncoder("GBK").encode(s.resultLine));
        QCOMPARE(s.next.tagStep, 1);
        QCOMPARE(s.next.textIndex, 0);
        QCOMPARE(s.next.loopIndex, 0);
        QVERIFY(s.next.running());
        QCOMPARE(crashTextFileName(0), QStringLiteral("死机测试文本01.txt"));
        QCOMPARE(crashTextFileName(9), QStringLiteral("死机测试文本10.txt"));
    }

    void variantsWrapTheText() {
        const CrashStep second = planCrashStep({1, 0, 0}, QStringLiteral("x"));
        QCOMPARE(second.sendText,
                 QStringLiteral("[d][g1][s10] 1- 1- 2[g0][d]\r\n[s0][t0][v3]\r\n\r\nx"));
        const CrashStep fourth = planCrashStep({3, 0, 0}, QStringLiteral("x"));
        QCOMPARE(fourth.sendText,
                 QStringLiteral("[d][g1][s10] 1- 1- 4[g0][d]\r\n[g1]\r\n\r\nx[g0]"));
    }

    void lastVariantOfTextOne() {
        const CrashStep s = planCrashStep({13, 0, 0}, QString());
        QCOMPARE(s.sendText, QStringLiteral("[d][g1][s10] 1- 1- 14[g0][d]\r\n[s10][t0]\r\n\r\n"));
        QCOMPARE(s.resultLine,
                 QStringLiteral("循环序号： 1    文本序号： 1    控制标记序号： 14\r\n"));
        QCOMPARE(s.next.tagStep, 0);
        QCOMPARE(s.next.textIndex, 1);
        // The next step takes file 02 with variant 1.
        const CrashStep n = planCrashStep(s.next, QStringLiteral("t"));
        QCOMPARE(n.tagVariant, 1);
        QVERIFY(n.sendText.startsWith(QStringLiteral("[d][g1][s10] 1- 2- 1[g0][d]\r\n\r\n\r\nt")));
    }

    void fullLoopRollsOver() {
        CrashCounters c;
        QStringList lines;
        for (int i = 0; i < 140; ++i) {
            const CrashStep s = planCrashStep(c, QString());
            lines << s.resultLine;
            c = s.next;
        }
        QCOMPARE(lines.last(),
                 QStringLiteral("循环序号： 1    文本序号： 10    控制标记序号： 14\r\n"));
        QCOMPARE(c.tagStep, 0);
        QCOMPARE(c.textIndex, 0);
        QCOMPARE(c.loopIndex, 1);
        QVERIFY(c.running());
        QCOMPARE(planCrashStep(c, QString()).resultLine,
                 QStringLiteral("循环序号： 2    文本序号： 1    控制标记序号： 1\r\n"));
        QCOMPARE(QSet<QString>(lines.begin(), lines.end()).size(), 140);
    }

    void countersNeverOverflow() {
        const qint64 most = std::numeric_limits<qint64>::max();
        const CrashStep s = planCrashStep({13, 9, most}, QString());
        QCOMPARE(s.next.loopIndex, most);
        QVERIFY(s.resultLine.startsWith(QStringLiteral("循环序号： 9223372036854775808 ")));
        // Out-of-range counters start a text afresh instead of reading a bad variant.
        const CrashStep odd = planCrashStep({99, -3, -1}, QString());
        QCOMPARE(odd.resultLine,
                 QStringLiteral("循环序号： 1    文本序号： 1    控制标记序号： 1\r\n"));
    }

    void readingFiles() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString missing = dir.filePath(crashTextFileName(2));
        CrashTextRead r = readCrashText(missing, 100);
        QVERIFY(r.created);
        QVERIFY(!r.error);
        QVERIFY(r.text.isEmpty());
        QVERIFY(QFile::exists(missing));

        QFile f(dir.filePath("gbk.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringEncoder("GBK").encode(QStringLiteral("ab中文\r\n末")));
        f.close();
        r = readCrashText(f.fileName(), 100);
        QVERIFY(!r.error);
        QCOMPARE(r.text, QStringLiteral("ab中文\r\n末"));
        // Cut inside 文: the half character is left out, not decoded as rubbish.
        r = readCrashText(f.fileName(), 4);
        QCOMPARE(r.text, QStringLiteral("ab中"));
        r = readCrashText(f.fileName(), 5);
        QCOMPARE(r.text, QStringLiteral("ab中"));

        QVERIFY(QDir(dir.path()).mkdir(crashTextFileName(3)));
        r = readCrashText(dir.filePath(crashTextFileName(3)), 100);
        QVERIFY(r.error);
        QVERIFY(r.text.isEmpty());

        if (::geteuid() != 0) {
            QFile locked(dir.filePath("locked.txt"));
            QVERIFY(locked.open(QIODevice::WriteOnly));
            locked.write("secret");
            locked.close();
            locked.setPermissions(QFileDevice::Permissions());
            r = readCrashText(locked.fileName(), 100);
            QVERIFY(r.error);
            QVERIFY(r.text.isEmpty());
        }
    }

    void readLimitCoversAChunk() {
        // A file of nothing but invalid double bytes still fills a serial chunk.
        QCOMPARE(crashTextReadLimit(4091), 8184);
        QByteArray bytes(20, char(0x81));
        QCOMPARE(wholeGbkPrefix(bytes), 20);
        bytes.append(char(0xB0));
        QCOMPARE(wholeGbkPrefix(bytes), 20);
        QCOMPARE(wholeGbkPrefix(QByteArray("a\xB0\xA1"
                                           "b\xB0",
                                           5)),
                 4);
    }

    void replaySeconds() {
        QCOMPARE(readReplaySeconds(QStringLiteral("500000\r\n")), 500000.0);
        QCOMPARE(readReplaySeconds(QStringLiteral("500000\n")), 500000.0);
        QCOMPARE(readReplaySeconds(QStringLiteral("3")), 3.0);
        QCOMPARE(readReplaySeconds(QStringLiteral("0")), 0.0);
        QCOMPARE(readReplaySeconds(QStringLiteral("\r\n7")), 0.0);
        QVERIFY(!readReplaySeconds(QString()));
        double count = 2;
        QVERIFY(countDown(count));
        QVERIFY(!countDown(count));
    }
};

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash_test.moc"
