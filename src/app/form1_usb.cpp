// The USB link: choosing it, finding the bridge, and reading its replies.
// Reports go out through the packet sender, which waits for the bridge's
// 0x5E after each full packet without holding up the window; the input
// reports come in from the bridge's reader and are decoded here, one at a
// time, in the order they arrived.

#include "app/form1.h"
#include "link/frame_dispatcher.h"
#include "link/usb_packet_sender.h"
#include "protocol/frame.h"
#include "protocol/usb_replies.h"

#include <QTimer>

namespace qav::app {

namespace {
constexpr const char* kUsbConnectFailed = "USB连接失败";
constexpr const char* kCrLf = "\r\n";
} // namespace

void Form1::SetUpUsbLink() {
    usbSender_ = new link::UsbPacketSender(bridge_.get(), this);
    dispatcher().setUsbSender(usbSender_);
    connect(usbSender_, &link::UsbPacketSender::bridgeNotFound, this,
            [this] { showMessage(QString::fromUtf8(kUsbConnectFailed)); });
    connect(usbSender_, &link::UsbPacketSender::workLogLine, this,
            [this](const QString& line) { workLog().append(line + QLatin1String(kCrLf)); });
    connect(usbSender_, &link::UsbPacketSender::ackPendingChanged, this,
            [this](bool pending) { state_.usbAckPending = pending ? 1 : 0; });
    if (bridge_) {
        connect(bridge_.get(), &link::HidBridge::inputReport, this,
                [this](const QByteArray& report) {
                    bridgeReports_.append(report);
                    PollBridgeReply();
                });
        connect(bridge_.get(), &QObject::destroyed, usbSender_,
                [sender = usbSender_] { sender->setBridge(nullptr); });
    }
    // Polling runs from start-up whichever link is active; a tick costs
    // nothing while no reply waits.
    Timer2->start();
}

void Form1::Option4_Click() {
    state_.chunkLimit = kUsbChunkLimit;
    state_.useUsbLink = true;
    dispatcher().setUseUsbLink(true);
    showMessage(QLatin1Char(' ') + QString::number(state_.chunkLimit) + state_.chunkLimitNotice);
    FindTheHid();
}

bool Form1::FindTheHid() {
    if (bridge_ && bridge_->find())
        return true;
    showMessage(QString::fromUtf8(kUsbConnectFailed));
    return false;
}

void Form1::PollBridgeReply() {
    if (bridgeReports_.isEmpty())
        return;
    const QByteArray report = bridgeReports_.takeFirst();
    if (report.size() < 2)
        return;
    const auto code = std::uint8_t(report[1]);
    if (const auto line = protocol::usbReplyLine(code))
        workLog().append(*line + QLatin1String(kCrLf));
    if (code != protocol::reply::kBridgeAck)
        return;

    // The answer to a full packet only lets the sender go on. Any other
    // 0x5E (the one after a frame's last packet) moves a long text on.
    const bool releasedPacket = usbSender_->acknowledge() == link::UsbPacketSender::Ack::FullPacket;
    state_.usbAckPending = usbSender_->ackPending() ? 1 : 0;
    if (releasedPacket || !state_.continueSynthesis)
        return;
    TextBox& text = sendText();
    text.setSelStart(text.selStart() + text.selLength());
    text.setSelLength(text.length() - text.selStart());
    if (text.selLength() != 0)
        Command6_Click();
    state_.continueSynthesis = text.selStart() + text.selLength() < text.length();
}

void Form1::Timer2_Timer() {
    // Replies are normally decoded as they arrive; the tick takes any left.
    PollBridgeReply();
}

} // namespace qav::app
