// The work log's journal: the exact GBK bytes on disk as entries arrive, the
// lines read back through its index, the recovery of journals whose runs
// ended, and the bytes kept when the disk refuses them.
#include "common/log_helpers.h"
#include "worklog/journal.h"
#include "worklog/work_log.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

using qav::test::frameEntry;
using qav::test::kStopEntry;
using qav::worklog::Journal;
using qav::worklog::WorkLog;

namespace {
// The stop frame's entry and the texts below, in GBK.
const QByteArray kStopEntryGbk = QByteArray::fromHex(
    "b7a2b3f6d2bbd6a1a3acd7d6bddacafd2020340d0a2d2d2d2d3e204644203030203031203032200d0a");
const QByteArray kIdleGbk = QByteArray::fromHex("d0bec6acbfd5cfd0");        // 芯片空闲
const QByteArray kHeadingGbk = QByteArray::fromHex("b5bcb3f6cafdbedd0d0a"); // 导出数据 CR LF
const QByteArray kStopFrame("\xFD\x00\x01\x02", 4);

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Files of this process cannot grow past `bytes` while it lives, as on a full
// disk: a write that would is refused (EFBIG, the signal is ignored).
using qav::test::allText;

class DiskFull {
public:
    explicit DiskFull(qint64 bytes) {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit small = old_;
        small.rlim_cur = rlim_t(bytes);
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~DiskFull() { ::setrlimit(RLIMIT_FSIZE, &old_); }
    DiskFull(const DiskFull&) = delete;
    DiskFull& operator=(const DiskFull&) = delete;

private:
    rlimit old_{};
};

const QString kNotWrittenEnd = QStringLiteral("。未写入的记录暂存在内存中，每秒重试一次。");
const QString kMemoryFullEnd =
    QStringLiteral("：内存中暂存的记录已满64 MB，此后的记录在磁盘恢复写入前不再保存。");
} // namespace

class TestJournal : public QObject {
    Q_OBJECT
private slots:
    void journalHoldsExactlyTheLog() {
        QTemporaryDir dir;
        WorkLog log;
        log.appendFrame(kStopFrame); // before the journal: it comes along
        QVERIFY(!log.openJournal(dir.path()));
        const QString path = log.journalPath();
        QCOMPARE(QFileInfo(path).absolutePath(), QDir(dir.path()).absolutePath());
        QVERIFY2(QRegularExpression(QStringLiteral("^LOG-journal-\\d{8}-\\d{6}-\\d+\\.txt$"))
                     .match(QFileInfo(path).fileName())
                     .hasMatch(),
                 qPrintable(path));
        log.append(QStringLiteral("芯片空闲\r"));
        QCOMPARE(readAll(path), kStopEntryGbk + kIdleGbk + "\r");
        log.append(QStringLiteral("\n"));
        QCOMPARE(readAll(path), kStopEntryGbk + kIdleGbk + "\r\n");
        QCOMPARE(log.lineCount(), 4);

        // Cleared: the same journal, empty, then the next entry alone.
        log.clear();
        QCOMPARE(readAll(path), QByteArray());
        QCOMPARE(log.lineCount(), 1);
        log.appendFrame(kStopFrame);
        QCOMPARE(readAll(path), kStopEntryGbk);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QFileInfo(path).fileName()});

        // Exported, then removed.
        const QString logFile = dir.filePath(QStringLiteral("LOG.txt"));
        QVERIFY(!log.exportTo(logFile));
        log.removeJournal();
        QVERIFY(!QFile::exists(path));
        QCOMPARE(readAll(logFile), kHeadingGbk + kStopEntryGbk + "\r\n");
        QCOMPARE(allText(log), frameEntry(kStopFrame, QString()));
    }

    void linesAcrossManySegments() {
        // Enough entries for several checkpoints, with every kind of break
        // and a CR LF split over two appends, and one line far longer than a
        // segment. The expected text is built beside it from the same pieces.
        WorkLog log;
        QString expected;
        QStringList lines{QString()};
        const auto add = [&](const QString& piece) {
            log.append(piece);
            expected += piece;
        };
        for (int i = 0; i < 6000; ++i) {
            const QString n = QString::number(i);
            switch (i % 4) {
            case 0:
                add(QStringLiteral("<---- 返回：4F  芯片空闲 ") + n + QStringLiteral("\r"));
                add(QStringLiteral("\n"));
                break;
            case 1:
                add(QStringLiteral("----> FD 00 01 02 ") + n + QStringLiteral("\r\n"));
                break;
            case 2:
                add(QStringLiteral("lone CR ") + n + QStringLiteral("\rlone LF\n"));
                break;
            default:
                add(QStringLiteral("发出一帧 ") + n + QStringLiteral("\n\r"));
                break;
            }
            if (i == 3001)
                add(QString(200'000, QLatin1Char('A')) + QStringLiteral("长\r\n"));
        }
        const QStringList want = QString(expected)
                                     .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                                     .split(u'\r')
                                     .join(u'\n')
                                     .split(u'\n');
        QCOMPARE(log.size(), expected.size());
        QCOMPARE(log.lineCount(), want.size());
        qint64 start = 0;
        for (qint64 i = 0; i < want.size(); ++i) {
            QCOMPARE(log.lineStart(i), start);
            QCOMPARE(log.line(i), want[i]);
            QCOMPARE(log.lineOf(start), i);
            start += want[i].size();
            if (start < expected.size())
                start += expected.mid(start, 2) == QStringLiteral("\r\n") ? 2 : 1;
        }
        for (qint64 from : {qint64(0), qint64(65'530), qint64(131'000), expected.size() - 7})
            QCOMPARE(log.text(from, from + 70'000), expected.mid(from, 70'000));
        QCOMPARE(allText(log), expected);
    }

    void recoversEndedRunsInOrder() {
        QTemporaryDir dir;
        const QString logFile = dir.filePath(QStringLiteral("LOG.txt"));
        writeFile(logFile, "old\r\n");
        // A run that died during a write (the last character is half there),
        // one that died before its first entry, and one still running.
        const QByteArray cut = kStopEntryGbk + QByteArray::fromHex("b7");
        writeFile(dir.filePath(QStringLiteral("LOG-journal-20261207-153619-42.txt")), cut);
        writeFile(dir.filePath(QStringLiteral("LOG-journal-20261207-153620-43.txt")), "");
        const QString living = dir.filePath(QStringLiteral("LOG-journal-20261207-153618-41.txt"));
        writeFile(living, "running\r\n");
        const int lock = ::open(QFile::encodeName(living).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0);

        QCOMPARE(Journal::recoverJournals(dir.path(), logFile), 2);
        QCOMPARE(readAll(logFile), "old\r\n" + kHeadingGbk + cut + "\r\n" + kHeadingGbk + "\r\n");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 (QStringList{QStringLiteral("LOG-journal-20261207-153618-41.txt"),
                              QStringLiteral("LOG.txt")}));

        // Its run has ended, but LOG.txt cannot take it: it stays for later.
        ::close(lock);
        QVERIFY(QFile::remove(logFile));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("LOG.txt")));
        QCOMPARE(Journal::recoverJournals(dir.path(), logFile), 0);
        QCOMPARE(readAll(living), QByteArray("running\r\n"));
    }

    void twoLogsInOneFolderKeepApart() {
        QTemporaryDir dir;
        WorkLog a, b;
        QVERIFY(!a.openJournal(dir.path()));
        QVERIFY(!b.openJournal(dir.path()));
        QVERIFY(a.journalPath() != b.journalPath());
        a.append(QStringLiteral("a\r\n"));
        b.append(QStringLiteral("b\r\n"));
        b.clear();
        b.append(QStringLiteral("c\r\n"));
        // Both runs live: nothing is recovered.
        QCOMPARE(Journal::recoverJournals(dir.path(), dir.filePath(QStringLiteral("LOG.txt"))), 0);
        QCOMPARE(readAll(a.journalPath()), QByteArray("a\r\n"));
        QCOMPARE(readAll(b.journalPath()), QByteArray("c\r\n"));
    }

    void refusedWritesAreKeptAndRetried() {
        // The system refuses to let files grow past a limit, as a full disk
        // does; the log keeps the rest, says so once, and writes it later.
        QTemporaryDir dir;
        WorkLog log;
        QVERIFY(!log.openJournal(dir.path()));
        QSignalSpy problems(&log, &WorkLog::storageProblem);
        log.appendFrame(kStopFrame);
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit small = old;
        small.rlim_cur = rlim_t(kStopEntryGbk.size() + 3);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        log.append(QStringLiteral("芯片空闲\r\n"));
        log.appendFrame(kStopFrame);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &old), 0);

        const QByteArray all = kStopEntryGbk + kIdleGbk + "\r\n" + kStopEntryGbk;
        QCOMPARE(readAll(log.journalPath()), all.first(kStopEntryGbk.size() + 3));
        QCOMPARE(allText(log), frameEntry(kStopFrame, QString()) + QStringLiteral("芯片空闲\r\n") +
                                   frameEntry(kStopFrame, QString()));
        QCOMPARE(log.line(2), QStringLiteral("芯片空闲"));
        QCOMPARE(problems.size(), 1);
        QVERIFY(problems[0][0].toString().contains(log.journalPath()));
        QTRY_COMPARE_WITH_TIMEOUT(readAll(log.journalPath()), all, 5000);
        QCOMPARE(problems.size(), 1);
    }

    void lostEntriesAreMarkedWhereTheyAreMissing() {
        // Memory for 100 unwritten bytes: the idle line (10 bytes) and two stop
        // entries (41 each) wait for the disk, the next two entries are lost.
        QTemporaryDir dir;
        WorkLog log;
        QVERIFY(!log.openJournal(dir.path()));
        log.setJournalMemoryLimitForTest(100);
        QSignalSpy problems(&log, &WorkLog::storageProblem);
        const QString path = log.journalPath();
        const QString journal = QDir::toNativeSeparators(path);
        log.appendFrame(kStopFrame);
        {
            DiskFull full(kStopEntryGbk.size());
            log.append(QStringLiteral("芯片空闲\r\n"));
            log.appendFrame(kStopFrame);
            log.appendFrame(kStopFrame);
            QCOMPARE(log.unsavedBytes(), 92);
            log.appendFrame(kStopFrame);
            log.append(QStringLiteral("<---- 返回：4F  芯片空闲\r\n"));
            QCOMPARE(log.unsavedBytes(), 92);
            QCOMPARE(allText(log),
                     kStopEntry + QStringLiteral("芯片空闲\r\n") + kStopEntry + kStopEntry);
            QCOMPARE(problems.size(), 2);
            QVERIFY(problems[0][0].toString().startsWith(QStringLiteral("工作记录未能写入") +
                                                         journal + QStringLiteral("：")));
            QVERIFY(problems[0][0].toString().endsWith(kNotWrittenEnd));
            QCOMPARE(problems[1][0].toString(),
                     QStringLiteral("工作记录未能写入") + journal + kMemoryFullEnd);
        }
        // The disk takes bytes again: the gap gets its line, before anything new.
        const QString lost = QStringLiteral("工作记录未能写入磁盘，此处丢失 67 字节\r\n");
        const QString first =
            kStopEntry + QStringLiteral("芯片空闲\r\n") + kStopEntry + kStopEntry + lost;
        QTRY_COMPARE_WITH_TIMEOUT(readAll(path), qav::test::gbk(first), 5000);
        QCOMPARE(log.unsavedBytes(), 0);
        log.appendFrame(kStopFrame);
        QCOMPARE(allText(log), first + kStopEntry);
        QCOMPARE(log.line(7), QStringLiteral("工作记录未能写入磁盘，此处丢失 67 字节"));
        QCOMPARE(problems.size(), 2);

        // A second time: said again, and its own gap marked on its own.
        {
            DiskFull full(readAll(path).size());
            for (int i = 0; i < 4; ++i)
                log.appendFrame(kStopFrame);
            QCOMPARE(log.unsavedBytes(), 82);
            QCOMPARE(problems.size(), 4);
            QVERIFY(problems[2][0].toString().endsWith(kNotWrittenEnd));
            QCOMPARE(problems[3][0].toString(),
                     QStringLiteral("工作记录未能写入") + journal + kMemoryFullEnd);
        }
        const QString second = first + kStopEntry + kStopEntry + kStopEntry +
                               QStringLiteral("工作记录未能写入磁盘，此处丢失 82 字节\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(readAll(path), qav::test::gbk(second), 5000);
        QCOMPARE(allText(log), second);
        QCOMPARE(problems.size(), 4);
    }

    void exportAtCloseSavesTheTailFirst() {
        QTemporaryDir dir;
        WorkLog log;
        QVERIFY(!log.openJournal(dir.path()));
        const QString path = log.journalPath();
        const QString logFile = dir.filePath(QStringLiteral("LOG.txt"));
        log.appendFrame(kStopFrame);
        {
            // Nothing more fits: the idle line waits in memory, and the export
            // cannot write LOG.txt either. The journal stays as it was.
            DiskFull full(kStopEntryGbk.size());
            log.append(QStringLiteral("芯片空闲\r\n"));
            QVERIFY(log.exportTo(logFile).has_value());
            QCOMPARE(log.unsavedBytes(), 10);
            QCOMPARE(readAll(path), kStopEntryGbk);
            QCOMPARE(readAll(logFile), QByteArray());
        }
        // At the next close the disk has room, but LOG.txt cannot be opened:
        // the tail goes into the journal, which stays for the next start.
        QVERIFY(QFile::remove(logFile));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("LOG.txt")));
        QVERIFY(log.exportTo(logFile).has_value());
        QCOMPARE(log.unsavedBytes(), 0);
        QCOMPARE(readAll(path), kStopEntryGbk + kIdleGbk + "\r\n");
        // Lost entries at the very end are marked there before the export.
        log.setJournalMemoryLimitForTest(0);
        {
            DiskFull full(readAll(path).size());
            log.appendFrame(kStopFrame);
            QCOMPARE(log.unsavedBytes(), 41);
            log.appendFrame(kStopFrame);
        }
        QVERIFY(QDir(dir.path()).rmdir(QStringLiteral("LOG.txt")));
        QVERIFY(!log.exportTo(logFile));
        QCOMPARE(readAll(logFile),
                 qav::test::gbk(QStringLiteral("导出数据\r\n") + kStopEntry +
                                QStringLiteral("芯片空闲\r\n") + kStopEntry +
                                QStringLiteral("工作记录未能写入磁盘，此处丢失 41 字节\r\n\r\n")));
    }
};

QTEST_MAIN(TestJournal)
#include "tst_journal.moc"
