// Evidence that survives: the console killed in the middle of a run, LOG.txt
// that cannot be written at close, a working folder where nothing can be
// kept, and a crash-test result file that cannot be opened or written.
#include "app/app_helpers.h"
#include "common/link_helpers.h"
#include "session/console_session.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

using qav::test::ConsoleFixture;

namespace {
const QByteArray kStopFrame("\xFD\x00\x01\x02", 4);
const QByteArray kStopEntryGbk = QByteArray::fromHex(
    "b7a2b3f6d2bbd6a1a3acd7d6bddacafd2020340d0a2d2d2d2d3e204644203030203031203032200d0a");
const QByteArray kHeadingGbk = QByteArray::fromHex("b5bcb3f6cafdbedd0d0a"); // 导出数据 CR LF
const QString kExportFailed = QStringLiteral("工作记录未能导出到LOG.txt：");
const QString kResultFile = QStringLiteral("死机测试文本-测试结果.txt");
const QString kRunGoesOn = QStringLiteral("\n测试继续进行，工作记录照常记录每一步。");

QStringList journals(const QString& dir) {
    return QDir(dir).entryList({QStringLiteral("LOG-journal-*.txt")}, QDir::Files, QDir::Name);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList startingWith(const QStringList& messages, const QString& prefix) {
    QStringList found;
    for (const QString& m : messages)
        if (m.startsWith(prefix))
            found << m;
    return found;
}
} // namespace

class TestJournalWindow : public QObject {
    Q_OBJECT
private slots:
    // The real program, running a crash test or continuous play against the
    // chip emulator, is killed at a random moment; the next start in its
    // folder puts everything its journal held into LOG.txt, byte for byte,
    // before its own block.
    void killedConsoleIsRecoveredAtTheNextStart_data() {
        QTest::addColumn<QString>("button");
        QTest::newRow("crash test") << QStringLiteral("Command25");
        QTest::newRow("continuous play") << QStringLiteral("Command3");
    }
    void killedConsoleIsRecoveredAtTheNextStart() {
        QFETCH(QString, button);
        QTemporaryDir dir;
        const auto write = [&](const QString& name, const QString& text) {
            QFile f(QDir(dir.path()).filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(qav::test::gbk(text));
        };
        write(QStringLiteral("初始默认文本.txt"), QStringLiteral("连续播放的文本"));
        for (int i = 1; i <= 10; ++i)
            write(QStringLiteral("死机测试文本%1.txt").arg(i, 2, 10, QLatin1Char('0')),
                  QStringLiteral("第%1个测试文本").arg(i));
        qav::test::EmulatorProcess chip(dir.path(), 200);
        QVERIFY(chip.ready());

        // The console, with the driver that presses its buttons and says on
        // stderr once its event loop (and so its terminate handler) runs.
        const auto start = [&](QProcess& console, const QString& click) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(QAV_CONSOLE_DRIVER_PATH));
            env.insert(QStringLiteral("QAV_DRIVER_CLICK"), click);
            // Under AddressSanitizer the preloaded driver comes before its runtime.
            env.insert(QStringLiteral("ASAN_OPTIONS"),
                       env.value(QStringLiteral("ASAN_OPTIONS")) +
                           QStringLiteral(":verify_asan_link_order=0"));
            console.setProcessEnvironment(env);
            console.setWorkingDirectory(dir.path());
            console.start(QStringLiteral(QAV_CONSOLE_PATH), {});
            QVERIFY(console.waitForStarted(10'000));
        };
        const QByteArray frameHead = qav::test::gbk(QStringLiteral("发出一帧"));
        QProcess first;
        start(first, button);
        QTRY_COMPARE_WITH_TIMEOUT(journals(dir.path()).size(), 1, 30'000);
        const QString journal = QDir(dir.path()).filePath(journals(dir.path()).first());
        QTRY_VERIFY_WITH_TIMEOUT(readAll(journal).count(frameHead) >= 3, 30'000);
        QTest::qWait(
            int(QRandomGenerator::global()->bounded(800))); // a moment of the run, not an event
        const QByteArray seen = readAll(journal);
        ::kill(pid_t(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished(10'000));
        const QByteArray held = readAll(journal);
        QVERIFY(held.startsWith(seen));
        // The run was doing what it was asked: steps answered by the chip.
        QVERIFY(held.contains(qav::test::gbk(QStringLiteral("<---- 返回：4F  芯片空闲\r\n"))));
        if (button == QLatin1String("Command25"))
            QVERIFY(readAll(QDir(dir.path()).filePath(kResultFile)).count("\r\n") >= 3);

        QProcess second;
        start(second, QString());
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += second.readAllStandardError()).contains("window up"),
                                 30'000);
        QVERIFY(!journals(dir.path()).contains(QFileInfo(journal).fileName()));
        second.terminate();
        QVERIFY(second.waitForFinished(30'000));
        QCOMPARE(journals(dir.path()), QStringList());
        const QByteArray log = readAll(QDir(dir.path()).filePath(QStringLiteral("LOG.txt")));
        QVERIFY(log.startsWith(kHeadingGbk + held + "\r\n" + kHeadingGbk));
        QVERIFY(log.endsWith("\r\n"));
    }

    void unwritableLogKeepsTheJournal_data() {
        QTest::addColumn<bool>("asFolder");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a folder") << true << QStringLiteral("Is a directory");
        QTest::newRow("a full disk") << false << QStringLiteral("No space left on device");
    }
    void unwritableLogKeepsTheJournal() {
        QFETCH(bool, asFolder);
        QFETCH(QString, reason);
        ConsoleFixture c;
        const QString logFile = c.path(QStringLiteral("LOG.txt"));
        QVERIFY(asFolder ? QDir(c.dir()).mkdir(QStringLiteral("LOG.txt"))
                         : QFile::link(QStringLiteral("/dev/full"), logFile));
        qav::app::Form1& f = c.load();
        f.session().sendFrame(kStopFrame);
        const QString name = QFileInfo(f.workLog().journalPath()).fileName();
        f.close();
        QTRY_VERIFY(!f.isVisible());
        QCOMPARE(startingWith(c.messages(), kExportFailed),
                 QStringList{kExportFailed + reason + QStringLiteral("\n工作记录保存在") + name +
                             QStringLiteral("中，下次在此文件夹启动时将添加到LOG.txt。")});
        QCOMPARE(readAll(c.path(name)), kStopEntryGbk);
        c.close();

        // Put right: the next start adds it, then its own block at close.
        QVERIFY(asFolder ? QDir(c.dir()).rmdir(QStringLiteral("LOG.txt")) : QFile::remove(logFile));
        qav::app::Form1& again = c.load();
        QCOMPARE(readAll(logFile), kHeadingGbk + kStopEntryGbk + "\r\n");
        again.Command8_Click();
        c.close();
        const QByteArray pauseEntryGbk =
            qav::test::gbk(QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 03 \r\n"));
        QCOMPARE(readAll(logFile),
                 kHeadingGbk + kStopEntryGbk + "\r\n" + kHeadingGbk + pauseEntryGbk + "\r\n");
        QCOMPARE(journals(c.dir()), QStringList());
    }

    void readOnlyFolderSaysSoOnce() {
        // Nothing can be made in /proc, whoever runs the test.
        ConsoleFixture c;
        c.form();
        QVERIFY(QDir::setCurrent(QStringLiteral("/proc")));
        qav::app::Form1& f = c.load();
        const QString journal = f.workLog().journalPath();
        QVERIFY2(journal.startsWith(QDir::tempPath() + QLatin1Char('/')), qPrintable(journal));
        const QString folderMessage = QStringLiteral("无法在工作文件夹中保存文件：/proc\n");
        QCOMPARE(startingWith(c.messages(), folderMessage).size(), 1);
        QVERIFY(c.messages().first().endsWith(QStringLiteral("\n工作记录暂存在") + journal));

        // Usable: the log goes on, kept in the temporary folder; the crash
        // test says once that it has no result file.
        f.session().sendFrame(kStopFrame);
        QCOMPARE(readAll(journal), kStopEntryGbk);
        f.Command25_Click();
        f.Command25_Click();
        const QString noResults = QStringLiteral("死机测试结果文件未能打开：/proc/") + kResultFile;
        QCOMPARE(startingWith(c.messages(), noResults).size(), 1);
        QVERIFY(qav::test::allText(f.workLog()).contains(QStringLiteral("发出一帧")));

        f.close();
        QTRY_VERIFY(!f.isVisible());
        const QStringList failed = startingWith(c.messages(), kExportFailed);
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed[0].endsWith(QStringLiteral("\n工作记录保存在") + journal +
                                   QStringLiteral("中。")));
        c.close();
        QVERIFY(QFile::remove(journal));
    }

    void resultFileThatCannotBeOpened() {
        ConsoleFixture c;
        QVERIFY(QDir(c.dir()).mkdir(kResultFile));
        qav::app::Form1& f = c.load();
        const qsizetype before = c.messages().size();
        f.Command25_Click();
        f.Command25_Click();
        QCOMPARE(c.messages().mid(before),
                 QStringList{QStringLiteral("死机测试结果文件未能打开：") + c.path(kResultFile) +
                             QStringLiteral("，Is a directory") + kRunGoesOn});
        // The run went on: the second step's text, and its request.
        QCOMPARE(f.sendText().text(),
                 QStringLiteral("[d][g1][s10] 1- 1- 2[g0][d]\r\n[s0][t0][v3]\r\n\r\n"));
        QCOMPARE(qav::test::loggedFrames(qav::test::allText(f.workLog())).size(), 2);
    }

    void resultFileFailingDuringTheRun() {
        // Files may not grow past a few bytes, as on a full disk: the first
        // line fails, and that is said once however many steps follow.
        ConsoleFixture c;
        qav::app::Form1& f = c.load();
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit small = old;
        small.rlim_cur = 8;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        for (int i = 0; i < 3; ++i)
            f.Command25_Click();
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &old), 0);
        const QString prefix = QStringLiteral("死机测试结果未能写入文件：") + c.path(kResultFile);
        QCOMPARE(startingWith(c.messages(), prefix),
                 QStringList{prefix + QStringLiteral("，File too large") + kRunGoesOn});
        QCOMPARE(f.sendText().text(),
                 QStringLiteral("[d][g1][s10] 1- 1- 3[g0][d]\r\n[s10][t10][v10]\r\n\r\n"));
        QCOMPARE(qav::test::loggedFrames(qav::test::allText(f.workLog())).size(), 3);
        QCOMPARE(c.readFile(kResultFile).size(), 8);
    }
};

QTEST_MAIN(TestJournalWindow)
#include "tst_journal_window.moc"
