#include "worklog/native_file.h"

#include <QDir>
#include <QRandomGenerator>
#include <windows.h>

// Every file is opened with all three sharing modes, as a POSIX descriptor
// would be: another program may read the log while it grows, and a name can
// be removed or changed while the file is open. Names change through the
// name, never through a handle with DELETE access, which programs that open
// files without sharing deletion (most do) could not open beside. The lock is a byte range far
// past any data the file will hold, so it keeps other runs out without
// keeping anyone from reading the data.

namespace qav::worklog {

namespace {
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

HANDLE handle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

FileHandle fileHandle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(h);
}

std::wstring wide(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

FileKind kindOfAttributes(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return FileKind::Directory;
    return attributes & FILE_ATTRIBUTE_DEVICE ? FileKind::Other : FileKind::Plain;
}

FileHandle openWide(const QString& path, DWORD access, DWORD disposition, DWORD flags = 0) {
    return fileHandle(::CreateFileW(wide(path).c_str(), access, kShareAll, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL | flags, nullptr));
}

bool lockRange(FileHandle file, DWORD flags) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    return ::LockFileEx(handle(file), LOCKFILE_EXCLUSIVE_LOCK | flags, 0, 1, 0, &at) != 0;
}

// Overlapped offsets are how a synchronous handle reads and writes at a
// place; all ones means the end of the file.
OVERLAPPED offsetOf(qint64 offset) {
    OVERLAPPED at{};
    at.Offset = DWORD(quint64(offset) & 0xFFFFFFFF);
    at.OffsetHigh = DWORD(quint64(offset) >> 32);
    return at;
}

int writeFrom(FileHandle file, const char* data, qsizetype size, qint64 offset,
              qsizetype& written) {
    written = 0;
    while (written < size) {
        OVERLAPPED at = offset < 0 ? offsetOf(-1) : offsetOf(offset + written);
        DWORD n = 0;
        const DWORD chunk = DWORD(std::min<qsizetype>(size - written, 1 << 30));
        if (!::WriteFile(handle(file), data + written, chunk, &n, &at))
            return int(::GetLastError());
        if (n == 0)
            return ioError();
        written += n;
    }
    return 0;
}
} // namespace

int lastFileError() {
    return int(::GetLastError());
}

QString errorText(int error) {
    return qt_error_string(error);
}

int ioError() {
    return ERROR_WRITE_FAULT;
}

int isDirectoryError() {
    return ERROR_DIRECTORY;
}

FileKind kindOf(const QString& path) {
    const DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ? FileKind::Missing : kindOfAttributes(attributes);
}

FileKind kindOf(FileHandle file) {
    switch (::GetFileType(handle(file))) {
    case FILE_TYPE_DISK: {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(handle(file), &info))
            return FileKind::Missing;
        return kindOfAttributes(info.dwFileAttributes);
    }
    case FILE_TYPE_PIPE:
        return FileKind::Pipe;
    case FILE_TYPE_UNKNOWN:
        return FileKind::Missing;
    default:
        return FileKind::Other;
    }
}

FileHandle createLocked(const QString& path) {
    const FileHandle file = openWide(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    if (file == kNoFile)
        return kNoFile;
    if (!lockRange(file, LOCKFILE_FAIL_IMMEDIATELY)) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(wide(path).c_str());
        ::CloseHandle(handle(file));
        ::SetLastError(error);
        return kNoFile;
    }
    return file;
}

FileHandle createUnnamed() {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name = QDir(QDir::tempPath())
                                 .filePath(QStringLiteral("qav-log-%1.tmp")
                                               .arg(QRandomGenerator::system()->generate64(), 16,
                                                    16, QLatin1Char('0')));
        const FileHandle file = openWide(name, GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW,
                                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
        if (file != kNoFile || ::GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return kNoFile;
}

FileHandle openForAppend(const QString& path, bool truncate) {
    return openWide(path, GENERIC_WRITE, truncate ? CREATE_ALWAYS : OPEN_ALWAYS);
}

FileHandle openForWriting(const QString& path) {
    return openWide(path, GENERIC_WRITE, OPEN_ALWAYS);
}

FileHandle openForReading(const QString& path) {
    return openWide(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
}

int closeFile(FileHandle file) {
    if (file == kNoFile)
        return 0;
    return ::CloseHandle(handle(file)) ? 0 : int(::GetLastError());
}

bool tryLock(FileHandle file) {
    return lockRange(file, LOCKFILE_FAIL_IMMEDIATELY);
}

void lock(FileHandle file) {
    lockRange(file, 0);
}

bool stillNamed(FileHandle file, const QString& path) {
    const FileHandle named = openWide(path, 0, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    if (named == kNoFile)
        return false;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = ::GetFileInformationByHandle(handle(file), &a) &&
                      ::GetFileInformationByHandle(handle(named), &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    ::CloseHandle(handle(named));
    return same;
}

int writeAll(FileHandle file, const char* data, qsizetype size, qsizetype& written) {
    return writeFrom(file, data, size, -1, written);
}

int writeAt(FileHandle file, const char* data, qsizetype size, qint64 offset, qsizetype& written) {
    return writeFrom(file, data, size, offset, written);
}

int readAt(FileHandle file, char* data, qsizetype size, qint64 offset) {
    while (size > 0) {
        OVERLAPPED at = offsetOf(offset);
        DWORD n = 0;
        const DWORD chunk = DWORD(std::min<qsizetype>(size, 1 << 30));
        if (!::ReadFile(handle(file), data, chunk, &n, &at)) {
            const DWORD error = ::GetLastError();
            return error == ERROR_HANDLE_EOF ? ioError() : int(error);
        }
        if (n == 0)
            return ioError();
        data += n;
        size -= n;
        offset += n;
    }
    return 0;
}

qint64 fileSize(FileHandle file) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(handle(file), &size) ? qint64(size.QuadPart) : -1;
}

int truncateFile(FileHandle file, qint64 size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    return ::SetFileInformationByHandle(handle(file), FileEndOfFileInfo, &end, sizeof end)
               ? 0
               : int(::GetLastError());
}

int syncFile(FileHandle file) {
    return ::FlushFileBuffers(handle(file)) ? 0 : int(::GetLastError());
}

int renameFile(const QString& from, const QString& to, bool replace) {
    return ::MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                         replace ? MOVEFILE_REPLACE_EXISTING : 0)
               ? 0
               : int(::GetLastError());
}

bool isExistsError(int error) {
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

int removeFile(const QString& path) {
    return ::DeleteFileW(wide(path).c_str()) ? 0 : int(::GetLastError());
}

qint64 processId() {
    return qint64(::GetCurrentProcessId());
}

} // namespace qav::worklog
