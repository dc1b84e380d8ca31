#include "link/win_serial_link.h"

#include "protocol/serial_replies.h"

#include <QCollator>
#include <QRegularExpression>
#include <QTimer>
#include <QWinEventNotifier>
#include <algorithm>
#include <windows.h>

namespace qav::link {

namespace {
constexpr DWORD kReadChunk = 4096;
constexpr DWORD kDriverQueue = 64 * 1024;

QString systemError(DWORD error) {
    return qt_error_string(int(error));
}

HANDLE newEvent() {
    return ::CreateEventW(nullptr, TRUE, FALSE, nullptr); // manual reset, not signalled
}
} // namespace

// The handle, and one overlapped record with its event for each direction.
struct WinSerialLink::Io {
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED read{};
    OVERLAPPED write{};
    char buffer[kReadChunk];
    bool readPending = false;
    bool writePending = false;

    Io() {
        read.hEvent = newEvent();
        write.hEvent = newEvent();
    }
    ~Io() {
        ::CloseHandle(read.hEvent);
        ::CloseHandle(write.hEvent);
    }
    bool open() const { return port != INVALID_HANDLE_VALUE; }
};

WinSerialLink::WinSerialLink(QObject* parent)
    : SerialLink(parent), io_(std::make_unique<Io>()), replyPause_(new QTimer(this)),
      lineTime_(new QTimer(this)), check_(new QTimer(this)), watch_(new QTimer(this)) {
    clock_.start();
    readNotifier_ = new QWinEventNotifier(io_->read.hEvent, this);
    writeNotifier_ = new QWinEventNotifier(io_->write.hEvent, this);
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    connect(readNotifier_, &QWinEventNotifier::activated, this, [this] { readDone(); });
    connect(writeNotifier_, &QWinEventNotifier::activated, this, [this] { writeDone(); });
    replyPause_->setSingleShot(true);
    replyPause_->setTimerType(Qt::PreciseTimer);
    connect(replyPause_, &QTimer::timeout, this, [this] { deliver(); });
    lineTime_->setSingleShot(true);
    lineTime_->setTimerType(Qt::PreciseTimer);
    connect(lineTime_, &QTimer::timeout, this, [this] { lineTimePassed(); });
    check_->setInterval(kCheckIntervalMs);
    connect(check_, &QTimer::timeout, this, [this] { checkPort(); });
    watch_->setInterval(kWatchIntervalMs);
    connect(watch_, &QTimer::timeout, this, [this] { lookForLostPort(); });
}

WinSerialLink::~WinSerialLink() {
    closePort();
}

QString WinSerialLink::deviceName(const QString& port) {
    if (port.startsWith(QLatin1String("\\\\.\\")))
        return port;
    static const QRegularExpression com(QStringLiteral("^COM\\d+$"),
                                        QRegularExpression::CaseInsensitiveOption);
    return com.match(port).hasMatch() ? QStringLiteral("\\\\.\\") + port.toUpper() : port;
}

QStringList WinSerialLink::systemPorts() {
    QStringList ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        wchar_t value[256];
        DWORD nameSize = 256, valueSize = sizeof value, type = 0;
        const LONG result = ::RegEnumValueW(key, i, name, &nameSize, nullptr, &type,
                                            reinterpret_cast<BYTE*>(value), &valueSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        ports.append(QString::fromWCharArray(value, int(wcsnlen(value, valueSize / 2))));
    }
    ::RegCloseKey(key);
    QCollator order;
    order.setNumericMode(true);
    std::sort(ports.begin(), ports.end(), order);
    return ports;
}

bool WinSerialLink::isOpen() const {
    return io_->open();
}

bool WinSerialLink::open() {
    stopWatching();
    error_.clear();
    if (isOpen())
        return true;
    return openPort(QStringLiteral("COM%1").arg(commPort()));
}

bool WinSerialLink::openDevice(const QString& path) {
    stopWatching();
    error_.clear();
    if (isOpen()) { // the frame under way goes with the old device
        closePort();
        endFrame();
    }
    return openPort(path);
}

bool WinSerialLink::openPort(const QString& name) {
    name_ = name;
    const std::wstring device = deviceName(name).toStdWString();
    const HANDLE port = ::CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        error_ = systemError(::GetLastError());
        return false;
    }
    io_->port = port;
    ::SetupComm(port, kDriverQueue, kDriverQueue);
    if (!applySettings()) {
        closePort();
        return false;
    }
    ::PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    // Modem lines up, where there are any (ERROR_NOT_SUPPORTED otherwise).
    ::EscapeCommFunction(port, SETDTR);
    ::EscapeCommFunction(port, SETRTS);
    received_.clear();
    replyPause_->stop();
    lost_ = false;
    startRead();
    check_->start();
    return isOpen();
}

bool WinSerialLink::applySettings() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(io_->port, &dcb)) {
        error_ = systemError(::GetLastError());
        return false;
    }
    dcb.BaudRate = DWORD(baud_);
    dcb.ByteSize = BYTE(dataBits_);
    switch (parity_) {
    case 'E':
        dcb.Parity = EVENPARITY;
        break;
    case 'O':
        dcb.Parity = ODDPARITY;
        break;
    case 'M':
        dcb.Parity = MARKPARITY;
        break;
    case 'S':
        dcb.Parity = SPACEPARITY;
        break;
    default:
        dcb.Parity = NOPARITY;
        break;
    }
    dcb.StopBits = stopBits_ == 2 ? TWOSTOPBITS : stopBits_ == 15 ? ONE5STOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = parity_ != 'N';
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 10;
    if (!::SetCommState(io_->port, &dcb) || !::SetCommTimeouts(io_->port, &timeouts)) {
        error_ = systemError(::GetLastError());
        return false;
    }
    return true;
}

void WinSerialLink::close() {
    stopWatching();
    closePort();
    endFrame();
}

// Cancels what is pending and waits for it, so no overlapped record or
// buffer is in use once the handle is closed.
void WinSerialLink::closePort() {
    check_->stop();
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    lineTime_->stop();
    if (!io_->open())
        return;
    ::CancelIoEx(io_->port, nullptr);
    DWORD n = 0;
    if (io_->readPending)
        ::GetOverlappedResult(io_->port, &io_->read, &n, TRUE);
    if (io_->writePending)
        ::GetOverlappedResult(io_->port, &io_->write, &n, TRUE);
    io_->readPending = io_->writePending = false;
    ::CloseHandle(io_->port);
    io_->port = INVALID_HANDLE_VALUE;
    writing_.clear();
    nextPart_.clear();
    unsentBytes_ = 0;
}

bool WinSerialLink::watching() const {
    return watch_->isActive();
}

void WinSerialLink::stopWatching() {
    watch_->stop();
}

void WinSerialLink::startRead() {
    if (!io_->open())
        return;
    ::ResetEvent(io_->read.hEvent);
    if (!::ReadFile(io_->port, io_->buffer, kReadChunk, nullptr, &io_->read) &&
        ::GetLastError() != ERROR_IO_PENDING) {
        portFailed(::GetLastError());
        return;
    }
    // Finished at once or not, the event says so.
    io_->readPending = true;
    readNotifier_->setEnabled(true);
}

void WinSerialLink::readDone() {
    if (!io_->open() || !io_->readPending)
        return;
    DWORD n = 0;
    if (!finished(io_->read, io_->readPending, readNotifier_, n))
        return;
    if (n > 0) {
        const QByteArray bytes(io_->buffer, qsizetype(n));
        emit traffic(Traffic::SerialIn, bytes);
        const qsizetype room = std::max<qsizetype>(0, kReceiveCapacity - received_.size());
        const qsizetype kept = std::min<qsizetype>(room, bytes.size());
        droppedInBurst_ += bytes.size() - kept;
        received_.append(bytes.first(kept));
        if (!held_ && !replyPause_->isActive())
            replyPause_->start(protocol::replyPauseMs(baud_));
    }
    startRead();
}

// Whether the read or write of this record has ended well, with its count
// of bytes from the overlapped result; a failure means the port is gone.
bool WinSerialLink::finished(OVERLAPPED& io, bool& pending, QWinEventNotifier* notifier,
                             unsigned long& bytes) {
    const bool ok = ::GetOverlappedResult(io_->port, &io, &bytes, FALSE);
    const DWORD error = ok ? 0 : ::GetLastError();
    if (!ok && error == ERROR_IO_INCOMPLETE)
        return false;
    pending = false;
    notifier->setEnabled(false);
    if (!ok)
        portFailed(error);
    return ok;
}

void WinSerialLink::setReceiveHeld(bool held) {
    held_ = held;
    if (held_)
        replyPause_->stop();
}

void WinSerialLink::deliver() {
    if (held_ || received_.isEmpty())
        return;
    if (droppedInBurst_ > 0)
        emit inputOverrun(std::exchange(droppedInBurst_, 0));
    emit replyBytes(std::exchange(received_, QByteArray()));
}

qint64 WinSerialLink::backlog() const {
    return unsentBytes_ + waitingBytes();
}

void WinSerialLink::startFrame(const QByteArray& frame) {
    lineFreeMs_ = std::max(clock_.elapsed(), lineFreeMs_) + frameTimeMs(frame.size());
    emit frameWritten(frame);
    if (frame.size() > kSplitThreshold) {
        writing_ = frame.first(kSplitThreshold);
        nextPart_ = frame.sliced(kSplitThreshold);
    } else {
        writing_ = frame;
        nextPart_.clear();
    }
    unsentBytes_ = frame.size();
    largestBacklog_ = std::max(largestBacklog_, backlog());
    writeNext();
}

void WinSerialLink::writeNext() {
    if (!io_->open()) {
        endFrame();
        return;
    }
    ::ResetEvent(io_->write.hEvent);
    if (!::WriteFile(io_->port, writing_.constData(), DWORD(writing_.size()), nullptr,
                     &io_->write) &&
        ::GetLastError() != ERROR_IO_PENDING) {
        portFailed(::GetLastError());
        return;
    }
    io_->writePending = true;
    writeNotifier_->setEnabled(true);
}

// The count comes from the overlapped result: a write may take part of its
// bytes, and the rest goes out next.
void WinSerialLink::writeDone() {
    if (!io_->open() || !io_->writePending)
        return;
    DWORD n = 0;
    if (!finished(io_->write, io_->writePending, writeNotifier_, n))
        return;
    unsentBytes_ -= n;
    writing_.remove(0, qsizetype(n));
    if (writing_.isEmpty())
        writing_ = std::exchange(nextPart_, QByteArray());
    if (!writing_.isEmpty()) {
        writeNext();
        return;
    }
    lineTimePassed();
}

// The frame is done once the system has it all and its time on the line
// has passed.
void WinSerialLink::lineTimePassed() {
    if (!frameUnderWay() || io_->writePending)
        return;
    const qint64 left = lineFreeMs_ - clock_.elapsed();
    if (left > 0) {
        lineTime_->start(int(left));
        return;
    }
    endFrame();
}

void WinSerialLink::endFrame() {
    lineTime_->stop();
    if (!isOpen())
        discardWaiting(); // a frame for a closed port is dropped without a word
    finishFrame();
}

void WinSerialLink::checkPort() {
    if (!io_->open())
        return;
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(io_->port, &errors, &status)) {
        portFailed(::GetLastError());
        return;
    }
    DWORD lines = 0;
    if (!::GetCommModemStatus(io_->port, &lines) && ::GetLastError() != ERROR_NOT_SUPPORTED)
        portFailed(::GetLastError());
}

// The device went away: close, say so once, and watch for it.
void WinSerialLink::portFailed(unsigned long error) {
    error_ = systemError(error);
    closePort();
    endFrame();
    watch_->start();
    if (!lost_) {
        lost_ = true;
        emit lost(error_);
    }
}

void WinSerialLink::lookForLostPort() {
    // An adapter that comes back is listed again before it can be opened; a
    // port the system does not list (a device by its name) is simply tried.
    const QStringList listed = systemPorts();
    const bool listable = name_.startsWith(QLatin1String("COM"), Qt::CaseInsensitive);
    if (listable && !listed.isEmpty() && !listed.contains(name_, Qt::CaseInsensitive))
        return;
    if (!openPort(name_))
        return;
    watch_->stop();
    emit back();
}

} // namespace qav::link
