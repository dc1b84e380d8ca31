#pragma once
// One road to the chip, as the console uses it: open, close, write a frame,
// and what comes back. Two links implement it, the serial port and the USB
// bridge; frame dispatch writes through whichever is active, and the session
// listens to both, since a serial port stays open and keeps answering while
// the USB link is active.
//
// A link takes one frame at a time. Frames handed over while it is still busy
// with one wait their turn inside the link, so no queue grows outside it, and
// dropWaiting() can take back what has not begun.

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

namespace qav::link {

class Link : public QObject {
    Q_OBJECT
public:
    // The line each frame gets that a stop took back before it went out.
    static constexpr const char* kDroppedLine = "操作失败：已停止，本帧未发出";

    using QObject::QObject;
    ~Link() override = default;

    // The serial link opens the chosen port; the USB link searches for the
    // bridge. True when open.
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // A link whose device went away watches for it to come back; choosing
    // the other link ends the watch.
    virtual void stopWatching() = 0;

    // Writes the frame, or queues it behind the frame under way.
    virtual void writeFrame(QByteArrayView frame) = 0;
    // Frames that have not begun are not sent; each gets kDroppedLine. The
    // frame under way goes out whole: a frame cut short would make the chip
    // read the bytes of the next as its rest.
    virtual void dropWaiting() = 0;
    // A frame is under way or waits its turn.
    virtual bool busy() const = 0;
    // A frame waits its turn behind the one under way.
    virtual bool frameWaiting() const = 0;

signals:
    // What the far end sent: on the serial link the bytes of one answer, on
    // the USB link one input report (report ID first) that carries a reply.
    void received(const QByteArray& bytes);
    // The open device went away; reason is the system's. The link watches
    // for it and says back() when it is open again.
    void lost(const QString& reason);
    void back();
    // A frame begins to go out: the moment it is handed to the device.
    void frameWritten(const QByteArray& frame);
    // The link has finished with the frame under way (written whole, or
    // given up) and takes the next.
    void frameDone();
    // A line for the work log, without line break.
    void workLogLine(const QString& line);
};

} // namespace qav::link
