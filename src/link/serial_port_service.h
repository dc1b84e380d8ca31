#pragma once
// The serial link on QSerialPort: a port number, line settings, an open
// state, frames out, and the received bytes pushed to the owner.
//
// Bytes that arrive are held for a short pause (protocol::replyPauseMs at the
// line speed), so that the bytes of one answer are handed over together, then
// delivered with replyBytes() on the owner's thread.
//
// Frames go out one at a time, at the pace of the line: the next frame is
// handed to the port only once the one before has left the port's buffer and
// the time its bytes take on the line at the chosen speed has passed. So the
// console never holds more than one frame in the port, nothing piles up in the
// system's queue however fast frames come, and a stop goes out right after
// the frame under way.

#include "link/serial_link.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QSerialPort;
class QTimer;

namespace qav::link {

// A frame longer than this leaves the serial port in two writes: its first
// kSerialSplitThreshold bytes, then the rest.
inline constexpr qsizetype kSerialSplitThreshold = 2000;

class SerialPortService : public SerialLink {
    Q_OBJECT
public:
    // Received bytes wait here until they are delivered; beyond this many the
    // newest are dropped (an overrun) rather than letting the buffer grow.
    static constexpr qsizetype kReceiveCapacity = 64 * 1024;
    // How often a port whose device vanished is looked for again.
    static constexpr int kWatchIntervalMs = 500;

    explicit SerialPortService(QObject* parent = nullptr);
    ~SerialPortService() override;

    bool portOpen() const;
    bool isOpen() const override { return portOpen(); }
    // Opens the port chosen by commPort(); false (with errorString()) when the
    // port does not exist, is in use, or cannot be configured.
    bool open() override;
    bool openDevice(const QString& path) override;
    void close() override;

    // After the open port's device vanished, the same port (the same COMn
    // entry in the folder, or the same system port) is looked for until it
    // comes back, and then opened again with the same settings. An open() or
    // close() by the owner ends the watch.
    bool watching() const;
    void stopWatching() override;
    QString errorString() const override { return error_; }
    QString portName() const override;
    qint64 droppedBytes() const { return dropped_; }

    qint64 backlog() const override;
    qint64 largestBacklog() const override { return largestBacklog_; }

    // Held, received bytes stay in the port up to kReceiveCapacity.
    void setReceiveHeld(bool held) override;
    bool receiveHeld() const { return held_; }

    // Where COMn is looked for: a directory holding an entry named COMn (a
    // link to a tty or to an emulator's pseudo-terminal); defaults to the
    // current directory.
    // systemPorts: whether to fall back on the ports the system reports.
    static QString resolvePortName(int number, const QString& directory = QString(),
                                   bool systemPorts = true);
    void setSystemPortsUsed(bool used) override { systemPortsUsed_ = used; }

protected:
    // To the port, in one write or, above the split threshold, in two that
    // follow each other at once.
    void startFrame(const QByteArray& frame) override;
    bool applySettings() override;

private:
    bool openPort(const QString& name);
    void onBytesWritten();
    void endFrame();
    void readAvailable();
    void deliver();
    void lookForLostPort();
    static QString folderEntry(int number, const QString& directory);
    void handleError(int error);
    bool lineHungUp() const;

    static constexpr int kIoErrorsBeforeGone = 16;
    QSerialPort* port_ = nullptr;
    QTimer* replyPause_ = nullptr;
    QTimer* watch_ = nullptr;
    QTimer* lineTime_ = nullptr; // until the frame under way has left the line
    QElapsedTimer clock_;
    qint64 lineFreeMs_ = 0; // on clock_: when the line has sent what it was given
    qint64 largestBacklog_ = 0;
    QByteArray received_;
    qint64 dropped_ = 0;
    qint64 droppedInBurst_ = 0;
    QString openedName_;            // what the open port was opened by
    bool openedFromFolder_ = false; // by the COMn entry in the folder
    QString watchedName_;           // the system port watched for; empty: the folder entry
    int watchedNumber_ = 0;
    bool lost_ = false;
    bool systemPortsUsed_ = true;
    int ioErrorsInARow_ = 0;
    bool held_ = false;
    QString error_;
};

} // namespace qav::link
