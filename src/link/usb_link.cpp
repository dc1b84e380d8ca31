#include "link/usb_link.h"

#include "protocol/frame.h"

namespace qav::link {

UsbLink::UsbLink(HidBridge* bridge, QObject* parent) : Link(parent) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &UsbLink::onTimeout);
    watch_.setInterval(kWatchIntervalMs);
    connect(&watch_, &QTimer::timeout, this, &UsbLink::lookForBridge);
    setBridge(bridge);
}

void UsbLink::setBridge(HidBridge* bridge) {
    if (bridge_)
        disconnect(bridge_, nullptr, this, nullptr);
    bridge_ = bridge;
    if (!bridge_)
        return;
    connect(bridge_, &HidBridge::inputReport, this, &UsbLink::onReport);
    connect(bridge_, &HidBridge::readFailed, this, [this](const QString& reason) {
        watch_.start();
        emit lost(reason);
    });
}

bool UsbLink::open() {
    if (!bridge_ || !bridge_->find())
        return false;
    watch_.stop();
    return true;
}

bool UsbLink::isOpen() const {
    return bridge_ && bridge_->isOpen();
}

// The reader has stopped: search until the bridge is back, so that its
// replies are read again without waiting for a write.
void UsbLink::lookForBridge() {
    if (!bridge_ || !bridge_->find())
        return;
    watch_.stop();
    emit back();
}

void UsbLink::onReport(const QByteArray& report) {
    emit reportRead(report);
    if (report.size() >= 2 && std::uint8_t(report[1]) == protocol::reply::kBridgeAck)
        onAcknowledged();
    else
        emit received(report);
}

void UsbLink::onAcknowledged() {
    switch (state_) {
    case State::AwaitingPacketAck:
        timer_.stop();
        ++next_;
        state_ = State::Idle;
        pump();
        return;
    case State::AwaitingFrameAck:
        timer_.stop();
        state_ = State::Idle;
        emit frameTaken(true);
        pump();
        return;
    case State::Idle:
        // Nobody waited for it; it still says the bridge is ready.
        emit frameTaken(true);
        return;
    }
}

void UsbLink::onTimeout() {
    switch (state_) {
    case State::AwaitingPacketAck:
        giveUpFrame(kAckTimeoutLine);
        break;
    case State::AwaitingFrameAck:
        // The frame was written whole; its answer did not come.
        state_ = State::Idle;
        emit frameTaken(false);
        break;
    case State::Idle:
        return;
    }
    pump();
}

void UsbLink::writeFrame(QByteArrayView frame) {
    if (frame.isEmpty())
        return;
    queue_.enqueue(frame.toByteArray());
    pump();
}

void UsbLink::dropWaiting() {
    const qsizetype dropped = queue_.size();
    queue_.clear();
    for (qsizetype i = 0; i < dropped; ++i)
        emit workLogLine(QString::fromUtf8(kDroppedLine));
}

void UsbLink::pump() {
    // Signals emitted below may hand over more frames; the loop that is
    // already running picks them up.
    if (pumping_)
        return;
    pumping_ = true;
    while (state_ == State::Idle) {
        if (packets_.empty()) {
            if (queue_.isEmpty())
                break;
            frame_ = queue_.dequeue();
            packets_ = protocol::cutIntoUsbPackets(frame_);
            next_ = 0;
        }
        writeNextPacket();
    }
    pumping_ = false;
}

void UsbLink::writeNextPacket() {
    // The bridge may have been unplugged and plugged in again since the last
    // report: search before every one.
    if (!bridge_ || !bridge_->find()) {
        emit bridgeNotFound();
        giveUpFrame(kNotConnectedLine);
        return;
    }
    const protocol::UsbPacket& packet = packets_[next_];
    if (!bridge_->writeReport(packet.report)) {
        giveUpFrame(kWriteFailedLine);
        return;
    }
    if (next_ == 0)
        emit frameWritten(frame_);
    emit reportWritten(QByteArray(reinterpret_cast<const char*>(packet.report.data()),
                                  qsizetype(packet.report.size())));
    timer_.start(ackTimeoutMs_);
    if (packet.kind == protocol::UsbPacketKind::Full) {
        state_ = State::AwaitingPacketAck;
        return;
    }
    packets_.clear();
    state_ = State::AwaitingFrameAck;
    emit frameDone();
}

void UsbLink::giveUpFrame(const char* line) {
    timer_.stop();
    packets_.clear();
    state_ = State::Idle;
    emit workLogLine(QString::fromUtf8(line));
    emit frameDone();
}

} // namespace qav::link
