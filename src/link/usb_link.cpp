#include "link/usb_packet_sender.h"

#include <QTimer>

namespace qav::link {

UsbPacketSender::UsbPacketSender(HidBridge* bridge, QObject* parent)
    : QObject(parent), bridge_(bridge), timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &UsbPacketSender::onTimeout);
}

void UsbPacketSender::send(const QByteArray& frame) {
    if (frame.isEmpty())
        return;
    queue_.enqueue(frame);
    pump();
}

void UsbPacketSender::dropWaiting() {
    const qsizetype dropped = queue_.size();
    queue_.clear();
    for (qsizetype i = 0; i < dropped; ++i)
        emit workLogLine(QString::fromUtf8(kDroppedLine));
    // A new frame was only waiting for the answer to the last one.
    if (state_ == State::AwaitingFrameAck && !frameInFlight_) {
        timer_->stop();
        setState(State::Idle);
    }
}

UsbPacketSender::Ack UsbPacketSender::acknowledge() {
    switch (state_) {
    case State::AwaitingAck:
        timer_->stop();
        ++next_;
        setState(State::Idle);
        pump();
        return Ack::FullPacket;
    case State::AwaitingFrameAck:
        timer_->stop();
        frameAckExpected_ = false;
        setState(State::Idle);
        pump();
        return Ack::Other;
    case State::Idle:
        frameAckExpected_ = false;
        return Ack::Other;
    }
    return Ack::Other;
}

bool UsbPacketSender::frameAckOutstanding() const {
    return frameAckExpected_ && frameAckClock_.elapsed() < ackTimeoutMs_;
}

void UsbPacketSender::pump() {
    // Signals emitted below may hand over more frames; the loop that is
    // already running picks them up.
    if (pumping_)
        return;
    pumping_ = true;
    while (state_ == State::Idle) {
        if (!frameInFlight_) {
            if (queue_.isEmpty())
                break;
            if (frameAckOutstanding()) {
                setState(State::AwaitingFrameAck);
                timer_->start(int(ackTimeoutMs_ - frameAckClock_.elapsed()));
                break;
            }
            frameAckExpected_ = false;
            packets_ = protocol::cutIntoUsbPackets(queue_.dequeue());
            next_ = 0;
            frameInFlight_ = true;
        }
        writeNextPacket();
    }
    pumping_ = false;
}

bool UsbPacketSender::writeNextPacket() {
    // The bridge may have been unplugged and plugged in again since the last
    // report: search before every one.
    if (!bridge_ || !bridge_->find()) {
        emit bridgeNotFound();
        emit workLogLine(QString::fromUtf8(kNotConnectedLine));
        finishFrame(false);
        return false;
    }
    const protocol::UsbPacket& packet = packets_[next_];
    if (!bridge_->writeReport(packet.report)) {
        emit workLogLine(QString::fromUtf8(kWriteFailedLine));
        finishFrame(false);
        return false;
    }
    if (packet.kind == protocol::UsbPacketKind::Full) {
        setState(State::AwaitingAck);
        timer_->start(ackTimeoutMs_);
        return true;
    }
    frameAckExpected_ = true;
    frameAckClock_.start();
    finishFrame(true);
    return false;
}

void UsbPacketSender::finishFrame(bool complete) {
    frameInFlight_ = false;
    packets_.clear();
    next_ = 0;
    emit frameFinished(complete);
}

void UsbPacketSender::onTimeout() {
    switch (state_) {
    case State::AwaitingAck:
        setState(State::Idle);
        emit workLogLine(QString::fromUtf8(kAckTimeoutLine));
        finishFrame(false);
        break;
    case State::AwaitingFrameAck:
        // The answer to the previous frame's last packet never came; that
        // frame was written whole, so just go on.
        frameAckExpected_ = false;
        setState(State::Idle);
        break;
    case State::Idle:
        return;
    }
    pump();
}

void UsbPacketSender::setState(State state) {
    const bool wasPending = ackPending();
    state_ = state;
    if (wasPending != ackPending())
        emit ackPendingChanged(ackPending());
}

} // namespace qav::link
