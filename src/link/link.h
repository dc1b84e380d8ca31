#pragma once
// One road to the chip, as the console uses it: open, close, write a frame,
// and what comes back. Two links implement it, the serial port and the USB
// bridge (link_factory.h makes them); frame dispatch writes through whichever
// is active, and the session listens to both, since a serial port stays open
// and keeps answering while the USB link is active.
//
// A link takes one frame at a time. Frames handed over while it is still busy
// with one wait their turn here, so no queue grows outside it, and
// dropWaiting() can take back what has not begun. The queue is the same for
// every link; a link only says how a frame begins (startFrame) and when it
// has finished with it (finishFrame).
//
// A link reports events that mean the same on every link; it words no log
// line. Whoever listens decides what to say.

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QQueue>
#include <QString>

namespace qav::link {

enum class LinkKind { Serial, Usb };

// Why a frame did not go out, or not whole.
enum class DropReason {
    Stopped,      // taken back by dropWaiting() before it began
    NotConnected, // no device to write to
    AckTimeout,   // the far end did not acknowledge a part of it in time
    WriteFailed,  // the device refused the write
};

// Bytes crossing a link, for the capture.
enum class Traffic {
    SerialIn,  // a chunk the serial port delivered, before the reply pause
    ReportOut, // an output report written to the bridge
    ReportIn,  // an input report read from the bridge
};

class Link : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Link() override = default;

    virtual LinkKind kind() const = 0;
    // The serial link opens the chosen port; the USB link searches for the
    // bridge. True when open.
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // A link whose device went away watches for it to come back; choosing
    // the other link ends the watch.
    virtual void stopWatching() = 0;
    // How long the far end has to acknowledge a frame; a link without
    // acknowledgements has nothing to time.
    virtual void setAckTimeout(int milliseconds) { Q_UNUSED(milliseconds); }

    // Begins the frame, or queues it behind the frame under way. A link
    // that takes no frames now (a closed serial port) drops it without a word.
    void writeFrame(QByteArrayView frame);
    // Frames that have not begun are not sent; each gets
    // frameDropped(Stopped). The frame under way goes out whole: a frame cut
    // short would make the chip read the bytes of the next as its rest.
    void dropWaiting();
    // A frame is under way or waits its turn.
    bool busy() const { return underWay_ || !waiting_.isEmpty(); }
    // A frame waits its turn behind the one under way.
    bool frameWaiting() const { return !waiting_.isEmpty(); }

signals:
    // The chip's reply bytes: on the serial link the bytes of one answer, on
    // the USB link the reply byte of one input report.
    void replyBytes(const QByteArray& bytes);
    // A frame begins to go out: the moment it is handed to the device.
    void frameWritten(const QByteArray& frame);
    // The link has finished with the frame under way (written whole, or
    // given up).
    void frameDone();
    // The far end acknowledged a whole frame (also when nobody waited for it).
    void frameTaken();
    // A frame was written whole, but its acknowledgement did not come in time.
    void ackExpired();
    void frameDropped(qav::link::DropReason reason);
    // Received bytes were dropped because nobody took them in time; sent once
    // per burst, before the delivery that follows it.
    void inputOverrun(qint64 bytes);
    // Every chunk or report as it crosses the link.
    void traffic(qav::link::Traffic direction, const QByteArray& bytes);
    // The open device went away; reason is the system's. The link watches
    // for it and says back() when it is open again.
    void lost(const QString& reason);
    void back();

protected:
    // Begins to send the frame just taken from the queue. The link calls
    // finishFrame() once it has finished with it, at once or later.
    virtual void startFrame(const QByteArray& frame) = 0;
    // Whether writeFrame() queues frames at all.
    virtual bool takesFrames() const { return isOpen(); }
    // Whether the next frame may begin once none is under way (the bridge
    // still owes the last frame's acknowledgement).
    virtual bool readyForNext() const { return true; }

    // Done with the frame under way: frameDone(), and the next one begins.
    void finishFrame();
    // Begins the next waiting frame when nothing holds it back.
    void takeNext();
    // Forgets the waiting frames without a word (the port has closed).
    void discardWaiting() { waiting_.clear(); }
    bool frameUnderWay() const { return underWay_; }
    qint64 waitingBytes() const;

private:
    QQueue<QByteArray> waiting_;
    bool underWay_ = false;
    bool starting_ = false; // takeNext() runs; frames handed over meanwhile are picked up there
};

} // namespace qav::link
