#pragma once
// Plain writes and reads on a file descriptor that go on until all of it is
// done: a short write or read continues where it stopped, and an interrupted
// call is made again. The answer is 0, or the errno of the call that failed
// (EIO when the system took nothing without saying why, or a read met the end
// of the file).
//
//   if (const int error = qav::worklog::writeAll(fd, bytes.constData(), bytes.size()))
//       ... qt_error_string(error) ...

#include <QtGlobal>

namespace qav::worklog {

// Writes size bytes from data.
int writeAll(int fd, const char* data, qsizetype size);
// The same; written is how many of them are in the file, also on a failure.
int writeAll(int fd, const char* data, qsizetype size, qsizetype& written);

// Reads exactly size bytes from offset into data, without moving the file's
// position.
int readAt(int fd, char* data, qsizetype size, qint64 offset);

} // namespace qav::worklog
