// The runner's parts without a chip: its command line, the percentiles, the
// reply times matched to frames and written as CSV rows, and the JUnit
// report read back as a CI server reads it.
#include "junit_helpers.h"
#include "report/percentiles.h"
#include "runner/frame_timing.h"
#include "runner/junit_report.h"
#include "runner/run_options.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace qav;
using namespace qav::runner;
using qav::report::Percentiles;

namespace {

const QByteArray kSpeak = QByteArray::fromHex("FD00060101C4E3BAC3"); // 你好
const QByteArray kQuery = QByteArray::fromHex("FD000121");
const QByteArray kPause = QByteArray::fromHex("FD000103");

ParsedCommandLine parse(const QStringList& arguments) {
    return parseCommandLine(QStringList{QStringLiteral("qav7120-run")} + arguments,
                            QStringLiteral("/bench"));
}

// "command,length,41,4F,step" of the rows the matcher settled.
struct Rows {
    QStringList rows;
    ReplyMatcher matcher{[this](const FrameTiming& t) {
        const QByteArray line = TimingCsv::row(t);
        rows << QString::fromUtf8(line.mid(line.indexOf(',') + 1).chopped(1));
    }};
    void sent(const QByteArray& frame, qint64 ms, const QString& step = QStringLiteral("s")) {
        matcher.frameSent(frame, step, QDateTime::currentDateTime(), ms);
    }
};

} // namespace

class TestRunnerReports : public QObject {
    Q_OBJECT
private slots:
    void durationsAndSeconds() {
        QCOMPARE(parseDuration(u"90s"_qs), 90'000);
        QCOMPARE(parseDuration(u"30m"_qs), 1'800'000);
        QCOMPARE(parseDuration(u"24h"_qs), 86'400'000);
        QCOMPARE(parseDuration(u"1.5s"_qs), 1'500);
        for (const char* bad : {"", "90", "0s", "-5s", "5x", "1e3s", "s", "5 m", "0.0001s"})
            QVERIFY2(!parseDuration(QString::fromLatin1(bad)), bad);
        QCOMPARE(parseSeconds(u"0.5"_qs), 500);
        QCOMPARE(parseSeconds(u"60"_qs), 60'000);
        for (const char* bad : {"0", "-1", "abc", "", "1s", "99999999"})
            QVERIFY2(!parseSeconds(QString::fromLatin1(bad)), bad);
    }

    void aNightsStressRun() {
        const auto p = parse({u"crash-test"_qs, u"--port"_qs, u"COM3"_qs, u"--duration"_qs,
                              u"24h"_qs, u"--junit"_qs, u"out.xml"_qs, u"--dir"_qs, u"bench1"_qs,
                              u"--baud"_qs, u"115200"_qs, u"--silence"_qs, u"0.5"_qs});
        QCOMPARE(p.outcome, ParsedCommandLine::Outcome::Run);
        const RunOptions& o = p.options;
        QCOMPARE(o.test, Test::CrashTest);
        QCOMPARE(o.comNumber, 3);
        QVERIFY(o.device.isEmpty());
        QCOMPARE(o.durationMs, 86'400'000);
        QCOMPARE(o.junitPath, u"/bench/out.xml"_qs);
        QCOMPARE(o.folder, u"/bench/bench1"_qs);
        QCOMPARE(o.baud, 115200);
        QCOMPARE(o.silenceMs, 500);
        QCOMPARE(o.encoding, 1);
        QCOMPARE(o.linkTimeoutMs, 600'000);
        QVERIFY(!o.usb && !o.quiet && o.timingPath.isEmpty());
    }

    void otherTestsAndTheirOptions() {
        auto p = parse({u"interrupted-play"_qs, u"--base-ms"_qs, u"0"_qs, u"--passes"_qs, u"3"_qs,
                        u"--port"_qs, u"tty/fake"_qs, u"--encoding"_qs, u"BIG5"_qs, u"--text"_qs,
                        u"a.txt"_qs, u"--timing"_qs, u"t.csv"_qs, u"--quiet"_qs});
        QCOMPARE(p.outcome, ParsedCommandLine::Outcome::Run);
        QCOMPARE(p.options.test, Test::InterruptedPlay);
        QCOMPARE(p.options.baseMs, 0);
        QCOMPARE(p.options.passes, 3);
        QCOMPARE(p.options.comNumber, 0);
        QCOMPARE(p.options.device, u"/bench/tty/fake"_qs);
        QCOMPARE(p.options.encoding, 2);
        QCOMPARE(p.options.textFile, u"/bench/a.txt"_qs);
        QCOMPARE(p.options.timingPath, u"/bench/t.csv"_qs);
        QVERIFY(p.options.quiet);
        QCOMPARE(p.options.folder, u"/bench"_qs);

        p = parse(
            {u"speak"_qs, u"--say"_qs, u"你好"_qs, u"--usb"_qs, u"--link-timeout"_qs, u"90s"_qs});
        QCOMPARE(p.outcome, ParsedCommandLine::Outcome::Run);
        QCOMPARE(p.options.say, u"你好"_qs);
        QVERIFY(p.options.usb);
        QCOMPARE(p.options.linkTimeoutMs, 90'000);
        // Interrupted play's boxes as the window starts them.
        p = parse({u"interrupted-play"_qs});
        QCOMPARE(p.options.baseMs, 1000);
        QCOMPARE(p.options.passes, 100);

        QCOMPARE(parse({u"--help"_qs}).outcome, ParsedCommandLine::Outcome::Help);
        QCOMPARE(parse({u"--version"_qs}).outcome, ParsedCommandLine::Outcome::Version);
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("said");
        auto row = [](const char* name, QStringList a, const char* said) {
            QTest::newRow(name) << a << QString::fromUtf8(said);
        };
        row("no test", {}, "which test?");
        row("unknown test", {u"crash"_qs}, "unknown test: crash");
        row("two tests", {u"speak"_qs, u"crash-test"_qs}, "one test at a time");
        row("unknown option", {u"speak"_qs, u"--fast"_qs}, "fast");
        row("value missing", {u"speak"_qs, u"--port"_qs}, "port");
        row("baud", {u"speak"_qs, u"--baud"_qs, u"1200"_qs}, "--baud 1200");
        row("encoding", {u"speak"_qs, u"--encoding"_qs, u"utf8"_qs}, "--encoding utf8");
        row("COM21", {u"speak"_qs, u"--port"_qs, u"COM21"_qs}, "COM1 to COM20");
        row("usb and port", {u"speak"_qs, u"--usb"_qs, u"--port"_qs, u"COM2"_qs}, "--usb");
        row("crash test over usb", {u"crash-test"_qs, u"--usb"_qs}, "serial port");
        row("text and say", {u"speak"_qs, u"--say"_qs, u"a"_qs, u"--text"_qs, u"f"_qs}, "choose");
        row("own texts", {u"crash-test"_qs, u"--say"_qs, u"a"_qs}, "its own texts");
        row("empty say", {u"speak"_qs, u"--say"_qs, u""_qs}, "empty");
        row("duration", {u"crash-test"_qs, u"--duration"_qs, u"10"_qs}, "--duration 10");
        row("silence", {u"crash-test"_qs, u"--silence"_qs, u"0"_qs}, "--silence 0");
        row("link timeout", {u"speak"_qs, u"--link-timeout"_qs, u"soon"_qs}, "--link-timeout");
        row("base for crash", {u"crash-test"_qs, u"--base-ms"_qs, u"5"_qs}, "interrupted-play");
        row("passes", {u"interrupted-play"_qs, u"--passes"_qs, u"40000"_qs}, "0 to 32767");
        row("twice", {u"speak"_qs, u"--baud"_qs, u"9600"_qs, u"--baud"_qs, u"4800"_qs},
            "more than once");
        row("same file", {u"speak"_qs, u"--junit"_qs, u"r"_qs, u"--timing"_qs, u"r"_qs},
            "same file");
    }
    void usageErrors() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, said);
        const auto p = parse(arguments);
        QCOMPARE(p.outcome, ParsedCommandLine::Outcome::Error);
        QVERIFY2(p.text.contains(said), qPrintable(p.text));
    }

    void percentiles() {
        Percentiles p;
        QCOMPARE(p.percentile(50), std::nullopt);
        QCOMPARE(p.max(), std::nullopt);
        for (int v = 100; v >= 1; --v)
            p.add(v);
        QCOMPARE(p.percentile(50), 50);
        QCOMPARE(p.percentile(99), 99);
        QCOMPARE(p.percentile(100), 100);
        QCOMPARE(p.max(), 100);

        // Long times: within 1 %, and the largest exactly.
        Percentiles q;
        for (int i = 0; i < 1000; ++i)
            q.add(2345);
        q.add(7'200'000); // two hours
        QVERIFY(qAbs(*q.percentile(50) - 2345) <= 23);
        QVERIFY(qAbs(*q.percentile(99) - 2345) <= 23);
        QCOMPARE(q.max(), 7'200'000);
        QCOMPARE(q.percentile(100), 7'200'000);
        QCOMPARE(q.count(), 1001);
    }

    void repliesMatchedToFrames() {
        {
            Rows r;
            r.sent(kSpeak, 1000, u"连续播放 第 1 轮"_qs);
            r.matcher.reply(0x41, 1020);
            QVERIFY(r.rows.isEmpty());
            r.matcher.reply(0x4F, 1500);
            QCOMPARE(r.rows, QStringList{u"01,9,20,500,连续播放 第 1 轮"_qs});
        }
        { // A text cut off by the next gets no idle report of its own.
            Rows r;
            r.sent(kSpeak, 0);
            r.sent(kSpeak, 10);
            r.matcher.reply(0x41, 15);
            r.matcher.reply(0x41, 25);
            r.matcher.reply(0x4F, 300);
            QCOMPARE(r.rows, QStringList({u"01,9,15,,s"_qs, u"01,9,15,290,s"_qs}));
        }
        { // A query while the text plays: 41 4E, and the text's 4F later.
            Rows r;
            r.sent(kSpeak, 0);
            r.matcher.reply(0x41, 10);
            r.sent(kQuery, 1000);
            r.matcher.reply(0x41, 1010);
            r.matcher.reply(0x4E, 1011);
            QVERIFY(r.rows.isEmpty());
            r.matcher.reply(0x4F, 2000);
            QCOMPARE(r.rows, QStringList({u"01,9,10,2000,s"_qs, u"21,4,10,,s"_qs}));
        }
        { // The idle report ends the text, not the pause sent after it.
            Rows r;
            r.sent(kSpeak, 0);
            r.matcher.reply(0x41, 10);
            r.sent(kPause, 100);
            r.matcher.reply(0x41, 110);
            r.matcher.reply(0x4F, 500);
            QCOMPARE(r.rows, QStringList{u"01,9,10,500,s"_qs});
            r.matcher.settleAll();
            QCOMPARE(r.rows.last(), u"03,4,10,,s"_qs);
        }
        { // A lost idle report: the query finds the chip idle.
            Rows r;
            r.sent(kSpeak, 0);
            r.matcher.reply(0x41, 10);
            r.sent(kQuery, 60'000);
            r.matcher.reply(0x41, 60'005);
            r.matcher.reply(0x4F, 60'006);
            QCOMPARE(r.rows, QStringList({u"01,9,10,,s"_qs, u"21,4,5,6,s"_qs}));
        }
        { // An error answer, then the chip starting afresh.
            Rows r;
            r.sent(QByteArray::fromHex("FD0001"), 0);
            r.sent(kSpeak, 5);
            r.matcher.reply(0x45, 8);
            r.matcher.reply(0x41, 9);
            r.matcher.reply(0x4A, 40);
            QCOMPARE(r.rows, QStringList({u",3,,,s"_qs, u"01,9,4,,s"_qs}));
        }
        { // A chip that never answers: only so many frames wait.
            Rows r;
            for (int i = 0; i < ReplyMatcher::kMaxWaiting + 3; ++i)
                r.sent(kQuery, i);
            QCOMPARE(r.rows.size(), 3);
            r.matcher.settleAll();
            QCOMPARE(r.rows.size(), ReplyMatcher::kMaxWaiting + 3);
        }
    }

    void csvRows() {
        FrameTiming t;
        t.sentAt = QDateTime(QDate(2026, 12, 8), QTime(3, 12, 45, 7), QTimeZone(3600));
        t.command = 0x01;
        t.length = 44;
        t.msToReceived = 41;
        t.msToIdle = 2345;
        t.step = u"死机测试 循环 1 文本 3 控制标记 7"_qs;
        QCOMPARE(TimingCsv::row(t),
                 QByteArray("2026-12-08T03:12:45.007+01:00,01,44,41,2345,")
                     .append(u"死机测试 循环 1 文本 3 控制标记 7\n"_qs.toUtf8()));
        t.command = 0xFF;
        t.msToIdle.reset();
        t.step = u"say \"a, b\""_qs;
        QCOMPARE(TimingCsv::row(t),
                 QByteArray("2026-12-08T03:12:45.007+01:00,FF,44,41,,\"say \"\"a, b\"\"\"\n"));

        QTemporaryDir dir;
        TimingCsv csv;
        QCOMPARE(csv.open(dir.filePath(u"t.csv"_qs)), std::nullopt);
        csv.write(t);
        QCOMPARE(csv.close(), std::nullopt);
        QFile file(dir.filePath(u"t.csv"_qs));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(),
                 QByteArray("sent,command,length,ms_to_41,ms_to_4F,step\n"
                            "2026-12-08T03:12:45.007+01:00,FF,44,41,,\"say \"\"a, b\"\"\"\n"));
        QVERIFY(csv.open(dir.filePath(u"no/such/folder/t.csv"_qs)).has_value());
    }

    void junitReport() {
        QTemporaryDir dir;
        JUnitReport report;
        QCOMPARE(report.open(u"qav7120.crash-test"_qs), std::nullopt);
        report.beginCase(u"循环 1 文本 1"_qs, 0);
        report.addFailure(
            u"芯片死机：2026-12-08 03:12:45，无回传 66 秒，死机测试 循环 1 文本 1 控制标记 3"_qs,
            u"芯片死机：2026-12-08 03:12:45，无回传 66 秒，死机测试 循环 1 文本 1 控制标记 3\n"
            "the last frames before it:\n03:11:39.000 -> FD 00 01 21 <&>"_qs);
        report.recovered(u"芯片已恢复：2026-12-08 03:20:02，无回传 503 秒"_qs);
        report.beginCase(u"循环 1 文本 2"_qs, 1500);
        report.addError(u"the link was lost"_qs, u"the link was lost"_qs);
        for (int i = 3; i <= 200; ++i) // a long run's cases go through the spool
            report.beginCase(u"循环 1 文本 %1"_qs.arg(i), 4000 + i);
        JUnitReport::Suite suite;
        suite.name = u"qav7120-run crash-test"_qs;
        suite.timestamp = u"2026-12-08T03:00:00"_qs;
        suite.seconds = 4.5;
        suite.properties = {{u"port"_qs, u"COM1"_qs}, {u"hangs"_qs, u"1"_qs}};
        const QString path = dir.filePath(u"out.xml"_qs);
        QCOMPARE(report.write(path, suite, 4500), std::nullopt);

        QString fault;
        const auto read = test::readJUnit(path, &fault);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QCOMPARE(read.attributes.value(u"name"_qs), u"qav7120-run crash-test"_qs);
        QCOMPARE(read.attributes.value(u"tests"_qs), u"200"_qs);
        QCOMPARE(read.attributes.value(u"failures"_qs), u"1"_qs);
        QCOMPARE(read.attributes.value(u"errors"_qs), u"1"_qs);
        QCOMPARE(read.attributes.value(u"time"_qs), u"4.500"_qs);
        QCOMPARE(read.attributes.value(u"timestamp"_qs), u"2026-12-08T03:00:00"_qs);
        QCOMPARE(read.properties, (QList<QPair<QString, QString>>{{u"port"_qs, u"COM1"_qs},
                                                                  {u"hangs"_qs, u"1"_qs}}));
        QCOMPARE(read.cases.size(), 200);
        const auto& first = read.cases.first();
        QCOMPARE(first.name, u"循环 1 文本 1"_qs);
        QCOMPARE(first.className, u"qav7120.crash-test"_qs);
        QCOMPARE(first.seconds, 1.5);
        QCOMPARE(first.problems.size(), 1);
        QCOMPARE(first.problems[0].kind, u"failure"_qs);
        QCOMPARE(
            first.problems[0].message,
            u"芯片死机：2026-12-08 03:12:45，无回传 66 秒，死机测试 循环 1 文本 1 控制标记 3"_qs);
        QCOMPARE(first.problems[0].text,
                 u"芯片死机：2026-12-08 03:12:45，无回传 66 秒，死机测试 循环 1 文本 1 控制标记 3\n"
                 "芯片已恢复：2026-12-08 03:20:02，无回传 503 秒\n"
                 "the last frames before it:\n03:11:39.000 -> FD 00 01 21 <&>"_qs);
        QCOMPARE(read.cases[1].seconds, 2.503);
        QCOMPARE(read.cases[1].problems[0].kind, u"error"_qs);
        QCOMPARE(read.cases.last().name, u"循环 1 文本 200"_qs);
        QCOMPARE(read.cases.last().seconds, 0.3);

        // A folder where the report cannot go.
        JUnitReport other;
        QCOMPARE(other.open(u"x"_qs), std::nullopt);
        QVERIFY(other.write(dir.filePath(u"missing/out.xml"_qs), suite, 0).has_value());
    }
};

QTEST_GUILESS_MAIN(TestRunnerReports)
#include "tst_runner_reports.moc"
