#include "worklog/native_file.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qav::worklog {

namespace {
QByteArray encodedName(const QString& path) {
    return QFile::encodeName(path);
}

int fd(FileHandle file) {
    return int(file);
}

// Calls write until size bytes are written, again when interrupted.
template <typename Write> int writeFrom(qsizetype size, qsizetype& written, Write write) {
    written = 0;
    while (written < size) {
        const ssize_t n = write();
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        written += n;
    }
    return 0;
}

FileKind kindOfMode(mode_t mode) {
    if (S_ISREG(mode))
        return FileKind::Plain;
    if (S_ISFIFO(mode))
        return FileKind::Pipe;
    return S_ISDIR(mode) ? FileKind::Directory : FileKind::Other;
}
} // namespace

int lastFileError() {
    return errno;
}

QString errorText(int error) {
    return qt_error_string(error);
}

int ioError() {
    return EIO;
}

int isDirectoryError() {
    return EISDIR;
}

FileKind kindOf(const QString& path) {
    struct stat st {};
    return ::stat(encodedName(path).constData(), &st) == 0 ? kindOfMode(st.st_mode)
                                                           : FileKind::Missing;
}

FileKind kindOf(FileHandle file) {
    struct stat st {};
    return ::fstat(fd(file), &st) == 0 ? kindOfMode(st.st_mode) : FileKind::Missing;
}

FileHandle createLocked(const QString& path) {
    const int f = ::open(encodedName(path).constData(),
                         O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (f < 0)
        return kNoFile;
    if (::flock(f, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::unlink(encodedName(path).constData());
        ::close(f);
        errno = error;
        return kNoFile;
    }
    return f;
}

FileHandle createUnnamed() {
    const QByteArray dir = encodedName(QDir::tempPath());
    int f = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_APPEND | O_CLOEXEC, 0600);
    if (f >= 0)
        return f;
    QByteArray name = dir + "/qav-log-XXXXXX";
    f = ::mkostemp(name.data(), O_APPEND | O_CLOEXEC);
    if (f >= 0)
        ::unlink(name.constData());
    return f;
}

FileHandle openForAppend(const QString& path, bool truncate) {
    return ::open(encodedName(path).constData(),
                  O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0666);
}

FileHandle openForWriting(const QString& path) {
    // Not blocking: a pipe with no reader must not hold the caller up.
    return ::open(encodedName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
}

FileHandle openForReading(const QString& path) {
    return ::open(encodedName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
}

int closeFile(FileHandle file) {
    if (file < 0)
        return 0;
    return ::close(fd(file)) == 0 ? 0 : errno;
}

bool tryLock(FileHandle file) {
    return ::flock(fd(file), LOCK_EX | LOCK_NB) == 0;
}

void lock(FileHandle file) {
    ::flock(fd(file), LOCK_EX);
}

bool stillNamed(FileHandle file, const QString& path) {
    struct stat open {
    }, named{};
    return ::fstat(fd(file), &open) == 0 && ::stat(encodedName(path).constData(), &named) == 0 &&
           open.st_ino == named.st_ino && open.st_dev == named.st_dev;
}

int writeAll(FileHandle file, const char* data, qsizetype size, qsizetype& written) {
    return writeFrom(size, written, [&] {
        return ::write(fd(file), data + written, std::size_t(size - written));
    });
}

int writeAt(FileHandle file, const char* data, qsizetype size, qint64 offset, qsizetype& written) {
    return writeFrom(size, written, [&] {
        return ::pwrite(fd(file), data + written, std::size_t(size - written),
                        off_t(offset + written));
    });
}

int readAt(FileHandle file, char* data, qsizetype size, qint64 offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd(file), data, std::size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        data += n;
        size -= n;
        offset += n;
    }
    return 0;
}

qint64 fileSize(FileHandle file) {
    struct stat st {};
    return ::fstat(fd(file), &st) == 0 ? qint64(st.st_size) : -1;
}

int truncateFile(FileHandle file, qint64 size) {
    while (::ftruncate(fd(file), off_t(size)) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

int syncFile(FileHandle file) {
    return ::fdatasync(fd(file)) == 0 ? 0 : errno;
}

int renameFile(const QString& from, const QString& to, bool replace) {
    const int result = replace
                           ? ::rename(encodedName(from).constData(), encodedName(to).constData())
                           : ::renameat2(AT_FDCWD, encodedName(from).constData(), AT_FDCWD,
                                         encodedName(to).constData(), RENAME_NOREPLACE);
    return result == 0 ? 0 : errno;
}

bool isExistsError(int error) {
    return error == EEXIST;
}

int removeFile(const QString& path) {
    return ::unlink(encodedName(path).constData()) == 0 ? 0 : errno;
}

qint64 processId() {
    return ::getpid();
}

} // namespace qav::worklog
