#pragma once
// The serial port as the console uses it: a port number, a settings string,
// an open state, a receive buffer, output, input, an event kind and one
// communication event raised on the owner's thread.

#include <QByteArray>
#include <QObject>
#include <QString>

class QSerialPort;

namespace qav::link {

class SerialPortService : public QObject {
    Q_OBJECT
public:
    enum CommEvent : int { EvNone = 0, EvReceive = 2 };
    // Received bytes wait here until input() takes them; beyond this many the
    // newest are dropped (an overrun) rather than letting the buffer grow.
    static constexpr qsizetype kReceiveCapacity = 64 * 1024;

    explicit SerialPortService(QObject* parent = nullptr);
    ~SerialPortService() override;

    void setCommPort(int number); // 1 .. 20
    int commPort() const { return commPort_; }
    bool setSettings(const QString& settings); // "9600,N,8,1"; applies at once when open
    qint32 baudRate() const { return baud_; }
    QString settings() const { return settings_; }
    // Recorded as the console sets it. Replies are kept up to
    // kReceiveCapacity whatever the size, so none is lost between two events.
    void setInBufferSize(int size);
    int inBufferSize() const { return inBufferSize_; }

    bool portOpen() const;
    // Opens the port chosen by commPort(); false (with errorString()) when the
    // port does not exist, is in use, or cannot be configured.
    bool open();
    void close();
    QString errorString() const { return error_; }
    QString portName() const; // the device the open port uses
    qint64 droppedBytes() const { return dropped_; }

    void output(const QByteArray& bytes); // queues every byte, in order
    QByteArray input();                   // returns and removes everything waiting
    int commEvent() const { return commEvent_; }

    // Where COMn is looked for: a directory holding an entry named COMn (a
    // link to a tty or to an emulator's pseudo-terminal); defaults to the
    // current directory.
    // systemPorts: whether to fall back on the ports the system reports.
    static QString resolvePortName(int number, const QString& directory = QString(),
                                   bool systemPorts = true);
    // Off: only COMn entries of the current directory are used (hermetic tests).
    void setSystemPortsUsed(bool used) { systemPortsUsed_ = used; }

signals:
    void onComm();     // MSComm1_OnComm: bytes were received
    void deviceLost(); // the open port's device vanished; the port is closed

private:
    bool applySettings();
    void readAvailable();
    void handleError(int error);
    bool lineHungUp() const;

    static constexpr int kIoErrorsBeforeGone = 16;
    QSerialPort* port_ = nullptr;
    QByteArray received_;
    qint64 dropped_ = 0;
    qint32 baud_ = 9600;
    char parity_ = 'N';
    int dataBits_ = 8;
    int stopBits_ = 1; // 1, 2, or 15 for 1.5
    bool lost_ = false;
    bool systemPortsUsed_ = true;
    int ioErrorsInARow_ = 0;
    int commPort_ = 1;
    QString settings_ = QStringLiteral("9600,N,8,1");
    int inBufferSize_ = 1024;
    int commEvent_ = EvNone;
    QString error_;
};

} // namespace qav::link
