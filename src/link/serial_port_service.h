#pragma once
// The serial link: a port number, line settings, an open state, frames out,
// and the received bytes pushed to the owner.
//
// Bytes that arrive are held for a short pause (protocol::replyPauseMs at the
// line speed), so that the bytes of one answer are handed over together, then
// delivered with received() on the owner's thread.
//
// Frames go out one at a time, at the pace of the line: the next frame is
// handed to the port only once the one before has left the port's buffer and
// the time its bytes take on the line at the chosen speed has passed. So the
// console never holds more than one frame in the port, nothing piles up in the
// system's queue however fast frames come, and a stop goes out right after
// the frame under way.

#include "link/link.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QString>

class QSerialPort;
class QTimer;

namespace qav::link {

// A frame longer than this leaves the serial port in two writes: its first
// kSerialSplitThreshold bytes, then the rest.
inline constexpr qsizetype kSerialSplitThreshold = 2000;

class SerialPortService : public Link {
    Q_OBJECT
public:
    // COM1 .. COM20.
    static constexpr int kPortCount = 20;
    // Received bytes wait here until they are delivered; beyond this many the
    // newest are dropped (an overrun) rather than letting the buffer grow.
    static constexpr qsizetype kReceiveCapacity = 64 * 1024;
    // How often a port whose device vanished is looked for again.
    static constexpr int kWatchIntervalMs = 500;

    explicit SerialPortService(QObject* parent = nullptr);
    ~SerialPortService() override;

    void setCommPort(int number); // 1 .. 20
    int commPort() const { return commPort_; }
    bool setSettings(const QString& settings); // "9600,N,8,1"; applies at once when open
    qint32 baudRate() const { return baud_; }
    QString settings() const; // as it was set

    bool portOpen() const;
    bool isOpen() const override { return portOpen(); }
    // Opens the port chosen by commPort(); false (with errorString()) when the
    // port does not exist, is in use, or cannot be configured.
    bool open() override;
    // Opens a device by its path instead of a port number.
    bool openDevice(const QString& path);
    void close() override;

    // After the open port's device vanished, the same port (the same COMn
    // entry in the folder, or the same system port) is looked for until it
    // comes back, and then opened again with the same settings. An open() or
    // close() by the owner ends the watch.
    bool watching() const;
    void stopWatching() override;
    QString errorString() const { return error_; }
    QString portName() const; // the device the open port uses
    qint64 droppedBytes() const { return dropped_; }

    // Over a closed port the frame is dropped without a word.
    void writeFrame(QByteArrayView frame) override;
    void dropWaiting() override;
    bool busy() const override { return inFlight_ || !queue_.isEmpty(); }
    bool frameWaiting() const override { return !queue_.isEmpty(); }
    // Bytes of frames that have not left the console yet, now and at most.
    qint64 backlog() const;
    qint64 largestBacklog() const { return largestBacklog_; }

    // While held, received bytes stay in the port (up to kReceiveCapacity)
    // and nothing is delivered; after release they go out with the next
    // arrival.
    void setReceiveHeld(bool held);
    bool receiveHeld() const { return held_; }

    // Where COMn is looked for: a directory holding an entry named COMn (a
    // link to a tty or to an emulator's pseudo-terminal); defaults to the
    // current directory.
    // systemPorts: whether to fall back on the ports the system reports.
    static QString resolvePortName(int number, const QString& directory = QString(),
                                   bool systemPorts = true);
    // Off: only COMn entries of the current directory are used (hermetic tests).
    void setSystemPortsUsed(bool used) { systemPortsUsed_ = used; }

signals:
    // Bytes as they are read from the port, before the reply pause and
    // whether or not they are held.
    void bytesRead(const QByteArray& bytes);
    // Received bytes were dropped because nobody took them in time; sent once
    // per burst, before the delivery that follows it.
    void overrun(qint64 bytes);

private:
    bool openPort(const QString& name);
    bool applySettings();
    void pump();
    void onBytesWritten();
    void finishFrame();
    int frameTimeMs(qsizetype bytes) const;
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
    QQueue<QByteArray> queue_;   // frames waiting their turn
    bool inFlight_ = false;      // a frame is in the port or on the line
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
    qint32 baud_ = 9600;
    char parity_ = 'N';
    int dataBits_ = 8;
    int stopBits_ = 1; // 1, 2, or 15 for 1.5
    bool lost_ = false;
    bool systemPortsUsed_ = true;
    int ioErrorsInARow_ = 0;
    bool held_ = false;
    int commPort_ = 1;
    QString error_;
};

} // namespace qav::link
