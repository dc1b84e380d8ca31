// qav7120-run as a test rig runs it: the program against the emulator
// program, each in a fresh working folder; what it leaves there (the result
// file, LOG.txt, the JUnit report, the reply times) and its exit code.
#include "common/link_helpers.h"
#include "common/log_helpers.h"
#include "common/tshark_helpers.h"
#include "junit_helpers.h"
#include "report/capture_reader.h"
#include "tools/script_frames.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace qav;
using namespace qav::test;

namespace {

const QString kResultFile = QStringLiteral("死机测试文本-测试结果.txt");
const QString kLogFile = QStringLiteral("LOG.txt");
const QByteArray kStop = QByteArray::fromHex("FD000102");
const QByteArray kQuery = QByteArray::fromHex("FD000121");
// "你好" in GBK.
const QByteArray kNiHao = QByteArray::fromHex("FD00060101C4E3BAC3");
// The first crash step: header "[d][g1][s10] 1- 1- 1[g0][d]", CR LF, two
// line breaks, then the text of 死机测试文本01.txt, "测试01".
const QByteArray kFirstCrashStep = QByteArray::fromHex(
    "FD002901015B645D5B67315D5B7331305D20312D20312D20315B67305D5B645D0D0A0D0A0D0AB2E2CAD43031");

QString resultLine(qint64 loop, int text, int variant) {
    return QStringLiteral("循环序号： %1    文本序号： %2    控制标记序号： %3")
        .arg(loop)
        .arg(text)
        .arg(variant);
}

// The result lines of the first n crash steps.
QStringList firstResultLines(qsizetype n) {
    QStringList lines;
    for (qsizetype i = 0; i < n; ++i)
        lines << resultLine(i / 140 + 1, int(i / 14 % 10) + 1, int(i % 14) + 1);
    return lines;
}

class Folder {
public:
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    bool exists(const QString& name) const { return QFileInfo::exists(file(name)); }
    QByteArray read(const QString& name) const {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void write(const QString& name, const QByteArray& bytes) const {
        QFile f(file(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // 死机测试文本01.txt .. 10.txt: "测试01" .. "测试10" in GBK.
    void writeCrashTexts(int count = 10) const {
        for (int i = 1; i <= count; ++i) {
            const QByteArray number = QByteArray::number(i).rightJustified(2, '0');
            write(QStringLiteral("死机测试文本%1.txt").arg(QString::fromLatin1(number)),
                  QByteArray::fromHex("B2E2CAD4") + number);
        }
    }
    QStringList results() const {
        QStringList lines = gbkText(read(kResultFile)).split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
    // The block the last run appended to LOG.txt.
    QString lastLogBlock() const {
        const QString log = gbkText(read(kLogFile));
        const QString heading = QStringLiteral("导出数据\r\n");
        const qsizetype at = log.lastIndexOf(heading);
        return at < 0 ? QString() : log.mid(at + heading.size());
    }
    // What record.sh wrote for the event: the time it ran, then the
    // variables; it must have run exactly once.
    QStringList eventRecord(const QString& event) const {
        const QStringList files =
            QDir(path()).entryList({QStringLiteral("event-%1.*").arg(event)}, QDir::Files);
        if (files.size() != 1) {
            qWarning("%lld records of %s", qlonglong(files.size()), qPrintable(event));
            return {};
        }
        QStringList lines = QString::fromUtf8(read(files.first())).split(u'\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
    QStringList journals() const {
        return QDir(path()).entryList({QStringLiteral("LOG-journal-*")}, QDir::Files);
    }
    QStringList csvRows(const QString& name) const {
        QStringList rows = QString::fromUtf8(read(name)).split(u'\n');
        if (!rows.isEmpty() && rows.last().isEmpty())
            rows.removeLast();
        return rows;
    }

private:
    QTemporaryDir dir_;
};

class Runner {
public:
    Runner(const Folder& folder, const QStringList& arguments) {
        process_.setWorkingDirectory(folder.path());
        process_.start(QStringLiteral(QAV_RUNNER_PATH), arguments);
    }
    ~Runner() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
    // Waits for the program to end; its exit code, or -1 when it did not end.
    int exitCode(int timeoutMs = 60'000) {
        if (!process_.waitForFinished(timeoutMs) || process_.exitStatus() != QProcess::NormalExit)
            return -1;
        out_ = QString::fromUtf8(process_.readAllStandardOutput());
        err_ = QString::fromUtf8(process_.readAllStandardError());
        return process_.exitCode();
    }
    QProcess& process() { return process_; }
    const QString& out() const { return out_; }
    const QString& err() const { return err_; }

private:
    QProcess process_;
    QString out_, err_;
};

// The time of the first event of the capture that starts with lead, in
// seconds since 1970; 0 when there is none.
double eventTime(const QString& capture, const QString& lead) {
    QFile file(capture);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    report::CaptureReader reader(file);
    if (reader.start())
        return 0;
    report::CapturedPacket packet;
    while (reader.next(packet))
        if (packet.kind == worklog::PacketKind::Event &&
            QString::fromUtf8(packet.data).startsWith(lead))
            return double(packet.micros) / 1e6;
    return 0;
}

JUnitSuite readReport(const Folder& folder, const QString& name = QStringLiteral("out.xml")) {
    QString fault;
    JUnitSuite suite = readJUnit(folder.file(name), &fault);
    if (!fault.isEmpty())
        qWarning("JUnit report: %s", qPrintable(fault));
    return fault.isEmpty() ? suite : JUnitSuite{};
}

} // namespace

class TestRunnerProgram : public QObject {
    Q_OBJECT
private slots:
    void crashTestForTenSeconds() {
        Folder folder;
        folder.writeCrashTexts();
        EmulatorProcess chip(folder.path(), 50);
        QVERIFY(chip.ready());
        Runner run(folder, {u"crash-test"_qs, u"--duration"_qs, u"10s"_qs, u"--junit"_qs,
                            u"out.xml"_qs, u"--timing"_qs, u"t.csv"_qs, u"--quiet"_qs});
        QCOMPARE(run.exitCode(), 0);

        // The window's result lines for the same steps.
        const QStringList results = folder.results();
        QVERIFY2(results.size() >= 15, qPrintable(QString::number(results.size())));
        QCOMPARE(results, firstResultLines(results.size()));

        // LOG.txt ends with the run's block: a frame for every step, then the stop.
        const QString block = folder.lastLogBlock();
        QVERIFY(block.endsWith(kStopEntry + QStringLiteral("\r\n")));
        const QList<QByteArray> frames = loggedFrames(block);
        QCOMPARE(frames.first(), kFirstCrashStep);
        QCOMPARE(frames.last(), kStop);
        qsizetype texts = 0;
        for (const QByteArray& f : frames)
            texts += f.startsWith(QByteArray::fromHex("FD")) && f.mid(3, 2) == "\x01\x01";
        QCOMPARE(texts, results.size());
        QVERIFY(folder.journals().isEmpty());

        // One case per text of a loop, none failed.
        const JUnitSuite suite = readReport(folder);
        QStringList units;
        for (qsizetype i = 0; i < results.size(); i += 14)
            units << QStringLiteral("循环 %1 文本 %2").arg(i / 140 + 1).arg(i / 14 % 10 + 1);
        QStringList cases;
        for (const auto& c : suite.cases) {
            cases << c.name;
            QCOMPARE(c.className, u"qav7120.crash-test"_qs);
        }
        QCOMPARE(cases, units);
        QCOMPARE(suite.count(u"failure"_qs), 0);
        QCOMPARE(suite.property(u"steps"_qs), QString::number(results.size()));
        QCOMPARE(suite.property(u"hangs"_qs), u"0"_qs);
        QCOMPARE(suite.property(u"port"_qs), u"COM1"_qs);
        QCOMPARE(suite.property(u"baud"_qs), u"9600"_qs);

        // A row of reply times for every frame, in the order sent.
        const QStringList rows = folder.csvRows(u"t.csv"_qs);
        QCOMPARE(rows.first(), u"sent,command,length,ms_to_41,ms_to_4F,step"_qs);
        QCOMPARE(rows.size(), frames.size() + 1);
        for (qsizetype i = 0; i < frames.size(); ++i) {
            const QStringList f = rows[i + 1].split(u',');
            QCOMPARE(f[1], QString::fromLatin1(frames[i].mid(3, 1).toHex().toUpper()));
            QCOMPARE(f[2], QString::number(frames[i].size()));
        }
        QCOMPARE(rows[1].section(u',', 5), u"死机测试 循环 1 文本 1 控制标记 1"_qs);
        QVERIFY(run.out().contains(QStringLiteral("steps: %1\nhangs: 0\n").arg(results.size())));
    }

    // --on-hang's command runs once at the verdict and once at the recovery,
    // with what they concern; the hang's never ends and holds nothing.
    void aHangIsAFailureAndTheRunGoesOn() {
        Folder folder;
        folder.writeCrashTexts();
        folder.write(u"record.sh"_qs,
                     "f=\"$QAV7120_FOLDER/event-$QAV7120_EVENT\"\n"
                     "{ date +%s.%N; env | grep '^QAV7120_' | sort; } > \"$f.$$\"\n"
                     "[ \"$QAV7120_EVENT\" = hang ] && exec sleep 600\n"
                     "echo recorded\n");
        EmulatorProcess chip(folder.path(), 50, true, 1,
                             {u"--hang-after"_qs, u"3"_qs, u"--recover-after"_qs, u"9"_qs});
        QVERIFY(chip.ready());
        const QDateTime started = QDateTime::currentDateTime();
        // The verdict comes 0.5 s + two query waits of 3 s after the chip's
        // last byte, the power cycle 9 s after the hang, and the next hang
        // (three texts later) would be judged after the run's 13 s.
        Runner run(folder,
                   {u"crash-test"_qs, u"--duration"_qs, u"13s"_qs, u"--silence"_qs, u"0.5"_qs,
                    u"--junit"_qs, u"out.xml"_qs, u"--report"_qs, u"report.html"_qs, u"--quiet"_qs,
                    u"--on-hang"_qs, u"sh record.sh"_qs, u"--on-hang-timeout"_qs, u"8s"_qs});
        QCOMPARE(run.exitCode(), 1);

        const QStringList results = folder.results();
        QVERIFY(results.size() >= 6);
        QCOMPARE(results.mid(0, 3), firstResultLines(3));
        const QRegularExpression verdict(
            u"^芯片死机：(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)，无回传 \\d+ 秒，"
            "死机测试 循环 1 文本 1 控制标记 3$"_qs);
        const auto m = verdict.match(results[3]);
        QVERIFY2(m.hasMatch(), qPrintable(results[3]));
        const qint64 after =
            started.secsTo(QDateTime::fromString(m.captured(1), u"yyyy-MM-dd HH:mm:ss"_qs));
        QVERIFY2(after >= 5 && after <= 9, qPrintable(QString::number(after)));
        QVERIFY2(results[4].startsWith(u"芯片已恢复："_qs), qPrintable(results[4]));
        // Going on with the step after the one it hung on.
        QCOMPARE(results[5], resultLine(1, 1, 4));

        const JUnitSuite suite = readReport(folder);
        QCOMPARE(suite.count(u"failure"_qs), 1);
        QCOMPARE(suite.cases.first().name, u"循环 1 文本 1"_qs);
        const JUnitProblem& failure = suite.cases.first().problems.value(0);
        QCOMPARE(failure.message, results[3]);
        QVERIFY(failure.text.startsWith(results[3] + u'\n' + results[4] + u'\n'));
        QVERIFY2(failure.text.contains(u"-> FD 00 01 21"_qs), qPrintable(failure.text));
        QCOMPARE(suite.property(u"hangs"_qs), u"1"_qs);
        QVERIFY(run.out().contains(u"hangs: 1\n  "_qs + results[3] + u"\n  "_qs + results[4]));

        // The report page of the run's capture, with the same hang.
        const QString page = QString::fromUtf8(folder.read(u"report.html"_qs));
        QVERIFY(page.contains(u"<td class=\"hangs number some\">1</td>"_qs));
        QVERIFY(page.contains(u"<td class=\"verdict\">"_qs + results[3] + u"</td>"_qs));
        QVERIFY(page.contains(u"<td class=\"recovery\">"_qs + results[4] + u"</td>"_qs));
        QVERIFY(run.out().contains(u"report.html"_qs));

        const QStringList hangEvent = folder.eventRecord(u"hang"_qs);
        const QStringList backEvent = folder.eventRecord(u"recovered"_qs);
        const QStringList captures =
            QDir(folder.path()).entryList({QStringLiteral("LOG-capture-*.pcapng")}, QDir::Files);
        QCOMPARE(captures.size(), 1);
        // The device is whatever COM1 leads to.
        QStringList variables = hangEvent.mid(1);
        QVERIFY(variables.size() > 2 && variables[1].startsWith(u"QAV7120_DEVICE=/"_qs));
        variables.removeAt(1);
        QCOMPARE(variables,
                 QStringList({u"QAV7120_CAPTURE="_qs + folder.file(captures.first()),
                              u"QAV7120_EVENT=hang"_qs, u"QAV7120_FOLDER="_qs + folder.path(),
                              u"QAV7120_HANGS=1"_qs, u"QAV7120_LINE="_qs + results[3],
                              u"QAV7120_PORT=COM1"_qs, u"QAV7120_STEP=3"_qs,
                              u"QAV7120_STEP_NAME=死机测试 循环 1 文本 1 控制标记 3"_qs,
                              u"QAV7120_TEST=crash-test"_qs}));
        QVERIFY(backEvent.contains(u"QAV7120_EVENT=recovered"_qs));
        QVERIFY(backEvent.contains(u"QAV7120_LINE="_qs + results[4]));
        // Within a second of the verdict in the capture.
        const double verdictAt = eventTime(folder.file(captures.first()), u"芯片死机："_qs);
        const double ranAt = hangEvent.value(0).toDouble();
        qInfo("--on-hang ran %.3f s after the verdict", ranAt - verdictAt);
        QVERIFY2(ranAt >= verdictAt && ranAt - verdictAt < 1.0,
                 qPrintable(QStringLiteral("%1 s after the verdict").arg(ranAt - verdictAt)));
        // The hang's command slept through the recovery and was killed at its
        // limit; the recovery's ended by itself.
        QVERIFY(backEvent.value(0).toDouble() < ranAt + 8);
        QVERIFY(run.err().contains(u"on-hang: recorded\n"_qs));
        QVERIFY2(run.err().contains(
                     u"on-hang: the command for hang was still running after 8 s and is killed"_qs),
                 qPrintable(run.err()));
    }

    void aSignalStopsTheRunAndKeepsTheLog() {
        Folder folder;
        folder.writeCrashTexts();
        EmulatorProcess chip(folder.path(), 50);
        QVERIFY(chip.ready());
        Runner run(folder, {u"crash-test"_qs, u"--junit"_qs, u"out.xml"_qs, u"--report"_qs,
                            u"report.html"_qs, u"--quiet"_qs});
        QTRY_VERIFY_WITH_TIMEOUT(folder.results().size() >= 5, 20000);
        run.process().terminate();
        QCOMPARE(run.exitCode(), 143);
        // The page as far as the run got: its steps and the "停止" it ended with.
        const QString page = QString::fromUtf8(folder.read(u"report.html"_qs));
        QVERIFY(page.contains(u"<td class=\"hangs number\">0</td>"_qs));
        QVERIFY(page.contains(u"<td>停止</td>"_qs));

        const QString block = folder.lastLogBlock();
        QVERIFY(block.endsWith(kStopEntry + QStringLiteral("\r\n")));
        const QList<QByteArray> frames = loggedFrames(block);
        QCOMPARE(frames.first(), kFirstCrashStep);
        QCOMPARE(frames.count(kStop), 1);
        QCOMPARE(frames.size(), folder.results().size() + 1);
        QVERIFY(folder.journals().isEmpty());
        QCOMPARE(folder.results(), firstResultLines(folder.results().size()));
        const JUnitSuite suite = readReport(folder);
        QVERIFY(!suite.cases.isEmpty());
        QCOMPARE(suite.count(u"failure"_qs), 0);
        QVERIFY(run.err().contains(u"SIGTERM"_qs));
    }

    void aKilledRunLeavesItsCaptureReadable() {
        QAV_REQUIRE_TSHARK();
        Folder folder;
        folder.writeCrashTexts();
        EmulatorProcess chip(folder.path(), 50);
        QVERIFY(chip.ready());
        const double start = double(QDateTime::currentMSecsSinceEpoch()) / 1000 - 0.001;
        Runner run(folder, {u"crash-test"_qs, u"--quiet"_qs});
        QTRY_VERIFY_WITH_TIMEOUT(folder.results().size() >= 3, 20000);
        run.process().kill(); // as a power cut or kill -9 would end it
        QVERIFY(run.process().waitForFinished(5000));
        const double end = double(QDateTime::currentMSecsSinceEpoch()) / 1000 + 0.001;

        const QStringList captures =
            QDir(folder.path()).entryList({QStringLiteral("LOG-capture-*.pcapng")}, QDir::Files);
        QCOMPARE(captures.size(), 1);
        // The journal of the killed run is beside it, under the same stem.
        QCOMPARE(folder.journals(), QStringList{QString(captures.first())
                                                    .replace(u"LOG-capture-"_qs, u"LOG-journal-"_qs)
                                                    .replace(u".pcapng"_qs, u".txt"_qs)});
        const TsharkOutput out =
            tsharkFields(folder.file(captures.first()),
                         {u"frame.time_epoch"_qs, u"qav7120.direction"_qs, u"qav7120.frame"_qs,
                          u"qav7120.reply"_qs, u"qav7120.event"_qs});
        QVERIFY2(!out.luaError(), qPrintable(out.diagnosis()));
        QVERIFY(out.rows.size() >= 7);
        // The test's start, with its port and settings, for the report page.
        QCOMPARE(out.rows.at(0).at(4),
                 u"测试开始 test=crash-test port=COM1 settings=9600,N,8,1"_qs);
        // The first step's frame went out first, and the chip answered it.
        QCOMPARE(out.rows.at(1).at(1), u"2"_qs);
        QCOMPARE(out.rows.at(1).at(2), QString::fromLatin1(kFirstCrashStep.toHex()));
        QCOMPARE(out.rows.at(2).at(1), u"1"_qs);
        QVERIFY(out.rows.at(2).at(3).startsWith(u"0x41"_qs));
        double last = start;
        qsizetype frames = 0;
        for (const QStringList& row : out.rows) {
            const double at = row.at(0).toDouble();
            QVERIFY2(at >= last && at <= end, qPrintable(row.join(u' ')));
            last = at;
            frames += row.at(2).isEmpty() ? 0 : 1;
        }
        // Every step the result file names is in the capture, but the last
        // when the kill came between its line and its frame leaving the port.
        QVERIFY2(
            frames + 1 >= folder.results().size(),
            qPrintable(
                QStringLiteral("%1 frames, %2 steps").arg(frames).arg(folder.results().size())));

        // The report reads the same capture: every text tshark saw is a step.
        QProcess report;
        report.start(QStringLiteral(QAV_REPORT_PATH),
                     {u"-o"_qs, folder.file(u"page.html"_qs), folder.file(captures.first())});
        QVERIFY(report.waitForFinished(60'000));
        QCOMPARE(report.exitCode(), 0);
        QVERIFY(QString::fromUtf8(folder.read(u"page.html"_qs))
                    .contains(QStringLiteral("<td class=\"steps number\">%1</td>").arg(frames)));
    }

    void aLinkThatStaysAwayEndsTheRun() {
        Folder folder;
        folder.writeCrashTexts();
        auto chip = std::make_unique<EmulatorProcess>(folder.path(), 50);
        QVERIFY(chip->ready());
        Runner run(folder, {u"crash-test"_qs, u"--link-timeout"_qs, u"1s"_qs, u"--junit"_qs,
                            u"out.xml"_qs, u"--quiet"_qs});
        QTRY_VERIFY_WITH_TIMEOUT(folder.results().size() >= 3, 20000);
        chip.reset(); // the emulator ends, and its COM1 with it
        QCOMPARE(run.exitCode(30000), 3);
        QVERIFY(gbkText(folder.read(kLogFile)).contains(u"串口COM1已断开："_qs));
        QVERIFY(folder.journals().isEmpty());
        const JUnitSuite suite = readReport(folder);
        QCOMPARE(suite.count(u"error"_qs), 1);
        QCOMPARE(suite.count(u"failure"_qs), 0);
        QVERIFY(run.err().contains(u"did not come back"_qs));
    }

    void continuousPlayForFiveSeconds() {
        Folder folder;
        EmulatorProcess chip(folder.path(), 50);
        QVERIFY(chip.ready());
        Runner run(folder,
                   {u"continuous-play"_qs, u"--say"_qs, u"你好"_qs, u"--duration"_qs, u"5s"_qs,
                    u"--junit"_qs, u"out.xml"_qs, u"--timing"_qs, u"t.csv"_qs, u"--quiet"_qs});
        QCOMPARE(run.exitCode(), 0);

        // The same text round after round; the last round plays out.
        const QList<QByteArray> frames = loggedFrames(folder.lastLogBlock());
        QVERIFY(frames.size() >= 3);
        QCOMPARE(frames, QList<QByteArray>(frames.size(), kNiHao));

        const JUnitSuite suite = readReport(folder);
        QCOMPARE(suite.cases.size(), frames.size());
        QCOMPARE(suite.cases.first().name, u"第 1 轮"_qs);
        QCOMPARE(suite.cases.last().name, QStringLiteral("第 %1 轮").arg(frames.size()));

        const QStringList rows = folder.csvRows(u"t.csv"_qs);
        QCOMPARE(rows.size(), frames.size() + 1);
        const QRegularExpression row(
            u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d),01,9,"
            "\\d+,\\d+,连续播放 第 (\\d+) 轮$"_qs);
        for (qsizetype i = 1; i < rows.size(); ++i) {
            const auto m = row.match(rows[i]);
            QVERIFY2(m.hasMatch(), qPrintable(rows[i]));
            QCOMPARE(m.captured(2).toLongLong(), i);
        }
    }

    void interruptedPlayFrames() {
        Folder folder;
        EmulatorProcess chip(folder.path(), 50);
        QVERIFY(chip.ready());
        Runner run(folder, {u"interrupted-play"_qs, u"--say"_qs, u"你好"_qs, u"--base-ms"_qs,
                            u"0"_qs, u"--passes"_qs, u"3"_qs, u"--duration"_qs, u"3s"_qs,
                            u"--junit"_qs, u"out.xml"_qs, u"--quiet"_qs});
        QCOMPARE(run.exitCode(), 0);

        // Four texts and the cycle marker, over and over, until the stop.
        QList<QByteArray> frames = loggedFrames(folder.lastLogBlock());
        QCOMPARE(frames.takeLast(), kStop);
        QVERIFY(frames.size() >= 5);
        for (qsizetype i = 0; i < frames.size(); ++i)
            QCOMPARE(frames[i], i % 5 == 4 ? script::cycleMarker() : kNiHao);
        const JUnitSuite suite = readReport(folder);
        QCOMPARE(suite.cases.size(), (frames.size() + 4) / 5);
        QCOMPARE(suite.cases.first().name, u"第 1 遍"_qs);
    }

    void script123Frames() {
        Folder folder;
        EmulatorProcess chip(folder.path(), 50);
        QVERIFY(chip.ready());
        Runner run(folder, {u"script-123"_qs, u"--duration"_qs, u"3s"_qs, u"--quiet"_qs});
        QCOMPARE(run.exitCode(), 0);
        QList<QByteArray> frames = loggedFrames(folder.lastLogBlock());
        QCOMPARE(frames.takeLast(), kStop);
        QVERIFY(frames.size() >= 4);
        QCOMPARE(frames, script::script123FrameList().mid(0, frames.size()));
    }

    void speakEndsAtTheIdleReply() {
        Folder folder;
        EmulatorProcess chip(folder.path(), 50);
        QVERIFY(chip.ready());
        // BIG5 through the conversion table beside the program.
        Runner run(folder, {u"speak"_qs, u"--say"_qs, u"中文"_qs, u"--encoding"_qs, u"big5"_qs,
                            u"--baud"_qs, u"115200"_qs, u"--quiet"_qs});
        QCOMPARE(run.exitCode(), 0);
        const QString block = folder.lastLogBlock();
        QCOMPARE(loggedFrames(block), QList<QByteArray>{QByteArray::fromHex("FD00060102A4A4A4E5")});
        QVERIFY(block.endsWith(u"<---- 返回：4F  芯片空闲\r\n\r\n"_qs));
    }

    // A crash test killed as a power cut would end it, then started again
    // with --resume: the result file reads as one run, without a gap or a
    // repeat, whether or not the kill left half a line behind.
    void aKilledCrashTestGoesOnWithTheNextStep_data() {
        QTest::addColumn<bool>("torn");
        QTest::newRow("killed between lines") << false;
        QTest::newRow("killed within a line") << true;
    }
    void aKilledCrashTestGoesOnWithTheNextStep() {
        QFETCH(bool, torn);
        Folder folder;
        folder.writeCrashTexts();
        EmulatorProcess chip(folder.path(), 50);
        QVERIFY(chip.ready());
        qsizetype killedAt = 0;
        {
            Runner first(folder, {u"crash-test"_qs, u"--quiet"_qs});
            QTRY_VERIFY_WITH_TIMEOUT(folder.results().size() >= 5, 20000);
            first.process().kill();
            QVERIFY(first.process().waitForFinished(5000));
            killedAt = folder.results().size();
        }
        QCOMPARE(folder.results(), firstResultLines(killedAt));
        if (torn) {
            QFile file(folder.file(kResultFile));
            QVERIFY(file.open(QIODevice::Append));
            file.write(gbk(resultLine(1, 1, 14)).left(11));
        }

        // A healthy chip: nothing for --on-hang to say.
        Runner again(folder,
                     {u"crash-test"_qs, u"--resume"_qs, u"--duration"_qs, u"3s"_qs, u"--junit"_qs,
                      u"out.xml"_qs, u"--quiet"_qs, u"--on-hang"_qs, u"touch fired"_qs});
        QCOMPARE(again.exitCode(), 0);
        QVERIFY(!folder.exists(u"fired"_qs));
        const QStringList results = folder.results();
        QVERIFY2(results.size() > killedAt + 2, qPrintable(QString::number(results.size())));
        QCOMPARE(results, firstResultLines(results.size()));
        QVERIFY2(again.err().contains(QStringLiteral("going on after step %1, %2")
                                          .arg(killedAt)
                                          .arg(results[killedAt - 1])),
                 qPrintable(again.err()));
        QCOMPARE(again.err().contains(u"was cut off (11 bytes)"_qs), torn);
        QVERIFY(again.out().contains(QStringLiteral("resumed after: %1\nsteps: %2\nhangs: 0\n")
                                         .arg(results[killedAt - 1])
                                         .arg(results.size())));
        // The new run's first frame is the next step's.
        const QList<QByteArray> frames = loggedFrames(folder.lastLogBlock());
        const qsizetype k = killedAt; // the index of the step after the kill
        const QString header = QStringLiteral("[d][g1][s10] %1- %2- %3[g0][d]")
                                   .arg(k / 140 + 1)
                                   .arg(k / 14 % 10 + 1)
                                   .arg(k % 14 + 1);
        QVERIFY2(frames.first().mid(5).startsWith(gbk(header)),
                 qPrintable(gbkText(frames.first().mid(5, 40))));
        const JUnitSuite suite = readReport(folder);
        QCOMPARE(suite.property(u"steps"_qs), QString::number(results.size()));
        QCOMPARE(suite.cases.first().name,
                 QStringLiteral("before the resume: steps 1 to %1").arg(killedAt));
    }

    // The hangs of the run before the resume stay the run's own.
    void resumingCountsTheEarlierHangs() {
        Folder folder;
        folder.writeCrashTexts();
        const QString hang = u"芯片死机：2026-12-08 01:02:03，无回传 66 秒，"
                             "死机测试 循环 1 文本 1 控制标记 3"_qs;
        const QString back = u"芯片已恢复：2026-12-08 01:05:00，无回传 240 秒"_qs;
        folder.write(kResultFile, gbk(firstResultLines(3).join(u"\r\n"_qs) + u"\r\n"_qs + hang +
                                      u"\r\n"_qs + back + u"\r\n"_qs));
        EmulatorProcess chip(folder.path(), 50);
        QVERIFY(chip.ready());
        Runner run(folder, {u"crash-test"_qs, u"--resume"_qs, u"--duration"_qs, u"2s"_qs,
                            u"--junit"_qs, u"out.xml"_qs, u"--quiet"_qs});
        QCOMPARE(run.exitCode(), 1); // the run had a hang
        const QStringList results = folder.results();
        const QStringList expected =
            firstResultLines(3) + QStringList{hang, back, resultLine(1, 1, 4)};
        QCOMPARE(results.mid(0, 6), expected);
        QVERIFY2(run.out().contains(QStringLiteral("hangs: 1\n  %1\n  %2\n").arg(hang, back)),
                 qPrintable(run.out()));
        const JUnitSuite suite = readReport(folder);
        QCOMPARE(suite.property(u"hangs"_qs), u"1"_qs);
        QCOMPARE(suite.count(u"failure"_qs), 1);
        QCOMPARE(suite.cases.first().problems.value(0).message, hang);
    }

    void usageErrorsAndMissingFiles() {
        Folder folder;
        { // A bad option: nothing is touched.
            Runner run(folder, {u"crash-test"_qs, u"--baud"_qs, u"1200"_qs});
            QCOMPARE(run.exitCode(), 2);
            QVERIFY(run.err().contains(u"--baud 1200"_qs));
            QVERIFY(!folder.exists(kLogFile));
        }
        { // A crash text missing: the last run's results stay.
            folder.writeCrashTexts(9);
            folder.write(kResultFile, "old");
            Runner run(folder, {u"crash-test"_qs, u"--junit"_qs, u"out.xml"_qs});
            QCOMPARE(run.exitCode(), 4);
            QVERIFY2(run.err().contains(u"死机测试文本10.txt"_qs), qPrintable(run.err()));
            QCOMPARE(folder.read(kResultFile), QByteArray("old"));
            QVERIFY(!folder.exists(kLogFile));
            QVERIFY(!folder.exists(u"out.xml"_qs));
        }
        { // A text file that is not there; a report that cannot be written.
            Runner text(folder, {u"speak"_qs, u"--text"_qs, u"gone.txt"_qs});
            QCOMPARE(text.exitCode(), 4);
            QVERIFY(text.err().contains(u"gone.txt"_qs));
            Runner report(
                folder, {u"speak"_qs, u"--say"_qs, u"a"_qs, u"--junit"_qs, u"no/such/out.xml"_qs});
            QCOMPARE(report.exitCode(), 4);
            Runner page(folder,
                        {u"speak"_qs, u"--say"_qs, u"a"_qs, u"--report"_qs, u"no/such/r.html"_qs});
            QCOMPARE(page.exitCode(), 4);
            QVERIFY2(page.err().contains(u"--report"_qs), qPrintable(page.err()));
            Runner same(folder, {u"speak"_qs, u"--say"_qs, u"a"_qs, u"--report"_qs, u"r.html"_qs,
                                 u"--junit"_qs, u"r.html"_qs});
            QCOMPARE(same.exitCode(), 2);
            QVERIFY(same.err().contains(u"--junit and --report name the same file"_qs));
            Runner noText(folder, {u"speak"_qs}); // the initial text file is not there
            QCOMPARE(noText.exitCode(), 4);
            QVERIFY(noText.err().contains(u"初始默认文本.txt"_qs));
        }
        { // Nothing of a crash test to go on with: the file stays as it is.
            folder.writeCrashTexts();
            folder.write(kResultFile, "my notes\r\n");
            Runner run(folder, {u"crash-test"_qs, u"--resume"_qs});
            QCOMPARE(run.exitCode(), 4);
            QVERIFY2(run.err().contains(u"has no step line of a crash test"_qs),
                     qPrintable(run.err()));
            QCOMPARE(folder.read(kResultFile), QByteArray("my notes\r\n"));
            Runner other(folder, {u"speak"_qs, u"--say"_qs, u"a"_qs, u"--resume"_qs});
            QCOMPARE(other.exitCode(), 2);
            Runner blank(folder, {u"crash-test"_qs, u"--on-hang"_qs, u" "_qs});
            QCOMPARE(blank.exitCode(), 2);
            Runner limit(folder, {u"crash-test"_qs, u"--on-hang-timeout"_qs, u"5s"_qs});
            QCOMPARE(limit.exitCode(), 2);
            QVERIFY(limit.err().contains(u"--on-hang-timeout belongs to --on-hang"_qs));
        }
        { // A port that is not there.
            Runner run(folder, {u"speak"_qs, u"--say"_qs, u"a"_qs, u"--port"_qs, u"tty-gone"_qs,
                                u"--junit"_qs, u"out.xml"_qs});
            QCOMPARE(run.exitCode(), 3);
            QVERIFY(run.err().contains(u"串口不存在或被占用"_qs));
            QCOMPARE(readReport(folder).count(u"error"_qs), 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestRunnerProgram)
#include "tst_runner_program.moc"
