#pragma once
// Test helper: the console's end of the emulator's serial line, COMn opened
// as a raw serial port and read without blocking.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace qav::test {

class Client {
public:
    explicit Client(const QString& path) {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios tio{};
            ::tcgetattr(fd_, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    void write(const QByteArray& bytes) {
        QCOMPARE(::write(fd_, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }
    // What arrived so far, read without blocking.
    const QByteArray& received() {
        char buffer[256];
        ssize_t n;
        while ((n = ::read(fd_, buffer, sizeof buffer)) > 0)
            received_.append(buffer, n);
        return received_;
    }
    void clear() { received_.clear(); }

private:
    int fd_ = -1;
    QByteArray received_;
};

} // namespace qav::test
