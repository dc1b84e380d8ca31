#pragma once
// The USB link: frames go to the bridge as 33-byte reports, paced by the
// bridge's acknowledgement 0x5E, and the bridge's input reports come back.
// Nothing waits on the caller's thread: each wait for an acknowledgement is a
// state with a time limit.
//
//   Idle ──frame──> search, write ──full──> AwaitingPacketAck ──0x5E──> next packet
//                                │                        └──time limit──> frame given up
//                                └─last/short──> AwaitingFrameAck ──0x5E or time limit──> Idle
//
// The link takes the bridge's acknowledgements itself. What it passes on is
// the replies (received()) and, for each frame, that the bridge has taken it
// whole (frameTaken()), which is what moves a long text on. A frame handed
// over while one is under way, or while the last one's acknowledgement is
// still due, waits its turn, so the packets of two frames never interleave
// and each 0x5E answers the packet it belongs to.
//
// When the bridge cannot be read any more, the link says lost() and searches
// for it every kWatchIntervalMs until it is back().

#include "link/hid_bridge.h"
#include "link/link.h"
#include "protocol/usb_packets.h"

#include <QByteArray>
#include <QQueue>
#include <QTimer>
#include <vector>

namespace qav::link {

class UsbLink : public Link {
    Q_OBJECT
public:
    // The bridge answers a packet within a few milliseconds (its handshake
    // is about 20 ms at worst). Half a second without an answer means it is
    // gone or has lost the packet.
    static constexpr int kDefaultAckTimeoutMs = 500;
    static constexpr int kWatchIntervalMs = 1000;

    // Work-log lines (without line break).
    static constexpr const char* kNotConnectedLine = "操作失败请先联接";
    static constexpr const char* kAckTimeoutLine = "操作失败：等待F320应答超时，本帧已放弃";
    static constexpr const char* kWriteFailedLine = "操作失败：写入F320失败，本帧已放弃";

    // bridge: hidapi in the program, the bridge emulator in tests; none
    // means no bridge is ever found. The link does not own it.
    explicit UsbLink(HidBridge* bridge = nullptr, QObject* parent = nullptr);

    void setBridge(HidBridge* bridge);
    void setAckTimeout(int milliseconds) { ackTimeoutMs_ = milliseconds; }

    bool open() override; // searches for the bridge
    void close() override {}
    bool isOpen() const override;
    void stopWatching() override { watch_.stop(); }
    bool watching() const { return watch_.isActive(); }

    void writeFrame(QByteArrayView frame) override;
    // The frame whose packets have begun goes on to its end: the bridge
    // passes each packet on as it comes, and a frame cut short would swallow
    // the bytes of the next.
    void dropWaiting() override;
    bool busy() const override { return state_ == State::AwaitingPacketAck || !queue_.isEmpty(); }
    bool frameWaiting() const override { return !queue_.isEmpty(); }
    // True while a full packet waits for its acknowledgement.
    bool ackPending() const { return state_ == State::AwaitingPacketAck; }

signals:
    // A report found no bridge; the rest of that frame is dropped.
    void bridgeNotFound();
    // The bridge took a frame whole (its last packet's 0x5E, or a 0x5E that
    // no packet awaited); acknowledged is false when the time limit passed
    // without one.
    void frameTaken(bool acknowledged);
    // Every report as it crosses the link, for the capture.
    void reportWritten(const QByteArray& report);
    void reportRead(const QByteArray& report);

private:
    enum class State { Idle, AwaitingPacketAck, AwaitingFrameAck };

    void onReport(const QByteArray& report);
    void onAcknowledged();
    void onTimeout();
    void lookForBridge();
    void pump();
    void writeNextPacket();
    void giveUpFrame(const char* line);

    HidBridge* bridge_ = nullptr;
    int ackTimeoutMs_ = kDefaultAckTimeoutMs;
    State state_ = State::Idle;
    QQueue<QByteArray> queue_;
    std::vector<protocol::UsbPacket> packets_; // of the frame under way; empty when none
    QByteArray frame_;                         // the frame under way
    std::size_t next_ = 0;
    bool pumping_ = false; // pump() is running; a frame handed over meanwhile is picked up there
    QTimer timer_;
    QTimer watch_;
};

} // namespace qav::link
