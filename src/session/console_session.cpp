// Frames and links: the one call that logs and sends, the synthesis request,
// the one-byte commands, the port and link choice.
#include "session/console_session.h"

#include "link/frame_dispatcher.h"
#include "link/hid_bridge.h"
#include "link/serial_port_service.h"
#include "link/usb_packet_sender.h"
#include "session/send_text.h"
#include "synthesis/text_frame.h"

#include <QCoreApplication>
#include <QFile>

namespace qav::session {

namespace {
constexpr int kCountdownIntervalMs = 1000;
constexpr const char* kHexPrefix = "0x";
const QLatin1String kCrLf("\r\n");
// Work-log lines of the links' faults and returns.
constexpr const char* kPortLostLine = "串口COM%1已断开：%2";
constexpr const char* kPortBackLine = "串口COM%1已重新打开";
constexpr const char* kOverrunLine = "串口接收溢出，丢失 %1 字节";
constexpr const char* kBridgeReadFailedLine = "F320读取失败：%1";
constexpr const char* kBridgeBackLine = "F320已重新联接";
} // namespace

ConsoleSession::ConsoleSession(MessageSink& messages, std::unique_ptr<link::HidBridge> bridge,
                               QObject* parent)
    : QObject(parent), gate_(messages), bridge_(std::move(bridge)) {
    serial_ = new link::SerialPortService(this);
    usb_ = new link::UsbPacketSender(bridge_.get(), this);
    dispatcher_ = new link::FrameDispatcher(*serial_, *usb_, this);
    countdown_.setInterval(kCountdownIntervalMs);
    bridgeWatch_.setInterval(kBridgeWatchIntervalMs);
    connect(&countdown_, &QTimer::timeout, this, [this] { countDown(); });
    connect(&bridgeWatch_, &QTimer::timeout, this, [this] { lookForBridge(); });
    connectLinks();

    // A sequence holds while its message box is open, and gives the USB link
    // one frame at a time: its next wait starts once the link has taken the
    // frame before.
    player_.setReadyCheck([this] { return sequenceMayGoOn(); });
    connect(usb_, &link::UsbPacketSender::frameFinished, this, [this] { player_.readyChanged(); });
    connect(&gate_, &MessageGate::allClosed, this, [this] { player_.readyChanged(); });
}

void ConsoleSession::connectLinks() {
    connect(serial_, &link::SerialPortService::received, this,
            [this](const QByteArray& bytes) { MSComm1_OnComm(bytes); });
    connect(serial_, &link::SerialPortService::deviceLost, this, [this] { onPortLost(); });
    connect(serial_, &link::SerialPortService::reopened, this, [this] {
        log_.append(QString::fromUtf8(kPortBackLine).arg(serial_->commPort()) + kCrLf);
    });
    connect(serial_, &link::SerialPortService::overrun, this, [this](qint64 bytes) {
        log_.append(QString::fromUtf8(kOverrunLine).arg(bytes) + kCrLf);
    });
    connect(usb_, &link::UsbPacketSender::bridgeNotFound, this,
            [this] { showMessage(QString::fromUtf8(kUsbConnectFailed)); });
    connect(usb_, &link::UsbPacketSender::workLogLine, this,
            [this](const QString& line) { log_.append(line + kCrLf); });
    if (!bridge_)
        return;
    connect(bridge_.get(), &link::HidBridge::inputReport, this,
            [this](const QByteArray& report) { PollBridgeReply(report); });
    connect(bridge_.get(), &link::HidBridge::readFailed, this,
            [this](const QString& reason) { onBridgeReadFailed(reason); });
}

bool ConsoleSession::sequenceMayGoOn() const {
    return !gate_.isOpen() && !(useUsbLink() && usb_->busy());
}

// The adapter was pulled out or the device went away while open: the port
// service has closed the port and watches for it to come back.
void ConsoleSession::onPortLost() {
    log_.append(
        QString::fromUtf8(kPortLostLine).arg(serial_->commPort()).arg(serial_->errorString()) +
        kCrLf);
    showMessage(QString::fromUtf8(kPortMessage));
}

// The bridge's reader has stopped: say why, and search for the bridge until
// it is back, so that its replies are read again without waiting for a write.
void ConsoleSession::onBridgeReadFailed(const QString& reason) {
    log_.append(QString::fromUtf8(kBridgeReadFailedLine).arg(reason) + kCrLf);
    bridgeWatch_.start();
}

void ConsoleSession::lookForBridge() {
    if (!bridge_ || !bridge_->find())
        return;
    bridgeWatch_.stop();
    log_.append(QString::fromUtf8(kBridgeBackLine) + kCrLf);
}

ConsoleSession::~ConsoleSession() {
    player_.stop();
    usb_->setBridge(nullptr); // the bridge goes before the sender does
    if (serial_->portOpen())
        serial_->close();
}

// --- frames ---

void ConsoleSession::sendFrame(QByteArrayView frame) {
    if (frame.isEmpty())
        return;
    state_.lastFrameIndex = int(frame.size()) - 1;
    log_.appendFrame(frame);
    dispatcher_->dispatch(frame);
}

void ConsoleSession::sendCommand(protocol::Command command) {
    sendFrame(protocol::commandFrame(command));
}

void ConsoleSession::stop() {
    stopSequences(); // interrupted play and the scripts end here too
    state_.continueSynthesis = false;
    // Nothing that waits for the USB link goes before the stop.
    dispatcher_->dropWaiting();
    sendCommand(protocol::Command::Stop);
}

ConsoleSession::SelectionSend ConsoleSession::synthesize() {
    state_.continueSynthesis = false;
    return sendSelection(protocol::Command::Synthesize, std::uint8_t(state_.encodingCode));
}

ConsoleSession::SelectionSend ConsoleSession::storeInCache(std::uint8_t segment) {
    state_.continueSynthesis = false;
    return sendSelection(protocol::Command::CacheStore, segment);
}

// Selects the whole text when nothing is selected, cuts the selection to the
// chunk limit, converts it, logs the frame once and sends it.
ConsoleSession::SelectionSend ConsoleSession::sendSelection(protocol::Command command,
                                                            std::uint8_t parameter) {
    if (!sendText_)
        return SelectionSend::Empty;
    SendText& text = *sendText_;
    text.setFocus();
    if (text.selLength() == 0) {
        text.setSelStart(0);
        text.setSelLength(text.length());
    }
    const QString selected = text.selectedText();
    if (selected.isEmpty())
        return SelectionSend::Empty;

    synthesis::TextFrameRequest request;
    request.command = command;
    request.parameter = parameter;
    request.encoding = protocol::Encoding(state_.encodingCode);
    request.chunkLimit = state_.chunkLimit;
    request.tableFolder =
        tableFolder_.isEmpty() ? QCoreApplication::applicationDirPath() : tableFolder_;
    const synthesis::TextFrame built = synthesis::buildTextFrame(selected, request);

    state_.textByteCount = built.measure.textByteCount;
    if (built.measure.shortened)
        text.setSelLength(built.measure.length);
    if (built.status == synthesis::TextFrame::Status::TableMissing) {
        showMessage(QString::fromUtf8(synthesis::kTableMissingMessage));
        return SelectionSend::TableMissing;
    }
    if (built.status != synthesis::TextFrame::Status::Ok)
        return SelectionSend::Empty;

    state_.frameByteCount = int(built.frame.size());
    // One log entry for the whole frame, even when it leaves in two writes.
    sendFrame(built.frame);
    text.setFocus();
    return SelectionSend::Sent;
}

// --- links ---

bool ConsoleSession::selectPort(int listIndex) {
    if (listIndex < 0 || listIndex >= link::SerialPortService::kPortCount) {
        showMessage(QString::fromUtf8(kPortMessage));
        return false;
    }
    state_.continueSynthesis = false;
    if (serial_->portOpen())
        serial_->close();
    state_.serialPortNumber = listIndex + 1;
    serial_->setCommPort(state_.serialPortNumber);
    if (serial_->open())
        return true;
    showMessage(QString::fromUtf8(kPortMessage));
    return false;
}

// Choosing a link ends the watch for the other one's device.
void ConsoleSession::chooseSerialLink() {
    bridgeWatch_.stop();
    state_.chunkLimit = protocol::kSerialChunkLimit;
    dispatcher_->setUseUsbLink(false);
}

void ConsoleSession::chooseUsbLink() {
    serial_->stopWatching();
    state_.chunkLimit = protocol::kUsbChunkLimit;
    dispatcher_->setUseUsbLink(true);
    showMessage(QLatin1Char(' ') + QString::number(state_.chunkLimit) + state_.chunkLimitNotice);
    findBridge();
}

bool ConsoleSession::findBridge() {
    if (bridge_ && bridge_->find()) {
        bridgeWatch_.stop();
        return true;
    }
    showMessage(QString::fromUtf8(kUsbConnectFailed));
    return false;
}

bool ConsoleSession::useUsbLink() const {
    return dispatcher_->useUsbLink();
}

void ConsoleSession::setRepliesDecoded(bool decoded) {
    serial_->setReceiveHeld(!decoded);
}

void ConsoleSession::setHexPrefixShown(bool shown) {
    log_.setHexPrefix(shown ? QString::fromLatin1(kHexPrefix) : QString());
}

} // namespace qav::session
