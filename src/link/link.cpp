#include "link/link.h"

namespace qav::link {

void Link::writeFrame(QByteArrayView frame) {
    if (frame.isEmpty() || !takesFrames())
        return;
    waiting_.enqueue(frame.toByteArray());
    takeNext();
}

void Link::dropWaiting() {
    const qsizetype dropped = waiting_.size();
    waiting_.clear();
    for (qsizetype i = 0; i < dropped; ++i)
        emit frameDropped(DropReason::Stopped);
}

void Link::takeNext() {
    // Signals emitted while a frame begins may hand over more frames or
    // finish the frame at once; the loop that is already running picks up
    // what comes next.
    if (starting_)
        return;
    starting_ = true;
    while (!underWay_ && !waiting_.isEmpty() && readyForNext()) {
        underWay_ = true;
        startFrame(waiting_.dequeue());
    }
    starting_ = false;
}

void Link::finishFrame() {
    if (!underWay_)
        return;
    underWay_ = false;
    emit frameDone();
    takeNext();
}

qint64 Link::waitingBytes() const {
    qint64 bytes = 0;
    for (const QByteArray& frame : waiting_)
        bytes += frame.size();
    return bytes;
}

} // namespace qav::link
