#pragma once
// The crash test's result file: one line per step, written before the step's
// synthesis starts, so that after a hang the last line names what the chip
// was speaking. Every line goes to the system as it is written (nothing is
// buffered in the console), and a worker thread syncs the file to the disk
// soon after, at most once a second, so that a power loss cannot take the
// line a hang left behind.

#include "tools/crash_test.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace qav::worklog {
class FileSync;
struct SyncedFile;
} // namespace qav::worklog

namespace qav::session {

// What a result file says of the run that wrote it, so that a run can go on
// from there.
struct CrashProgress {
    std::optional<tools::CrashCounters> next; // after its last step line; none without one
    qint64 steps = 0;                         // step lines
    qint64 hangs = 0;                         // verdict lines
    QStringList verdicts;                     // verdict and recovery lines, the first few
    QString lastStep;                         // the last step line
    qint64 wholeBytes = 0;                    // up to the end of the last whole line
    qint64 tornBytes = 0;                     // after it: a line the end of the file cut off
    qint64 otherLines = 0;                    // whole lines that are none of these
};

class CrashResults {
public:
    static constexpr int kSyncGapMs = 1000;
    // The watchdog's lines, which follow the line of the step they concern.
    static constexpr const char* kHangLine = "芯片死机：%1，无回传 %2 秒";
    static constexpr const char* kRecoveredLine = "芯片已恢复：%1，无回传 %2 秒";

    CrashResults();
    ~CrashResults();

    // A verdict line (else a recovery line or another).
    static bool isHangLine(const QString& line);
    static bool isRecoveryLine(const QString& line);

    // Reads the file at path, keeping at most keptVerdicts of its verdict and
    // recovery lines. An absent file is an empty one; the reason when it
    // cannot be read.
    static std::optional<QString> readProgress(const QString& path, qsizetype keptVerdicts,
                                               CrashProgress& progress);

    // Opens the file at path, emptied; or, with keepBytes, cut to that many
    // bytes and appended to. The reason when it cannot be opened (a folder or
    // a pipe of that name among them).
    std::optional<QString> open(const QString& path, std::optional<qint64> keepBytes = {});
    bool isOpen() const { return file_ != nullptr; }
    QString path() const { return path_; }

    // Appends the bytes; the reason when they could not all be written.
    std::optional<QString> append(const QByteArray& bytes);

private:
    std::shared_ptr<worklog::SyncedFile> file_;
    std::unique_ptr<worklog::FileSync> sync_;
    QString path_;
};

} // namespace qav::session
