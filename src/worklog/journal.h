#pragma once
// Where the work log's text is kept while the console runs: a file of GBK
// bytes, exactly what the export writes between "导出数据" CR LF and the last
// CR LF. Every entry goes into the file with one plain write the moment it is
// appended, so a kill of the process loses nothing; a worker thread syncs the
// file to the disk at most a quarter of a second after the last write, so a
// power loss costs at most that.
//
// Until a folder is chosen (openIn) the bytes go to an unnamed file in the
// temporary folder. In a folder the journal is named after the run's start,
//   LOG-journal-20261207-153619-4242.txt   (date, time, process id)
// and the run holds an exclusive lock on it; the system drops the lock when
// the process ends, however it ends, so a journal whose lock can be taken was
// left by a run that did not close cleanly (recoverJournals).
//
// A write that fails (a full disk, an I/O error) keeps the rest in memory, up
// to kMemoryLimit bytes, and is tried again every second; readers see the
// bytes wherever they are. Bytes that find the memory full are let go and
// counted; once the disk takes bytes again, resumed() says how many were
// lost, so the log can say so where they are missing. Each such episode is
// reported on its own: the failure and the full memory are said again after
// the disk has taken everything.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

namespace qav::worklog {

class FileSync;
struct SyncedFile;

class Journal : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMemoryLimit = 64 * 1024 * 1024;
    static constexpr int kRetryMs = 1000;

    explicit Journal(QObject* parent = nullptr);
    ~Journal() override;

    // Moves the bytes so far into a new journal in folder and keeps the log
    // there from now on. The reason when it cannot be created.
    std::optional<QString> openIn(const QString& folder);
    QString path() const { return path_; } // empty while unnamed

    // False when the bytes could not be kept at all (the memory for unwritten
    // bytes is full); they are then not part of the log, and counted as lost.
    bool append(const char* data, qsizetype size);
    // Kept even when the memory for unwritten bytes is full: for the few bytes
    // that say what was lost.
    void appendPastLimit(const char* data, qsizetype size);
    qint64 size() const { return written_ + unwrittenSize(); }
    // Bytes of the log held only in memory, waiting for the disk.
    qint64 unwrittenSize() const { return qint64(unwritten_.size() - unwrittenFrom_); }
    // Bytes let go since the last resumed().
    qint64 lostBytes() const { return lostBytes_; }
    // The bytes from `from` up to `to`.
    QByteArray read(qint64 from, qint64 to) const;
    // The same, into out, which has room for them.
    void readInto(qint64 from, qint64 to, char* out) const;
    // Writes what waits in memory to the journal now, all of it; false when
    // some still waits.
    bool saveUnwritten();
    // Empty at once: the old file is let go on the worker thread.
    void clear();

    // Appends "导出数据" CR LF, the bytes and CR LF to the file at path. On a
    // failure the file is cut back to its old end and the reason returned.
    // What waits in memory is first written to the journal, if the disk takes
    // it, so that a journal left behind holds it.
    std::optional<QString> exportTo(const QString& path);
    // After a successful export: the journal goes; the bytes stay readable.
    void remove();

    // "LOG-journal-*.txt" in folder whose runs have ended, oldest first: each
    // is appended to logPath as its own block, then removed. One that cannot
    // be read or appended stays for a later start. Returns those recovered.
    static int recoverJournals(const QString& folder, const QString& logPath);

    // Test seam: the memory for unwritten bytes holds this many.
    void setMemoryLimitForTest(qint64 bytes) { memoryLimit_ = bytes; }

signals:
    void writeFailed(const QString& reason); // the first failure of an episode
    void memoryFull();                       // bytes are let go from now on
    // The disk takes bytes again after lostBytes were let go; said before
    // any byte after the gap is kept.
    void resumed(qint64 lostBytes);

private:
    void wait(const char* data, qsizetype size);
    void writeOrKeep(const char* data, qsizetype size);
    void keep(const char* data, qsizetype size, int error);
    void retry();
    void writeBacklog(qsizetype budget);
    void backlogWritten();
    void reportLoss();
    void letGo(std::shared_ptr<SyncedFile> file);

    std::shared_ptr<SyncedFile> file_;
    std::unique_ptr<FileSync> sync_;
    QString path_;
    qint64 written_ = 0;          // bytes in the file
    QByteArray unwritten_;        // the bytes after them, waiting for the disk,
    qsizetype unwrittenFrom_ = 0; // from this index on
    qint64 memoryLimit_ = kMemoryLimit;
    qint64 lostBytes_ = 0;
    QTimer retryTimer_;
    QString lastError_;
    bool failureReported_ = false;
    bool fullReported_ = false;
};

} // namespace qav::worklog
