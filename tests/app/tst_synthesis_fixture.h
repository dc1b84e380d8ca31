#pragma once
// A console window in a fresh working folder, with a pseudo-terminal linked
// there as COM1 so that start-up opens it as it would a real port. The test
// holds the far end: it reads what the console wrote and writes replies.

#include "app/form1.h"
#include "app/message_sink.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <memory>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace synthesis_test {

class Com1Console {
public:
    Com1Console() : previous_(QDir::currentPath()) {
        QDir::setCurrent(dir_.path());
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
            const QByteArray slave = ::ptsname(master_);
            // Our own hold on the console end keeps the line up.
            slave_ = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            termios t{};
            ::tcgetattr(slave_, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(slave_, TCSANOW, &t);
            QFile::link(QString::fromLocal8Bit(slave), QDir(dir_.path()).filePath("COM1"));
        }
        auto sink = std::make_unique<qav::app::RecordingMessageSink>();
        messages_ = sink.get();
        form_ = std::make_unique<qav::app::Form1>(nullptr, std::move(sink));
        form_->Form_Load();
    }
    ~Com1Console() {
        form_.reset();
        if (master_ >= 0)
            ::close(master_);
        if (slave_ >= 0)
            ::close(slave_);
        QDir::setCurrent(previous_);
    }
    Com1Console(const Com1Console&) = delete;
    Com1Console& operator=(const Com1Console&) = delete;

    qav::app::Form1& form() { return *form_; }
    QStringList& messages() { return messages_->messages; }

    QByteArray readAvailable() {
        QByteArray got;
        char buffer[8192];
        for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;)
            got.append(buffer, n);
        return got;
    }
    // Reads until `count` bytes have come or the time is up, serving events.
    QByteArray read(qsizetype count, int timeoutMs = 3000) {
        QByteArray got;
        (void)QTest::qWaitFor(
            [&] {
                got += readAvailable();
                return got.size() >= count;
            },
            timeoutMs);
        return got;
    }
    // Everything that comes within `ms`.
    QByteArray readFor(int ms) {
        QByteArray got;
        (void)QTest::qWaitFor(
            [&] {
                got += readAvailable();
                return false;
            },
            ms);
        return got + readAvailable();
    }
    bool write(const QByteArray& bytes) {
        return ::write(master_, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
    }

private:
    QTemporaryDir dir_;
    QString previous_;
    int master_ = -1, slave_ = -1;
    qav::app::RecordingMessageSink* messages_ = nullptr;
    std::unique_ptr<qav::app::Form1> form_;
};

// Bytes as the work log writes them: "FD 00 01 02 ".
inline QString hexBytes(const QByteArray& bytes) {
    QString s;
    for (const char c : bytes)
        s += QString::asprintf("%02X ", unsigned(std::uint8_t(c)));
    return s;
}

} // namespace synthesis_test
