#include "session/crash_results.h"

#include "worklog/file_sync.h"
#include "worklog/native_file.h"

namespace qav::session {

namespace {
constexpr const char* kNotAFile = "not a plain file";
constexpr const char* kNotOpen = "Bad file descriptor";
} // namespace

CrashResults::CrashResults()
    : sync_(std::make_unique<worklog::FileSync>(std::chrono::milliseconds(kSyncGapMs))) {}

CrashResults::~CrashResults() = default; // the worker's last sync, then the file closes

std::optional<QString> CrashResults::open(const QString& path) {
    if (file_)
        sync_->letGo(std::exchange(file_, nullptr));
    sync_->setFile(nullptr);
    path_ = path;
    // Not a pipe: opening one would wait for a reader, and the run with it.
    switch (worklog::kindOf(path)) {
    case worklog::FileKind::Missing:
    case worklog::FileKind::Plain:
        break;
    case worklog::FileKind::Directory:
        return worklog::errorText(worklog::isDirectoryError());
    default:
        return QString::fromLatin1(kNotAFile);
    }
    const worklog::FileHandle fd = worklog::openForAppend(path, true);
    if (fd == worklog::kNoFile)
        return worklog::errorText(worklog::lastFileError());
    file_ = std::make_shared<worklog::SyncedFile>(fd, true);
    sync_->setFile(file_);
    return std::nullopt;
}

std::optional<QString> CrashResults::append(const QByteArray& bytes) {
    if (!file_)
        return QString::fromLatin1(kNotOpen);
    if (const int error = worklog::writeAll(file_->fd, bytes.constData(), bytes.size()))
        return worklog::errorText(error);
    sync_->written();
    return std::nullopt;
}

} // namespace qav::session
