#include "session/crash_results.h"

#include "worklog/file_io.h"
#include "worklog/file_sync.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace qav::session {

namespace {
constexpr const char* kNotAFile = "not a plain file";
} // namespace

CrashResults::CrashResults()
    : sync_(std::make_unique<worklog::FileSync>(std::chrono::milliseconds(kSyncGapMs))) {}

CrashResults::~CrashResults() = default; // the worker's last sync, then the file closes

std::optional<QString> CrashResults::open(const QString& path) {
    if (file_)
        sync_->letGo(std::exchange(file_, nullptr));
    sync_->setFile(nullptr);
    path_ = path;
    const QByteArray name = QFile::encodeName(path);
    // Not a pipe: opening one would wait for a reader, and the run with it.
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? qt_error_string(EISDIR) : QString::fromLatin1(kNotAFile);
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0)
        return qt_error_string(errno);
    file_ = std::make_shared<worklog::SyncedFile>(fd, true);
    sync_->setFile(file_);
    return std::nullopt;
}

std::optional<QString> CrashResults::append(const QByteArray& bytes) {
    if (!file_)
        return qt_error_string(EBADF);
    if (const int error = worklog::writeAll(file_->fd, bytes.constData(), bytes.size()))
        return qt_error_string(error);
    sync_->written();
    return std::nullopt;
}

} // namespace qav::session
