#pragma once
// The USB bridge in software: it takes the console's 33-byte reports, puts
// the frames back together, hands each whole frame to the chip model and
// answers the way the bridge does:
//   - 0x5E for every packet it has taken (the console waits for it after
//     each full packet);
//   - after a whole frame, 0xAA, 0xAB or 0xAC for the chip's state before the
//     frame (idle, paused, playing), 0x45 when the chip could not use it, and
//     0xAD after a status query while the chip plays;
//   - the chip's own one-byte replies (0x4F at the end of an utterance,
//     0x4A after a power cycle).
// While the chip hangs (ChipModel::setHangAfter) the bridge still takes and
// acknowledges packets with 0x5E, but gives no receipt: it has no answer
// from the chip to pass on.
// Input reports are delivered from the event loop, never from inside
// writeReport. Faults for tests: dropped acknowledgements, a bridge that
// vanishes (searches and writes fail) and comes back.

#include "link/hid_bridge.h"
#include "protocol/usb_packets.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QTimer>
#include <deque>

namespace qav::sim {

class ChipModel;

class EmulatedBridge : public link::HidBridge {
    Q_OBJECT
public:
    static constexpr int kForever = -1;

    // Without a chip the bridge makes one of its own.
    explicit EmulatedBridge(ChipModel* chip = nullptr, QObject* parent = nullptr);
    ~EmulatedBridge() override;

    bool find() override;
    bool writeReport(const link::Report& report) override;
    bool isOpen() const override { return present_ && open_; }

    ChipModel& chip() { return *chip_; }

    // How long the bridge takes to answer a packet, in milliseconds.
    void setAckDelay(int milliseconds) { ackDelayMs_ = milliseconds; }
    // Swallows the next `count` acknowledgements (kForever: all of them).
    void dropAcks(int count) { acksToDrop_ = count; }
    // Unplugged: searches find nothing, writes fail, nothing more arrives,
    // and a frame half received is lost.
    void vanish();
    // Plugged in again; the next search opens it.
    void comeBack();
    // Vanishes right after taking `reports` more reports (the last of them
    // is taken but not answered).
    void vanishAfter(int reports) { reportsBeforeVanishing_ = reports; }

    // What the console wrote, report by report, and the frames rebuilt from it.
    const QList<link::Report>& reportsWritten() const { return reports_; }
    const QList<QByteArray>& framesReceived() const { return frames_; }
    int searches() const { return searches_; }
    void clearRecords();

signals:
    void reportWritten(const qav::link::Report& report);
    void frameReceived(const QByteArray& frame);

private:
    void handleFrame(const QByteArray& frame);
    void answer(std::uint8_t byte, int delayMs);
    void onChipReply(const QByteArray& bytes);
    void deliverDue();
    void schedule();

    struct Pending {
        qint64 dueNs;
        std::uint8_t byte;
    };

    ChipModel* chip_ = nullptr;
    protocol::UsbFrameAssembler assembler_;
    bool present_ = true;
    bool open_ = false;
    int ackDelayMs_ = 0;
    int acksToDrop_ = 0;
    int reportsBeforeVanishing_ = kForever;
    bool inFrame_ = false;       // the chip is handling a frame
    QByteArray chipRepliesHeld_; // its own replies meanwhile, sent after the receipt
    std::deque<Pending> outbox_;
    QElapsedTimer clock_;
    QTimer outTimer_;
    QList<link::Report> reports_;
    QList<QByteArray> frames_;
    int searches_ = 0;
};

} // namespace qav::sim
