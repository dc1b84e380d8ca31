#pragma once
// The file calls the work log's files are made of, one set for each system:
// POSIX descriptors on Linux (native_file_posix.cpp), and on Windows handles
// opened by their wide-character names (native_file_win.cpp), so Chinese
// names never pass through the ANSI code page.
//
// Errors are the system's own codes (errno, or GetLastError() on Windows):
// every call that fails returns kNoFile or -1 and leaves the code for
// lastFileError(), or returns it; errorText() words it. Writes and reads go
// on until all of it is done: a short one continues where it stopped, and an
// interrupted call is made again.
//
// Locks are advisory and belong to the open file; the system drops them when
// the file is closed or the process ends, however it ends.

#include <QString>
#include <QtGlobal>
#include <cstdint>

namespace qav::worklog {

using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

int lastFileError();
QString errorText(int error);
// The error of an input/output that failed without a reason of its own.
int ioError();

enum class FileKind { Missing, Plain, Directory, Pipe, Other };
FileKind kindOf(const QString& path);
FileKind kindOf(FileHandle file);
// The error that says a directory stands where a file was wanted.
int isDirectoryError();

// A new file, not there before, for reading and appending, and locked.
FileHandle createLocked(const QString& path);
// A file in the temporary folder that no name reaches; it goes when closed.
FileHandle createUnnamed();
// For appending, made when missing; emptied first when truncate is set.
// Without waiting for a reader when the name is a pipe.
FileHandle openForAppend(const QString& path, bool truncate);
// For writing at offsets, made when missing (the capture).
FileHandle openForWriting(const QString& path);
// For reading, without following a link or waiting for a writer.
FileHandle openForReading(const QString& path);
int closeFile(FileHandle file); // 0 or the error

// The exclusive lock, now or not at all / waiting for it.
bool tryLock(FileHandle file);
void lock(FileHandle file);
// Whether path still names this open file.
bool stillNamed(FileHandle file, const QString& path);

// Appends size bytes from data; written is how many are in the file, also
// on a failure. 0 or the error.
int writeAll(FileHandle file, const char* data, qsizetype size, qsizetype& written);
inline int writeAll(FileHandle file, const char* data, qsizetype size) {
    qsizetype written = 0;
    return writeAll(file, data, size, written);
}
// Writes at offset; written as above.
int writeAt(FileHandle file, const char* data, qsizetype size, qint64 offset, qsizetype& written);
// Reads exactly size bytes from offset into data (the end of the file is an
// error), without moving the file's position.
int readAt(FileHandle file, char* data, qsizetype size, qint64 offset);
qint64 fileSize(FileHandle file); // -1 on a failure
int truncateFile(FileHandle file, qint64 size);
// The written data on the disk (fdatasync, FlushFileBuffers).
int syncFile(FileHandle file);

// Gives a file, open or not, another name in the same folder; without
// replace, a name that is taken is an error (isExistsError).
int renameFile(const QString& from, const QString& to, bool replace);
bool isExistsError(int error);
// Removes the name; an open file stays readable through its handle.
int removeFile(const QString& path);

qint64 processId();

} // namespace qav::worklog
