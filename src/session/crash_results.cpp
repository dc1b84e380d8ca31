#include "session/crash_results.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qav::session {

namespace {
constexpr const char* kNotAFile = "not a plain file";

int writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, std::size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        data += n;
        size -= n;
    }
    return 0;
}
} // namespace

CrashResults::CrashResults(QObject* parent) : QObject(parent) {
    syncLater_.setSingleShot(true);
    connect(&syncLater_, &QTimer::timeout, this, &CrashResults::sync);
}

CrashResults::~CrashResults() {
    close();
}

void CrashResults::close() {
    if (fd_ < 0)
        return;
    if (syncLater_.isActive())
        ::fdatasync(fd_);
    ::close(fd_);
    fd_ = -1;
}

std::optional<QString> CrashResults::open(const QString& path) {
    close();
    path_ = path;
    const QByteArray name = QFile::encodeName(path);
    // Not a pipe: opening one would wait for a reader, and the run with it.
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? qt_error_string(EISDIR) : QString::fromLatin1(kNotAFile);
    fd_ = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
    if (fd_ < 0)
        return qt_error_string(errno);
    sinceSync_.start();
    return std::nullopt;
}

std::optional<QString> CrashResults::append(const QByteArray& bytes) {
    if (fd_ < 0)
        return qt_error_string(EBADF);
    if (const int error = writeAll(fd_, bytes.constData(), bytes.size()))
        return qt_error_string(error);
    if (sinceSync_.elapsed() >= kSyncGapMs)
        sync();
    else if (!syncLater_.isActive())
        syncLater_.start(int(kSyncGapMs - sinceSync_.elapsed()));
    return std::nullopt;
}

void CrashResults::sync() {
    syncLater_.stop();
    if (fd_ >= 0)
        ::fdatasync(fd_);
    sinceSync_.start();
}

} // namespace qav::session
