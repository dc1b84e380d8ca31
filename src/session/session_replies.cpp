// Replies from both links, and the next steps they start: on the serial
// link the idle reply drives the crash test and continuous play; on the USB
// link the bridge's acknowledgement paces the sender and moves a long text on.
#include "link/usb_packet_sender.h"
#include "protocol/serial_replies.h"
#include "protocol/usb_replies.h"
#include "session/console_session.h"
#include "session/send_text.h"

namespace qav::session {

namespace {
const QLatin1String kCrLf("\r\n");
} // namespace

void ConsoleSession::MSComm1_OnComm(const QByteArray& received) {
    for (const auto& line : protocol::decodeSerialReplies(received, log_.hexPrefix())) {
        log_.append(line.text);
        if (line.idle)
            onIdleReply();
    }
}

// The chip is idle: the next crash step, then the next round of continuous
// play, each checked on its own.
void ConsoleSession::onIdleReply() {
    if (state_.crash.running())
        crashStep();
    if (state_.continueSynthesis) {
        synthesize();
        if (state_.replayCount > 0)
            state_.continueSynthesis = true;
    }
}

void ConsoleSession::PollBridgeReply(const QByteArray& report) {
    if (report.size() < 2)
        return;
    const auto code = std::uint8_t(report[1]);
    if (const auto line = protocol::usbReplyLine(code))
        log_.append(*line + kCrLf);
    if (code != protocol::reply::kBridgeAck)
        return;

    // The answer to a full packet only lets the sender go on. Any other
    // 0x5E (the one after a frame's last packet) moves a long text on.
    const bool releasedPacket = usb_->acknowledge() == link::UsbPacketSender::Ack::FullPacket;
    if (releasedPacket || !state_.continueSynthesis || !sendText_)
        return;
    SendText& text = *sendText_;
    text.setSelStart(text.selStart() + text.selLength());
    text.setSelLength(text.length() - text.selStart());
    if (text.selLength() != 0)
        synthesize();
    state_.continueSynthesis = text.selStart() + text.selLength() < text.length();
}

} // namespace qav::session
