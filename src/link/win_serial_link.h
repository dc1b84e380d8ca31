#pragma once
// The serial link on Windows, on the Win32 communications API: the port as
// \\.\COMn (the only form that reaches COM10 and above), opened for
// overlapped I/O, so that a read waiting for the chip never holds up a write.
// One read is always pending; its event and the write's are watched by the
// event loop (QWinEventNotifier), so everything runs on the owner's thread.
//
// Every open sets the whole line (DCB: speed, data bits, parity, stop bits,
// no flow control) and the time-outs, whatever the previous program left:
// a read returns 10 ms after the last byte of a burst, and never waits with
// a MAXDWORD time-out, which would pend for ever.
//
// Pacing, reply pause, receive capacity and overrun are those of the
// SerialLink: a frame is done once the system has sent it and its time on
// the line has passed; replies are delivered after the reply pause.
//
// A pulled USB adapter does not always fail a pending read, so the open port
// is checked every kCheckIntervalMs (ClearCommError failing means it is
// gone). Ports without modem lines (a pseudo-terminal under Wine) fail the
// modem calls with ERROR_NOT_SUPPORTED; that is not a lost port.

#include "link/serial_link.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <memory>

class QTimer;
class QWinEventNotifier;
struct _OVERLAPPED;

namespace qav::link {

class WinSerialLink : public SerialLink {
    Q_OBJECT
public:
    static constexpr qsizetype kReceiveCapacity = 64 * 1024;
    static constexpr int kWatchIntervalMs = 500;
    static constexpr int kCheckIntervalMs = 500;
    static constexpr qsizetype kSplitThreshold = 2000;

    explicit WinSerialLink(QObject* parent = nullptr);
    ~WinSerialLink() override;

    bool open() override;
    bool openDevice(const QString& path) override;
    void close() override;
    bool isOpen() const override;
    void stopWatching() override;
    bool watching() const;

    QString portName() const override { return name_; }
    QString errorString() const override { return error_; }
    void setReceiveHeld(bool held) override;
    qint64 backlog() const override;
    qint64 largestBacklog() const override { return largestBacklog_; }
    void setSystemPortsUsed(bool) override {}

    // The COM ports the system lists (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM),
    // as "COMn", in the order of n.
    static QStringList systemPorts();
    // "COM7" and "\\.\COM12" as the device name CreateFile takes.
    static QString deviceName(const QString& port);

protected:
    void startFrame(const QByteArray& frame) override;
    bool applySettings() override;

private:
    struct Io;
    bool openPort(const QString& name);
    void closePort();
    void startRead();
    bool finished(_OVERLAPPED& io, bool& pending, QWinEventNotifier* notifier,
                  unsigned long& bytes);
    void readDone();
    void writeNext();
    void writeDone();
    void lineTimePassed();
    void endFrame();
    void deliver();
    void checkPort();
    void portFailed(unsigned long error);
    void lookForLostPort();

    std::unique_ptr<Io> io_;
    QWinEventNotifier* readNotifier_ = nullptr;
    QWinEventNotifier* writeNotifier_ = nullptr;
    QTimer* replyPause_ = nullptr;
    QTimer* lineTime_ = nullptr;
    QTimer* check_ = nullptr;
    QTimer* watch_ = nullptr;
    QElapsedTimer clock_;
    qint64 lineFreeMs_ = 0;
    qint64 largestBacklog_ = 0;
    QByteArray writing_;     // the part of the frame the system is writing
    QByteArray nextPart_;    // the rest of a frame split in two
    qint64 unsentBytes_ = 0; // of the frame under way, not yet written
    QByteArray received_;
    qint64 droppedInBurst_ = 0;
    QString name_;
    QString error_;
    bool held_ = false;
    bool lost_ = false;
};

} // namespace qav::link
