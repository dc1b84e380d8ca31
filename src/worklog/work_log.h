#pragma once
// The work log: every frame sent and every reply received, as text with
// CR LF line ends. The text is kept once, as GBK bytes in the journal on disk
// (journal.h), the moment an entry is appended; whatever shows it (the
// window's box) reads it by lines (LogText) through a sparse index and a
// small cache (log_index.h), and follows the appended() and cleared()
// signals. Memory stays the same however long the log grows.

#include "worklog/journal.h"
#include "worklog/log_index.h"
#include "worklog/log_text.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <optional>

namespace qav::worklog {

class WorkLog : public QObject, public LogText {
    Q_OBJECT
public:
    // The line that stands where entries are missing: the disk would not take
    // them and the memory for entries waiting for it was full. %1 is the
    // number of bytes (GBK) lost there.
    static constexpr const char* kLostLine = "工作记录未能写入磁盘，此处丢失 %1 字节";
    // For the window when the log could not be exported at close: %1 is
    // unsavedBytes(), the end of the log that is held only in memory and goes
    // with the program.
    static constexpr const char* kUnsavedMessage = "工作记录的最后 %1 字节未能写入磁盘，已丢失。";

    explicit WorkLog(QObject* parent = nullptr);

    // "0x" or empty: written before every byte of later entries.
    void setHexPrefix(const QString& prefix) {
        hexPrefix_ = prefix;
        hexPrefixBytes_ = prefix.toLatin1();
    }
    const QString& hexPrefix() const { return hexPrefix_; }

    // "发出一帧，字节数  N" CR LF "----> " and the bytes in hex, CR LF.
    void appendFrame(QByteArrayView frame);
    void append(const QString& text); // appended as it stands
    // The line and CR LF, in one entry.
    void appendLine(const QString& line);
    void clear();

    // Appends "导出数据", the whole log and a line break to the file, in GBK,
    // streamed from the journal. Returns the reason when the file cannot be
    // written; the file then keeps only what it held before, and the journal
    // stays with as much of the log as the disk would take (first of all the
    // entries that waited in memory for it).
    std::optional<QString> exportTo(const QString& path);
    // Bytes at the end of the log held only in memory because the disk would
    // not take them: after a failed export, what is lost when the program ends.
    qint64 unsavedBytes() const { return journal_.unwrittenSize(); }

    // The journal in folder from now on (an unnamed file in the temporary
    // folder until then); the reason when it cannot be made there.
    std::optional<QString> openJournal(const QString& folder);
    QString journalPath() const { return journal_.path(); }
    // Once the log has been exported: the journal is no longer needed.
    void removeJournal() { journal_.remove(); }
    // Test seam: the memory for entries waiting for the disk holds this many bytes.
    void setJournalMemoryLimitForTest(qint64 bytes) { journal_.setMemoryLimitForTest(bytes); }

    // LogText
    qint64 lineCount() const override { return index_.lineCount(); }
    qint64 size() const override { return index_.chars(); }
    qint64 lineStart(qint64 line) const override { return index_.lineStart(line).chr; }
    QString line(qint64 line) const override;
    qint64 lineOf(qint64 offset) const override { return index_.lineOf(offset); }
    QString text(qint64 from, qint64 to) const override;

signals:
    void appended(); // the log has grown at its end
    void cleared();
    // The journal cannot be written: what the engineer is told, once a time
    // the disk refuses.
    void storageProblem(const QString& message);

private:
    void appendText(QStringView text, bool lineBreak);
    bool keep(qint64 codes); // encoded_ into the journal and the index
    void markLoss(qint64 lostBytes);

    Journal journal_;
    LogIndex index_;
    QString hexPrefix_;
    QByteArray hexPrefixBytes_;
    QByteArray encoded_; // reused for every entry
};

} // namespace qav::worklog
