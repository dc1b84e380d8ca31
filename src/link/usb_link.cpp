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

// Byte 1 of an input report is the bridge's acknowledgement or the chip's
// reply; a report too short to hold one carries nothing.
void UsbLink::onReport(const QByteArray& report) {
    emit traffic(Traffic::ReportIn, report);
    if (report.size() < 2)
        return;
    if (std::uint8_t(report[1]) == protocol::reply::kBridgeAck)
        onAcknowledged();
    else
        emit replyBytes(report.mid(1, 1));
}

void UsbLink::onAcknowledged() {
    switch (state_) {
    case State::AwaitingPacketAck:
        timer_.stop();
        ++next_;
        state_ = State::Idle;
        writeNextPacket();
        return;
    case State::AwaitingFrameAck:
        timer_.stop();
        state_ = State::Idle;
        emit frameTaken();
        takeNext();
        return;
    case State::Idle:
        // Nobody waited for it; it still says the bridge is ready.
        emit frameTaken();
        return;
    }
}

void UsbLink::onTimeout() {
    switch (state_) {
    case State::AwaitingPacketAck:
        giveUpFrame(DropReason::AckTimeout);
        return;
    case State::AwaitingFrameAck:
        // The frame was written whole; its answer did not come.
        state_ = State::Idle;
        emit ackExpired();
        takeNext();
        return;
    case State::Idle:
        return;
    }
}

void UsbLink::startFrame(const QByteArray& frame) {
    frame_ = frame;
    packets_ = protocol::cutIntoUsbPackets(frame_);
    next_ = 0;
    writeNextPacket();
}

void UsbLink::writeNextPacket() {
    // The bridge may have been unplugged and plugged in again since the last
    // report: search before every one.
    if (!bridge_ || !bridge_->find()) {
        giveUpFrame(DropReason::NotConnected);
        return;
    }
    const protocol::UsbPacket& packet = packets_[next_];
    if (!bridge_->writeReport(packet.report)) {
        giveUpFrame(DropReason::WriteFailed);
        return;
    }
    if (next_ == 0)
        emit frameWritten(frame_);
    emit traffic(Traffic::ReportOut, QByteArray(reinterpret_cast<const char*>(packet.report.data()),
                                                qsizetype(packet.report.size())));
    timer_.start(ackTimeoutMs_);
    if (packet.kind == protocol::UsbPacketKind::Full) {
        state_ = State::AwaitingPacketAck;
        return;
    }
    packets_.clear();
    state_ = State::AwaitingFrameAck;
    finishFrame();
}

void UsbLink::giveUpFrame(DropReason reason) {
    timer_.stop();
    packets_.clear();
    state_ = State::Idle;
    emit frameDropped(reason);
    finishFrame();
}

} // namespace qav::link
