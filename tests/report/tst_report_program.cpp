// qav7120-report as a shell runs it: where the page goes, what it says on a
// capture cut off, and its exit codes for bad input.
#include "report_helpers.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace qav::test;

namespace {

struct Result {
    int code = -1;
    QString out;
    QString err;
};

Result report(const QStringList& arguments, const QString& workDir) {
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.start(QStringLiteral(QAV_REPORT_PATH), arguments);
    if (!p.waitForFinished(60'000))
        p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestReportProgram : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { useChinaTime(); }

    void thePageBesideTheCaptureOrWhereAsked() {
        QTemporaryDir dir;
        const QString capture = dir.filePath(u"LOG-capture-20261208-030000-42.pcapng"_qs);
        writeCrashRunWithAHang(capture);
        Result r = report({u"LOG-capture-20261208-030000-42.pcapng"_qs}, dir.path());
        QCOMPARE(r.code, 0);
        const QString beside = dir.filePath(u"LOG-capture-20261208-030000-42.html"_qs);
        QCOMPARE(r.out, beside + u'\n');
        QVERIFY(QFile::exists(beside));

        // A second capture, cut off in its last block as a kill leaves it.
        QFile whole(capture);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        QFile torn(dir.filePath(u"torn.pcapng"_qs));
        QVERIFY(torn.open(QIODevice::WriteOnly));
        torn.write(whole.readAll().chopped(7));
        torn.close();
        r = report({u"-o"_qs, u"out/both.html"_qs, capture, u"torn.pcapng"_qs}, dir.path());
        QCOMPARE(r.code, 4); // no folder out/
        QVERIFY(QDir(dir.path()).mkpath(u"out"_qs));
        r = report({u"--output"_qs, u"out/both.html"_qs, capture, u"torn.pcapng"_qs}, dir.path());
        QCOMPARE(r.code, 0);
        QCOMPARE(r.err, u"qav7120-report: torn.pcapng: ends in the middle of a block; read up to "
                        "byte 2740 of 2773\n"_qs);
        QFile page(dir.filePath(u"out/both.html"_qs));
        QVERIFY(page.open(QIODevice::ReadOnly));
        QCOMPARE(page.readAll().count("<tr id=\"summary-"), 2);
    }

    void badInput_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("said");
        QTest::newRow("no capture") << QStringList{} << 2 << u"which capture?"_qs;
        QTest::newRow("unknown option")
            << QStringList{u"--fast"_qs, u"a.pcapng"_qs} << 2 << u"fast"_qs;
        QTest::newRow("two outputs")
            << QStringList{u"-o"_qs, u"a.html"_qs, u"-o"_qs, u"b.html"_qs, u"c.pcapng"_qs} << 2
            << u"--output is given more than once"_qs;
        QTest::newRow("the page over the capture")
            << QStringList{u"-o"_qs, u"c.pcapng"_qs, u"c.pcapng"_qs} << 2
            << u"would overwrite the capture c.pcapng"_qs;
        QTest::newRow("missing") << QStringList{u"gone.pcapng"_qs} << 3
                                 << u"gone.pcapng: no such file"_qs;
        QTest::newRow("not a capture")
            << QStringList{u"notes.txt"_qs} << 3
            << u"notes.txt: not a pcapng capture: it does not begin with a section header"_qs;
        QTest::newRow("empty") << QStringList{u"empty.pcapng"_qs} << 3
                               << u"empty.pcapng: the file is empty"_qs;
    }
    void badInput() {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, said);
        QTemporaryDir dir;
        writeCrashRunWithAHang(dir.filePath(u"c.pcapng"_qs));
        QFile notes(dir.filePath(u"notes.txt"_qs));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("the bench's notes\n");
        notes.close();
        QFile empty(dir.filePath(u"empty.pcapng"_qs));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        const Result r = report(arguments, dir.path());
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(said), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        QCOMPARE(QDir(dir.path()).entryList({u"*.html"_qs}), QStringList());
    }

    void helpAndVersion() {
        Result r = report({u"--version"_qs}, QDir::tempPath());
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, u"qav7120-report 1.3\n"_qs);
        r = report({u"--help"_qs}, QDir::tempPath());
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains(u"--output <FILE>"_qs));
        QVERIFY(r.out.contains(u"CAPTURE..."_qs));
    }
};

QTEST_GUILESS_MAIN(TestReportProgram)
#include "tst_report_program.moc"
