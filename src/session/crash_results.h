#pragma once
// The crash test's result file: one line per step, written before the step's
// synthesis starts, so that after a hang the last line names what the chip
// was speaking. Every line goes to the system as it is written (nothing is
// buffered in the console), and a worker thread syncs the file to the disk
// soon after, at most once a second, so that a power loss cannot take the
// line a hang left behind.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

namespace qav::worklog {
class FileSync;
struct SyncedFile;
} // namespace qav::worklog

namespace qav::session {

class CrashResults {
public:
    static constexpr int kSyncGapMs = 1000;

    CrashResults();
    ~CrashResults();

    // Opens the file at path, emptied. The reason when it cannot be opened
    // (a folder or a pipe of that name among them).
    std::optional<QString> open(const QString& path);
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
