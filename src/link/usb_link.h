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
// the reply byte of every other report (replyBytes()) and, for each frame,
// that the bridge has taken it whole (frameTaken(), or ackExpired() at the
// time limit), which is what moves a long text on. A frame handed over while
// one is under way, or while the last one's acknowledgement is still due,
// waits its turn, so the packets of two frames never interleave and each 0x5E
// answers the packet it belongs to.
//
// When the bridge cannot be read any more, the link says lost() and searches
// for it every kWatchIntervalMs until it is back().

#include "link/hid_bridge.h"
#include "link/link.h"
#include "protocol/usb_packets.h"

#include <QByteArray>
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

    // bridge: hidapi in the program, the bridge emulator in tests; none
    // means no bridge is ever found. The link does not own it.
    explicit UsbLink(HidBridge* bridge = nullptr, QObject* parent = nullptr);

    LinkKind kind() const override { return LinkKind::Usb; }
    void setBridge(HidBridge* bridge);
    void setAckTimeout(int milliseconds) override { ackTimeoutMs_ = milliseconds; }

    bool open() override; // searches for the bridge
    void close() override {}
    bool isOpen() const override;
    void stopWatching() override { watch_.stop(); }
    bool watching() const { return watch_.isActive(); }

    // True while a full packet waits for its acknowledgement.
    bool ackPending() const { return state_ == State::AwaitingPacketAck; }

protected:
    // The bridge is searched for before every packet, so a frame is taken
    // even while none is open; without a bridge it is dropped as NotConnected.
    bool takesFrames() const override { return true; }
    void startFrame(const QByteArray& frame) override;
    // The next frame waits for the last packet's 0x5E or its time limit.
    bool readyForNext() const override { return state_ == State::Idle; }

private:
    enum class State { Idle, AwaitingPacketAck, AwaitingFrameAck };

    void onReport(const QByteArray& report);
    void onAcknowledged();
    void onTimeout();
    void lookForBridge();
    void writeNextPacket();
    void giveUpFrame(DropReason reason);

    HidBridge* bridge_ = nullptr;
    int ackTimeoutMs_ = kDefaultAckTimeoutMs;
    State state_ = State::Idle;
    std::vector<protocol::UsbPacket> packets_; // of the frame under way; empty when none
    QByteArray frame_;                         // the frame under way
    std::size_t next_ = 0;
    QTimer timer_;
    QTimer watch_;
};

} // namespace qav::link
