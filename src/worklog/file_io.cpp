#include "worklog/file_io.h"

#include <cerrno>
#include <unistd.h>

namespace qav::worklog {

int writeAll(int fd, const char* data, qsizetype size, qsizetype& written) {
    written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, std::size_t(size - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        written += n;
    }
    return 0;
}

int writeAll(int fd, const char* data, qsizetype size) {
    qsizetype written = 0;
    return writeAll(fd, data, size, written);
}

int readAt(int fd, char* data, qsizetype size, qint64 offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, std::size_t(size), off_t(offset));
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

} // namespace qav::worklog
