#include "emulated_bridge.h"

#include "chip_model.h"
#include "protocol/frame.h"

#include <algorithm>
#include <utility>

namespace qav::sim {

using protocol::UsbPacketKind;
namespace reply = protocol::reply;

EmulatedBridge::EmulatedBridge(ChipModel* chip, QObject* parent)
    : link::HidBridge(parent), chip_(chip ? chip : new ChipModel(this)) {
    clock_.start();
    outTimer_.setSingleShot(true);
    outTimer_.setTimerType(Qt::PreciseTimer);
    connect(&outTimer_, &QTimer::timeout, this, &EmulatedBridge::deliverDue);
    connect(chip_, &ChipModel::spontaneousReply, this, &EmulatedBridge::onChipReply);
}

EmulatedBridge::~EmulatedBridge() = default;

bool EmulatedBridge::find() {
    ++searches_;
    open_ = present_;
    return open_;
}

void EmulatedBridge::vanish() {
    if (!present_)
        return;
    present_ = open_ = false;
    outbox_.clear();
    outTimer_.stop();
    assembler_.reset();
    QTimer::singleShot(0, this, [this] {
        if (!present_)
            emit readFailed(QStringLiteral("device disconnected"));
    });
}

void EmulatedBridge::comeBack() {
    present_ = true;
}

void EmulatedBridge::clearRecords() {
    reports_.clear();
    frames_.clear();
    searches_ = 0;
}

bool EmulatedBridge::writeReport(const link::Report& report) {
    if (!isOpen())
        return false;
    reports_.append(report);
    emit reportWritten(report);

    bool answerIt = true;
    if (reportsBeforeVanishing_ > 0 && --reportsBeforeVanishing_ == 0) {
        reportsBeforeVanishing_ = kForever;
        answerIt = false;
    }
    const auto step = assembler_.feed(report);
    if (!answerIt) {
        vanish();
        return true;
    }
    if (acksToDrop_ != 0) {
        if (acksToDrop_ > 0)
            --acksToDrop_;
    } else {
        answer(reply::kBridgeAck, ackDelayMs_);
    }
    if (step.malformed)
        answer(reply::kReceiveError, ackDelayMs_);
    if (step.frame)
        handleFrame(*step.frame);
    return true;
}

void EmulatedBridge::handleFrame(const QByteArray& frame) {
    frames_.append(frame);
    emit frameReceived(frame);

    const ChipModel::State before = chip_->state();
    inFrame_ = true;
    const QByteArray chipAnswer = chip_->handleFrame(frame);
    inFrame_ = false;

    if (chipAnswer.isEmpty()) {
        // A hung chip answers nothing, so the bridge has no receipt to give.
    } else if (chipAnswer.startsWith(char(reply::kReceiveError))) {
        answer(reply::kReceiveError, ackDelayMs_);
    } else {
        switch (before) {
        case ChipModel::State::Playing:
            answer(reply::kReceivedWasPlaying, ackDelayMs_);
            break;
        case ChipModel::State::Paused:
            answer(reply::kReceivedWasPaused, ackDelayMs_);
            break;
        case ChipModel::State::Idle:
        case ChipModel::State::Standby:
            answer(reply::kReceivedWasIdle, ackDelayMs_);
            break;
        }
        if (chipAnswer.size() > 1 && std::uint8_t(chipAnswer[1]) == reply::kPlaying)
            answer(reply::kHardwarePlaying, ackDelayMs_);
    }
    const QByteArray held = std::exchange(chipRepliesHeld_, {});
    for (char byte : held)
        answer(std::uint8_t(byte), ackDelayMs_);
}

void EmulatedBridge::onChipReply(const QByteArray& bytes) {
    // One byte per report: the chip's status bytes pass, the multi-byte
    // version answer has no way over this link.
    if (bytes.size() != 1 || !isOpen())
        return;
    if (inFrame_)
        chipRepliesHeld_.append(bytes);
    else
        answer(std::uint8_t(bytes[0]), 0);
}

void EmulatedBridge::answer(std::uint8_t byte, int delayMs) {
    qint64 due = clock_.nsecsElapsed() + qint64(std::max(delayMs, 0)) * 1000000;
    if (!outbox_.empty())
        due = std::max(due, outbox_.back().dueNs); // keep the order of the answers
    outbox_.push_back({due, byte});
    if (!outTimer_.isActive())
        schedule();
}

void EmulatedBridge::schedule() {
    if (outbox_.empty())
        return;
    const qint64 waitNs = outbox_.front().dueNs - clock_.nsecsElapsed();
    // Round up: an answer is never early.
    outTimer_.start(int(std::max<qint64>((waitNs + 999999) / 1000000, 0)));
}

void EmulatedBridge::deliverDue() {
    if (!outbox_.empty() && outbox_.front().dueNs > clock_.nsecsElapsed()) {
        schedule();
        return;
    }
    if (!outbox_.empty() && present_) {
        QByteArray report(link::kReportSize, '\0');
        report[1] = char(outbox_.front().byte);
        outbox_.pop_front();
        emit inputReport(report);
    }
    if (!outTimer_.isActive())
        schedule();
}

} // namespace qav::sim
