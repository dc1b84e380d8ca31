#include "serial_line.h"

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace qav::sim {

namespace {
// How often a line without a client looks whether the port was opened again.
constexpr int kClientPollMs = 40;

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}
} // namespace

SerialLine::SerialLine(ChipModel* chip, QObject* parent) : QObject(parent), chip_(chip) {
    frameTimer_.setSingleShot(true);
    frameTimer_.setInterval(kDefaultFrameTimeoutMs);
    connect(&frameTimer_, &QTimer::timeout, this, &SerialLine::onFrameTimeout);
    clientPoll_.setInterval(kClientPollMs);
    connect(&clientPoll_, &QTimer::timeout, this, &SerialLine::checkClient);
    connect(chip_, &ChipModel::spontaneousReply, this, &SerialLine::send);
}

SerialLine::~SerialLine() {
    close();
}

void SerialLine::setFrameTimeoutMs(int ms) {
    frameTimer_.setInterval(std::max(1, ms));
}

bool SerialLine::open(const QString& dir, int port, QString* error) {
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        close();
        return false;
    };
    close();
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0)
        return fail(systemError("posix_openpt"));
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return fail(systemError("grantpt/unlockpt"));
    const char* name = ::ptsname(master_);
    if (!name)
        return fail(systemError("ptsname"));
    slavePath_ = QString::fromLocal8Bit(name);

    // Raw line: no echo, no line editing, no character translation. The
    // settings stay with the terminal while the master is open.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        return fail(systemError("open slave"));
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    const bool rawOk = ::tcsetattr(slave, TCSANOW, &tio) == 0;
    ::close(slave);
    if (!rawOk)
        return fail(systemError("tcsetattr"));

    const QString link = QDir(dir).absoluteFilePath(QStringLiteral("COM%1").arg(port));
    const QFileInfo existing(link);
    if (existing.isSymLink()) {
        if (::unlink(QFile::encodeName(link).constData()) != 0)
            return fail(systemError("remove stale link"));
    } else if (existing.exists()) {
        return fail(QStringLiteral("%1 exists and is not a link").arg(link));
    }
    if (::symlink(name, QFile::encodeName(link).constData()) != 0)
        return fail(systemError("symlink"));
    linkPath_ = link;

    readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &SerialLine::onReadable);
    writeNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &SerialLine::onWritable);
    // Nobody has the port open yet: wait for the first client.
    clientLeft();
    return true;
}

void SerialLine::close() {
    frameTimer_.stop();
    clientPoll_.stop();
    delete readNotifier_;
    readNotifier_ = nullptr;
    delete writeNotifier_;
    writeNotifier_ = nullptr;
    if (!linkPath_.isEmpty()) {
        // Only our own link goes; another emulator may have taken the name since.
        if (QFileInfo(linkPath_).symLinkTarget() == slavePath_)
            ::unlink(QFile::encodeName(linkPath_).constData());
        linkPath_.clear();
    }
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
    pendingOut_.clear();
    parser_.reset();
    connected_ = false;
}

void SerialLine::clientLeft() {
    const bool was = connected_;
    connected_ = false;
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    frameTimer_.stop();
    parser_.reset();
    if (!pendingOut_.isEmpty())
        emit lineEvent(
            QStringLiteral("port closed: %1 reply bytes dropped").arg(pendingOut_.size()));
    pendingOut_.clear();
    if (was)
        emit lineEvent(QStringLiteral("port closed by the client"));
    clientPoll_.start();
}

void SerialLine::clientCame() {
    clientPoll_.stop();
    connected_ = true;
    // Whatever was written while the port stood closed is stale: drop it
    // before the new client reads it.
    const int slave = ::open(QFile::encodeName(slavePath_).constData(),
                             O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave >= 0) {
        ::tcflush(slave, TCIFLUSH);
        ::close(slave);
    }
    readNotifier_->setEnabled(true);
    emit lineEvent(QStringLiteral("port opened by a client"));
    onReadable();
}

void SerialLine::checkClient() {
    if (master_ < 0)
        return;
    pollfd pfd{master_, POLLIN, 0};
    if (::poll(&pfd, 1, 0) < 0)
        return;
    if (!(pfd.revents & POLLHUP))
        clientCame();
}

void SerialLine::onReadable() {
    if (master_ < 0 || !connected_)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            handleEvents(parser_.feed(QByteArrayView(buffer, n)));
            if (!connected_)
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // EIO (or end of file): the last client closed the slave.
        clientLeft();
        return;
    }
    if (parser_.inFrame())
        frameTimer_.start();
    else
        frameTimer_.stop();
}

void SerialLine::onFrameTimeout() {
    handleEvents(parser_.expire());
}

void SerialLine::handleEvents(const std::vector<FrameParser::Event>& events) {
    for (const FrameParser::Event& event : events) {
        if (event.kind == FrameParser::Event::Kind::Frame)
            send(chip_->handleFrame(event.bytes));
        else
            send(chip_->handleBadFrame(event.bytes, event.reason));
    }
}

void SerialLine::send(const QByteArray& bytes) {
    if (master_ < 0 || bytes.isEmpty())
        return;
    if (!connected_) {
        emit lineEvent(QStringLiteral("port closed: %1 reply bytes dropped").arg(bytes.size()));
        return;
    }
    pendingOut_ += bytes;
    flushPending();
}

void SerialLine::flushPending() {
    while (!pendingOut_.isEmpty()) {
        const ssize_t n = ::write(master_, pendingOut_.constData(), size_t(pendingOut_.size()));
        if (n > 0) {
            pendingOut_.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The client is not reading; go on when it does.
            writeNotifier_->setEnabled(true);
            return;
        }
        clientLeft();
        return;
    }
    writeNotifier_->setEnabled(false);
}

void SerialLine::onWritable() {
    flushPending();
}

} // namespace qav::sim
