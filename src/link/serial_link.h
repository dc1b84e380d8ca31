#pragma once
// A serial port as the console needs it, whatever drives it: a port number
// or a device path, line settings, an open state, received bytes held back
// on request, and the bytes of frames not yet out. The implementations
// (QSerialPort here, the Win32 communications API on Windows) come from the
// link factory.
//
// What every serial link shares lives here: the line settings as text and
// parsed, the port number, and the time a frame takes on the line.
//
// Pacing, which each implementation keeps: the next frame is handed to the
// port only once the one before has left the port and its time on the line
// (frameTimeMs) has passed. Replies are held for the reply pause
// (protocol::replyPauseMs at the line speed) and delivered together with
// replyBytes().

#include "link/link.h"

#include <QString>

namespace qav::link {

class SerialLink : public Link {
    Q_OBJECT
public:
    // COM1 .. COM20.
    static constexpr int kPortCount = 20;

    using Link::Link;

    LinkKind kind() const final { return LinkKind::Serial; }

    void setCommPort(int number) { commPort_ = number; } // 1 .. 20; open() opens it
    int commPort() const { return commPort_; }
    // "9600,N,8,1": baud, parity letter (N E O M S), data bits (5 .. 8), stop
    // bits (1, 1.5, 2). False when the text is not such settings (the old
    // ones stay) or the open port refused them. Applies at once when open.
    bool setSettings(const QString& settings);
    QString settings() const; // as taken in: "4800,E,7,2"
    qint32 baudRate() const { return baud_; }

    // Opens a device by its path instead of a port number.
    virtual bool openDevice(const QString& path) = 0;
    virtual QString portName() const = 0; // the device the open port uses
    // Why the last open failed or the device went away.
    virtual QString errorString() const = 0;
    // While held, received bytes stay in the port and nothing is delivered;
    // after release they go out with the next arrival.
    virtual void setReceiveHeld(bool held) = 0;
    // Bytes of frames that have not left the console yet, now and at most.
    virtual qint64 backlog() const = 0;
    virtual qint64 largestBacklog() const = 0;
    // Off: only COMn entries of the current directory are used, never the
    // machine's own ports (hermetic tests).
    virtual void setSystemPortsUsed(bool used) = 0;

protected:
    // Gives the open port the settings taken in; false (with errorString())
    // when it refuses them.
    virtual bool applySettings() = 0;
    // The time `bytes` take on the line: start, data, parity and stop bits of
    // each character at the line's speed, rounded up to whole milliseconds.
    int frameTimeMs(qsizetype bytes) const;

    qint32 baud_ = 9600;
    char parity_ = 'N';
    int dataBits_ = 8;
    int stopBits_ = 1; // 1, 2, or 15 for 1.5

private:
    int commPort_ = 1;
};

} // namespace qav::link
