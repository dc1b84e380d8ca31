#pragma once
// Test helper: a real pseudo-terminal whose console end is linked as COMn in
// a folder, so the serial port service opens it as it would a real port.
// The test holds the other end: it reads what the console sent, writes what a
// chip would answer, and can close its end to make the device vanish.
//
//   PtyPort pty;
//   QVERIFY(pty.linkAs(dir.path(), 1));        // dir/COM1 -> /dev/pts/N
//   ... console writes ...
//   QCOMPARE(pty.read(4), QByteArray("\xFD\x00\x01\x02", 4));
//
// EmulatorProcess runs the emulator program on a pseudo-terminal of its own,
// linked as COMn in a folder, for tests that want the whole chip end to end.
//
// Header-only, so tests of any room can use them.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qav::test {

class PtyPort {
public:
    PtyPort() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        slavePath_ = QString::fromLocal8Bit(::ptsname(master_));
        // Holding the console end open ourselves keeps the line up while the
        // console closes and re-opens its port.
        slave_ = ::open(slavePath_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (slave_ >= 0) {
            termios t{};
            ::tcgetattr(slave_, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(slave_, TCSANOW, &t);
        }
    }
    ~PtyPort() {
        closeMaster();
        if (slave_ >= 0)
            ::close(slave_);
        if (!link_.isEmpty())
            QFile::remove(link_);
    }
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    bool isValid() const { return master_ >= 0 && slave_ >= 0; }
    QString slavePath() const { return slavePath_; }
    int masterFd() const { return master_; } // the far end, non-blocking

    // Links dir/COMn to the console end.
    bool linkAs(const QString& dir, int number) {
        link_ = QDir(dir).filePath(QStringLiteral("COM%1").arg(number));
        QFile::remove(link_);
        return isValid() && QFile::link(slavePath_, link_);
    }

    // Reads until `count` bytes have arrived or `timeoutMs` has passed,
    // serving the event loop meanwhile (the console writes from it).
    QByteArray read(qsizetype count, int timeoutMs = 2000) {
        QByteArray got;
        (void)QTest::qWaitFor(
            [&] {
                got += readAvailable();
                return got.size() >= count;
            },
            timeoutMs);
        return got;
    }
    // Whatever arrives within `ms`, for checking that nothing was sent.
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
    QByteArray readAvailable() {
        QByteArray got;
        char buffer[4096];
        for (;;) {
            const ssize_t n = master_ < 0 ? -1 : ::read(master_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, n);
        }
        return got;
    }
    bool write(const QByteArray& bytes) {
        return master_ >= 0 &&
               ::write(master_, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
    }

    // Bytes the far end wrote that the console has not read yet.
    qsizetype unreadByConsole() const {
        int n = 0;
        if (slave_ < 0 || ::ioctl(slave_, FIONREAD, &n) != 0)
            return -1;
        return n;
    }

    // The line speed last set on the console end.
    speed_t speed() const {
        termios t{};
        if (slave_ < 0 || ::tcgetattr(slave_, &t) != 0)
            return B0;
        return ::cfgetospeed(&t);
    }

    // The far end goes away, as a pulled-out adapter does: every open of the
    // console end sees a hang-up.
    void closeMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    // Also let go of our own hold on the console end.
    void closeSlave() {
        if (slave_ >= 0)
            ::close(slave_);
        slave_ = -1;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    QString link_;
};

#ifdef QAV_EMULATOR_PATH // defined for the test programs
// The emulator program (QAV_EMULATOR_PATH) serving dir/COMn. It ends with
// the object; its trace is on standard output unless it is quiet.
class EmulatorProcess {
public:
    // faults: more options, such as --hang-after 3.
    EmulatorProcess(const QString& dir, double timeScale, bool quiet = true, int port = 1,
                    const QStringList& faults = {})
        : link_(QDir(dir).filePath(QStringLiteral("COM%1").arg(port))) {
        QStringList arguments{QStringLiteral("--dir"),        dir,
                              QStringLiteral("--port"),       QString::number(port),
                              QStringLiteral("--time-scale"), QString::number(timeScale)};
        if (quiet)
            arguments << QStringLiteral("--quiet");
        arguments << faults;
        process_.start(QStringLiteral(QAV_EMULATOR_PATH), arguments);
    }
    ~EmulatorProcess() { stop(); }
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    // True once the program runs and its COMn is there.
    bool ready(int timeoutMs = 5000) {
        return process_.waitForStarted(timeoutMs) &&
               QTest::qWaitFor([&] { return QFileInfo(link_).isSymLink(); }, timeoutMs);
    }
    // Ends the program as a user would; true when it went in time.
    bool stop() {
        if (process_.state() == QProcess::NotRunning)
            return true;
        process_.terminate();
        if (process_.waitForFinished(5000))
            return true;
        process_.kill();
        process_.waitForFinished(1000);
        return false;
    }
    QProcess& process() { return process_; }
    QString linkPath() const { return link_; }

private:
    QString link_;
    QProcess process_;
};
#endif

} // namespace qav::test
