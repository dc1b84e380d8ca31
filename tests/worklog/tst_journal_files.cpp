// The journal's promises on both systems, through the system's own file
// calls: a run that is killed loses nothing and the next start recovers it,
// a run that lives is left alone, and Chinese names are taken as they are.
// The run that gets killed is this program again, started with
// --write-journal FOLDER TEXT.
#include "worklog/journal.h"
#include "worklog/log_codec.h"
#include "worklog/work_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

using namespace qav::worklog;

namespace {

// "导出数据" CR LF in GBK.
const QByteArray kHeading = QByteArray::fromHex("B5BCB3F6CAFDBEDD") + "\r\n";
// "发出一帧" in GBK.
const QByteArray kFrameWords = QByteArray::fromHex("B7A2B3F6D2BBD6A1");

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QStringList journalsIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("LOG-journal-*.txt")}, QDir::Files);
}

// The child: a work log in folder, the text appended (after clearing what
// came before it, as "清空" does), its journal's name on standard output,
// then it waits to be killed.
int writeJournal(const QString& folder, const QString& text) {
    WorkLog log;
    if (log.openJournal(folder))
        return 2;
    log.append(QStringLiteral("清空前\r\n"));
    log.clear();
    log.append(text);
    std::printf("%s\n", QFileInfo(log.journalPath()).fileName().toUtf8().constData());
    std::fflush(stdout);
    char line[16];
    while (std::fgets(line, sizeof line, stdin)) {
    }
    return 0;
}

} // namespace

class JournalFilesTest : public QObject {
    Q_OBJECT

    struct Run {
        QProcess process;
        QString journal;
    };

    // Starts a run in folder that writes text and says its journal's name.
    static bool startRun(Run& run, const QString& folder, const QString& text) {
        run.process.start(QCoreApplication::applicationFilePath(),
                          {QStringLiteral("--write-journal"), folder, text});
        if (!run.process.waitForStarted(10000))
            return false;
        while (!run.process.canReadLine() && run.process.waitForReadyRead(20000)) {
        }
        run.journal = QString::fromUtf8(run.process.readLine()).trimmed();
        return !run.journal.isEmpty();
    }

    static void kill(Run& run) {
        run.process.kill();
        QVERIFY(run.process.waitForFinished(10000));
    }

private slots:
    void killedRunIsRecoveredAtTheNextStart() {
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        // A working folder with a Chinese name, as engineers make them.
        const QString folder = temp.filePath(QStringLiteral("工作目录"));
        QVERIFY(QDir().mkpath(folder));
        const QString logFile = QDir(folder).filePath(QStringLiteral("LOG.txt"));

        Run run;
        QVERIFY(startRun(run, folder, QStringLiteral("发出一帧\r\n")));
        QVERIFY(run.journal.startsWith(QStringLiteral("LOG-journal-")));
        QCOMPARE(journalsIn(folder), QStringList{run.journal});

        // While the run lives its journal is not taken.
        QCOMPARE(Journal::recoverJournals(folder, logFile), 0);
        QVERIFY(!QFile::exists(logFile));
        QCOMPARE(readAll(QDir(folder).filePath(run.journal)), kFrameWords + "\r\n");

        kill(run);
        QCOMPARE(Journal::recoverJournals(folder, logFile), 1);
        // What was cleared before the kill does not come back.
        QCOMPARE(readAll(logFile), kHeading + kFrameWords + "\r\n" + "\r\n");
        QCOMPARE(journalsIn(folder), QStringList());
        QCOMPARE(Journal::recoverJournals(folder, logFile), 0);
    }

    void killedRunsAreRecoveredOldestFirst() {
        QTemporaryDir folder;
        const QString logFile = folder.filePath(QStringLiteral("LOG.txt"));
        {
            QFile old(logFile);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old\r\n");
        }
        // Two journals from runs that died, named after their starts.
        for (const auto& [name, text] :
             {std::pair{"LOG-journal-20261207-153620-43.txt", "b\r\n"},
              std::pair{"LOG-journal-20261207-153619-42.txt", "a\r\n"}}) {
            QFile f(folder.filePath(QString::fromLatin1(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text);
        }
        QCOMPARE(Journal::recoverJournals(folder.path(), logFile), 2);
        QCOMPARE(readAll(logFile), "old\r\n" + kHeading + "a\r\n\r\n" + kHeading + "b\r\n\r\n");
    }

    void exportAppendsAndTheJournalGoes() {
        QTemporaryDir folder;
        WorkLog log;
        QVERIFY(!log.openJournal(folder.path()));
        log.append(QStringLiteral("发出一帧\r\n"));
        const QString logFile = folder.filePath(QStringLiteral("LOG.txt"));
        QVERIFY(!log.exportTo(logFile));
        QVERIFY(!log.exportTo(logFile)); // a second close appends again
        const QByteArray block = kHeading + kFrameWords + "\r\n" + "\r\n";
        QCOMPARE(readAll(logFile), block + block);
        log.removeJournal();
        QCOMPARE(Journal::recoverJournals(folder.path(), logFile), 0);
        QCOMPARE(readAll(logFile), block + block);
    }
};

int main(int argc, char* argv[]) {
    if (argc == 4 && QByteArray(argv[1]) == "--write-journal") {
        QCoreApplication app(argc, argv);
        const QStringList args = QCoreApplication::arguments();
        return writeJournal(args[2], args[3]);
    }
    QCoreApplication app(argc, argv);
    JournalFilesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_journal_files.moc"
