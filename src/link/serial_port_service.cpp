#include "link/serial_port_service.h"

#include "protocol/serial_replies.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTimer>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace qav::link {

SerialPortService::SerialPortService(QObject* parent)
    : SerialLink(parent), port_(new QSerialPort(this)), replyPause_(new QTimer(this)),
      lineTime_(new QTimer(this)) {
    clock_.start();
    lineTime_->setSingleShot(true);
    lineTime_->setTimerType(Qt::PreciseTimer);
    connect(lineTime_, &QTimer::timeout, this, [this] { onBytesWritten(); });
    connect(port_, &QSerialPort::bytesWritten, this, [this] { onBytesWritten(); });
    replyPause_->setSingleShot(true);
    replyPause_->setTimerType(Qt::PreciseTimer);
    connect(replyPause_, &QTimer::timeout, this, [this] { deliver(); });
    watch_ = new QTimer(this);
    watch_->setInterval(kWatchIntervalMs);
    connect(watch_, &QTimer::timeout, this, [this] { lookForLostPort(); });
    connect(port_, &QSerialPort::readyRead, this, [this] { readAvailable(); });
    connect(port_, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError e) { handleError(int(e)); });
}

SerialPortService::~SerialPortService() {
    if (port_->isOpen())
        port_->close();
}

bool SerialPortService::applySettings() {
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (parity_) {
    case 'E':
        parity = QSerialPort::EvenParity;
        break;
    case 'O':
        parity = QSerialPort::OddParity;
        break;
    case 'M':
        parity = QSerialPort::MarkParity;
        break;
    case 'S':
        parity = QSerialPort::SpaceParity;
        break;
    default:
        break;
    }
    const auto stop = stopBits_ == 2    ? QSerialPort::TwoStop
                      : stopBits_ == 15 ? QSerialPort::OneAndHalfStop
                                        : QSerialPort::OneStop;
    bool ok = port_->setBaudRate(baud_);
    ok = port_->setDataBits(QSerialPort::DataBits(dataBits_)) && ok;
    ok = port_->setParity(parity) && ok;
    ok = port_->setStopBits(stop) && ok;
    if (!ok)
        error_ = port_->errorString();
    return ok;
}

bool SerialPortService::portOpen() const {
    return port_->isOpen();
}

QString SerialPortService::portName() const {
    return port_->portName();
}

bool SerialPortService::open() {
    stopWatching();
    error_.clear();
    if (port_->isOpen())
        return true;
    const QString name = resolvePortName(commPort(), QString(), systemPortsUsed_);
    if (name.isEmpty()) {
        error_ = tr("COM%1 does not exist").arg(commPort());
        return false;
    }
    openedFromFolder_ = name == folderEntry(commPort(), QString());
    return openPort(name);
}

bool SerialPortService::openDevice(const QString& path) {
    stopWatching();
    error_.clear();
    // The frame under way goes with the old device; without its end the
    // link would wait for it for ever.
    if (port_->isOpen()) {
        port_->close();
        endFrame();
    }
    openedFromFolder_ = false;
    return openPort(path);
}

bool SerialPortService::openPort(const QString& name) {
    openedName_ = name;
    port_->setPortName(name);
    if (!port_->open(QIODevice::ReadWrite)) {
        error_ = port_->errorString();
        return false;
    }
    port_->setFlowControl(QSerialPort::NoFlowControl);
    if (!applySettings()) {
        port_->close();
        return false;
    }
    received_.clear();
    replyPause_->stop();
    lost_ = false;
    ioErrorsInARow_ = 0;
    return true;
}

void SerialPortService::close() {
    stopWatching();
    if (port_->isOpen())
        port_->close();
    endFrame();
}

bool SerialPortService::watching() const {
    return watch_->isActive();
}

void SerialPortService::stopWatching() {
    watch_->stop();
}

void SerialPortService::lookForLostPort() {
    QString name = watchedName_;
    if (name.isEmpty()) {
        name = folderEntry(watchedNumber_, QString());
    } else {
        const auto ports = QSerialPortInfo::availablePorts();
        const bool present = std::any_of(ports.begin(), ports.end(), [&](const QSerialPortInfo& p) {
            return p.systemLocation() == name;
        });
        if (!present)
            name.clear();
    }
    if (name.isEmpty() || !openPort(name))
        return;
    // Still the end that went away (a pseudo-terminal whose far side is
    // closed opens, then hangs up at once): keep looking.
    if (lineHungUp()) {
        port_->close();
        return;
    }
    watch_->stop();
    emit back();
}

qint64 SerialPortService::backlog() const {
    return (port_->isOpen() ? port_->bytesToWrite() : 0) + waitingBytes();
}

void SerialPortService::startFrame(const QByteArray& frame) {
    const qint64 now = clock_.elapsed();
    lineFreeMs_ = std::max(now, lineFreeMs_) + frameTimeMs(frame.size());
    emit frameWritten(frame);
    const QByteArrayView bytes(frame);
    if (bytes.size() <= kSerialSplitThreshold) {
        port_->write(bytes.data(), bytes.size());
    } else {
        port_->write(bytes.data(), kSerialSplitThreshold);
        port_->write(bytes.data() + kSerialSplitThreshold, bytes.size() - kSerialSplitThreshold);
    }
    largestBacklog_ = std::max(largestBacklog_, backlog());
    onBytesWritten();
}

// The frame under way is done once the port has handed all of it to the
// system and its time on the line has passed.
void SerialPortService::onBytesWritten() {
    if (!frameUnderWay())
        return;
    if (port_->isOpen() && port_->bytesToWrite() > 0)
        return; // bytesWritten comes again
    const qint64 left = lineFreeMs_ - clock_.elapsed();
    if (left > 0) {
        lineTime_->start(int(left));
        return;
    }
    endFrame();
}

void SerialPortService::endFrame() {
    lineTime_->stop();
    if (!port_->isOpen())
        discardWaiting(); // a frame for a closed port is dropped without a word
    finishFrame();
}

void SerialPortService::setReceiveHeld(bool held) {
    held_ = held;
    if (held_)
        replyPause_->stop();
}

void SerialPortService::deliver() {
    if (held_ || received_.isEmpty())
        return;
    if (droppedInBurst_ > 0) {
        const qint64 lost = droppedInBurst_;
        droppedInBurst_ = 0;
        emit inputOverrun(lost);
    }
    QByteArray bytes;
    bytes.swap(received_);
    emit replyBytes(bytes);
}

void SerialPortService::readAvailable() {
    const QByteArray bytes = port_->readAll();
    if (bytes.isEmpty())
        return;
    ioErrorsInARow_ = 0;
    emit traffic(Traffic::SerialIn, bytes);
    const qsizetype room = std::max<qsizetype>(0, kReceiveCapacity - received_.size());
    if (bytes.size() > room) {
        dropped_ += bytes.size() - room;
        droppedInBurst_ += bytes.size() - room;
        received_.append(bytes.first(room));
    } else {
        received_.append(bytes);
    }
    // Bytes that arrive during the pause are delivered with the others.
    if (!held_ && !replyPause_->isActive())
        replyPause_->start(protocol::replyPauseMs(baud_));
}

bool SerialPortService::lineHungUp() const {
#ifdef Q_OS_UNIX
    pollfd p{int(port_->handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
    return false;
#endif
}

void SerialPortService::handleError(int error) {
    if (!port_->isOpen())
        return;
    bool gone = error == QSerialPort::ResourceError;
    bool hungUp = false;
    if (error == QSerialPort::ReadError || error == QSerialPort::WriteError) {
        // A hung-up tty (an adapter pulled out, the far end of a
        // pseudo-terminal closed) reads as end-of-file again and again rather
        // than failing: treat it as gone, and so too an error that keeps coming.
        hungUp = lineHungUp();
        gone = hungUp || ++ioErrorsInARow_ >= kIoErrorsBeforeGone;
    }
    if (!gone)
        return;
    // The device went away (an adapter pulled out, the far end of a
    // pseudo-terminal closed): close, say so once, and watch for it. After a
    // hang-up the port's own error text is that of a later call, not the cause.
    error_ = hungUp ? tr("the line hung up") : port_->errorString();
    port_->close();
    endFrame();
    watchedNumber_ = commPort();
    watchedName_ = openedFromFolder_ ? QString() : openedName_;
    watch_->start();
    if (!lost_) {
        lost_ = true;
        emit lost(error_);
    }
}

// The entry named COMn in the folder (the current one when empty), by its
// absolute path; empty when there is none.
QString SerialPortService::folderEntry(int number, const QString& directory) {
    const QDir dir(directory.isEmpty() ? QDir::currentPath() : directory);
    const QFileInfo entry(dir.filePath(QStringLiteral("COM%1").arg(number)));
    if (entry.exists() || entry.isSymLink())
        return entry.absoluteFilePath();
    return QString();
}

QString SerialPortService::resolvePortName(int number, const QString& directory, bool systemPorts) {
    const QString name = QStringLiteral("COM%1").arg(number);
#ifdef Q_OS_WIN
    Q_UNUSED(directory);
    Q_UNUSED(systemPorts);
    return name;
#else
    // An entry named COMn in the folder (a link to a tty or to an emulator's
    // pseudo-terminal) wins; it is opened by its absolute path, since a bare
    // name would be looked for under /dev.
    if (const QString entry = folderEntry(number, directory); !entry.isEmpty())
        return entry;

    // Otherwise the n-th port the system reports, in the order of its path.
    if (!systemPorts)
        return QString();
    QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    std::sort(ports.begin(), ports.end(), [](const QSerialPortInfo& a, const QSerialPortInfo& b) {
        return a.systemLocation() < b.systemLocation();
    });
    if (number < 1 || number > ports.size())
        return QString();
    return ports[number - 1].systemLocation();
#endif
}

} // namespace qav::link
