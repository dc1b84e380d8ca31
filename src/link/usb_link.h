#pragma once
// Sends frames to the USB bridge as 33-byte reports and paces them by the
// bridge's acknowledgement 0x5E. It never waits on the caller's thread: the
// wait for an acknowledgement is a state with a time limit, and the owner
// feeds each 0x5E it reads back in through acknowledge().
//
//   Idle ──send──> search, write ──full──> AwaitingAck ──0x5E──> next packet
//                                │                    └──time limit──> frame given up
//                                └─last/short──> frame done; its own 0x5E is
//                                   still to come, and the next frame waits for it
//
// Frames handed over while one is in flight are queued and sent after it, so
// the packets of two frames never interleave.

#include "link/hid_bridge.h"
#include "protocol/usb_packets.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QString>
#include <vector>

class QTimer;

namespace qav::link {

class UsbPacketSender : public QObject {
    Q_OBJECT
public:
    // The bridge answers a full packet within a few milliseconds (its
    // handshake is about 20 ms at worst). Half a second without an answer
    // means it is gone or has lost the packet.
    static constexpr int kDefaultAckTimeoutMs = 500;

    // Work-log lines (without line break).
    static constexpr const char* kNotConnectedLine = "操作失败请先联接";
    static constexpr const char* kAckTimeoutLine = "操作失败：等待F320应答超时，本帧已放弃";
    static constexpr const char* kWriteFailedLine = "操作失败：写入F320失败，本帧已放弃";
    static constexpr const char* kDroppedLine = "操作失败：已停止，本帧未发出";

    enum class Ack {
        FullPacket, // the awaited answer to a full packet; it released the next packet
        Other,      // the answer to a frame's last or short packet, or one nobody awaited
    };

    explicit UsbPacketSender(HidBridge* bridge = nullptr, QObject* parent = nullptr);

    void setBridge(HidBridge* bridge) { bridge_ = bridge; }
    HidBridge* bridge() const { return bridge_; }
    void setAckTimeout(int milliseconds) { ackTimeoutMs_ = milliseconds; }
    int ackTimeout() const { return ackTimeoutMs_; }

    // Sends the frame now, or after the frames already in flight or queued.
    void send(const QByteArray& frame);
    // Drops the frames that wait their turn, one work-log line each; the
    // frame whose packets have begun goes on to its end, since the bridge
    // passes each packet on to the chip as it comes and a frame cut short
    // would swallow the bytes of the next.
    void dropWaiting();
    // To be called for every 0x5E the bridge returns, in the order received.
    Ack acknowledge();

    // True while a full packet waits for its acknowledgement.
    bool ackPending() const { return state_ == State::AwaitingAck; }
    // True while a frame is being sent or waits its turn.
    bool busy() const { return state_ != State::Idle || !queue_.isEmpty(); }
    qsizetype queuedFrames() const { return queue_.size(); }

signals:
    // A report found no bridge; the rest of that frame is dropped.
    void bridgeNotFound();
    // A line for the work log, without line break.
    void workLogLine(const QString& line);
    void ackPendingChanged(bool pending);
    // The last report of a frame was written, or the frame was given up.
    void frameFinished(bool complete);

private:
    enum class State { Idle, AwaitingAck, AwaitingFrameAck };

    void pump();
    bool writeNextPacket(); // true while the frame goes on (waiting for an acknowledgement)
    void finishFrame(bool complete);
    void setState(State state);
    void onTimeout();
    bool frameAckOutstanding() const;

    HidBridge* bridge_ = nullptr;
    int ackTimeoutMs_ = kDefaultAckTimeoutMs;
    State state_ = State::Idle;
    QQueue<QByteArray> queue_;
    std::vector<protocol::UsbPacket> packets_; // the frame in flight
    std::size_t next_ = 0;
    bool frameInFlight_ = false;
    bool pumping_ = false;
    // The last or short packet of the previous frame was written and its
    // 0x5E has not come yet; a new frame waits for it so that the answers
    // stay matched to their packets.
    bool frameAckExpected_ = false;
    QElapsedTimer frameAckClock_;
    QTimer* timer_ = nullptr;
};

} // namespace qav::link
