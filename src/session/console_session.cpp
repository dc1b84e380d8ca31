// Frames and links: the one call that logs and sends, the synthesis request,
// the one-byte commands, the port and link choice.
#include "session/console_session.h"

#include "link/frame_dispatcher.h"
#include "link/hid_bridge.h"
#include "link/link_factory.h"
#include "session/crash_results.h"
#include "session/send_text.h"
#include "session/watchdog.h"
#include "synthesis/text_frame.h"
#include "tools/step_player.h"

#include <QCoreApplication>
#include <QDir>

namespace qav::session {

namespace {
constexpr int kCountdownIntervalMs = 1000;
constexpr const char* kHexPrefix = "0x";
// Work-log lines of the links' faults and returns.
constexpr const char* kPortLostLine = "串口COM%1已断开：%2";
constexpr const char* kPortBackLine = "串口COM%1已重新打开";
constexpr const char* kOverrunLine = "串口接收溢出，丢失 %1 字节";
// Work-log lines of frames a link did not send, or not whole.
constexpr const char* kDroppedLine = "操作失败：已停止，本帧未发出";
constexpr const char* kNotConnectedLine = "操作失败请先联接";
constexpr const char* kAckTimeoutLine = "操作失败：等待F320应答超时，本帧已放弃";
constexpr const char* kWriteFailedLine = "操作失败：写入F320失败，本帧已放弃";
constexpr const char* kBridgeReadFailedLine = "F320读取失败：%1";
constexpr const char* kBridgeBackLine = "F320已重新联接";
constexpr const char* kBridgeFoundEvent = "F320已联接";
// Events of the capture that have no line in the log.
constexpr const char* kStopEvent = "停止";
constexpr const char* kClearEvent = "清空";
} // namespace

ConsoleSession::ConsoleSession(MessageSink& messages, std::unique_ptr<link::HidBridge> bridge,
                               QObject* parent)
    : QObject(parent), gate_(messages), bridge_(std::move(bridge)),
      serial_(link::makeSerialLink(this)), usb_(link::makeUsbLink(bridge_.get(), this)),
      dispatcher_(std::make_unique<link::FrameDispatcher>(*serial_)),
      player_(std::make_unique<tools::StepPlayer>()),
      crashResults_(std::make_unique<CrashResults>()), folder_(QDir::currentPath()) {
    qRegisterMetaType<RunStep>();
    run_.countdown = new QTimer(this);
    run_.countdown->setInterval(kCountdownIntervalMs);
    connect(run_.countdown, &QTimer::timeout, this, [this] { countDown(); });
    connectLinks();
    connectCapture();
    connectWatchdog();
    connect(&log_, &worklog::WorkLog::storageProblem, this,
            [this](const QString& text) { gate_.show(text, {}, MessageGate::Notice); });

    // A sequence holds while a message that asks the engineer to act is
    // open, and while the chip hangs; it gives the link one frame at a time:
    // its next wait starts once the link has taken the frame before.
    player_->setReadyCheck([this] { return sequenceMayGoOn(); });
    connect(&gate_, &MessageGate::closed, player_.get(), &tools::StepPlayer::readyChanged);
    setTiming(timing_);
}

ConsoleSession::~ConsoleSession() {
    player_->stop();
    if (serial_->isOpen())
        serial_->close();
}

void ConsoleSession::setTiming(const Timing& timing) {
    timing_ = timing;
    usb_->setAckTimeout(timing.usbAckTimeoutMs);
    player_->setTimeScale(timing.sequenceTimeScale);
    watchdog_->setLimits({timing.silenceMs, timing.queryWaitMs, timing.recoveryPollMs});
}

void ConsoleSession::setSystemPortsUsed(bool used) {
    serial_->setSystemPortsUsed(used);
}

void ConsoleSession::connectLinks() {
    connectSerialLink();
    connectUsbLink();
    for (link::Link* l : {static_cast<link::Link*>(serial_.get()), usb_.get()}) {
        connect(l, &link::Link::frameDropped, this, [this](link::DropReason reason) {
            switch (reason) {
            case link::DropReason::Stopped:
                logLine(QString::fromUtf8(kDroppedLine));
                break;
            case link::DropReason::NotConnected:
                gate_.show(QString::fromUtf8(kUsbConnectFailed), {}, MessageGate::Notice);
                logLine(QString::fromUtf8(kNotConnectedLine));
                break;
            case link::DropReason::AckTimeout:
                logLine(QString::fromUtf8(kAckTimeoutLine));
                break;
            case link::DropReason::WriteFailed:
                logLine(QString::fromUtf8(kWriteFailedLine));
                break;
            }
        });
        connect(l, &link::Link::frameDone, player_.get(), &tools::StepPlayer::readyChanged);
        connect(l, &link::Link::frameDone, this, [this, l] {
            if (dispatcher_->isActive(*l))
                onLinkFree();
        });
        connect(l, &link::Link::lost, this, [this, l] {
            if (dispatcher_->isActive(*l))
                emit linkLost();
        });
        connect(l, &link::Link::back, this, [this, l] {
            if (!dispatcher_->isActive(*l))
                return;
            emit linkBack();
            watchdog_->linkBack();
        });
    }
}

void ConsoleSession::connectSerialLink() {
    connect(serial_.get(), &link::Link::replyBytes, this,
            [this](const QByteArray& bytes) { MSComm1_OnComm(bytes); });
    // The adapter was pulled out or the device went away while open: the
    // port is closed and watched for.
    connect(serial_.get(), &link::Link::lost, this, [this](const QString& reason) {
        logEvent(QString::fromUtf8(kPortLostLine).arg(serial_->commPort()).arg(reason));
        gate_.show(QString::fromUtf8(kPortMessage), {}, MessageGate::Notice);
    });
    connect(serial_.get(), &link::Link::back, this,
            [this] { logEvent(QString::fromUtf8(kPortBackLine).arg(serial_->commPort())); });
    connect(serial_.get(), &link::Link::inputOverrun, this,
            [this](qint64 bytes) { logLine(QString::fromUtf8(kOverrunLine).arg(bytes)); });
}

void ConsoleSession::connectUsbLink() {
    connect(usb_.get(), &link::Link::replyBytes, this,
            [this](const QByteArray& reply) { PollBridgeReply(reply); });
    connect(usb_.get(), &link::Link::frameTaken, this, &ConsoleSession::onFrameTaken);
    connect(usb_.get(), &link::Link::ackExpired, this, &ConsoleSession::onAckExpired);
    // The bridge's reader has stopped: the link searches for it until it is
    // back, so that its replies are read again without waiting for a write.
    connect(usb_.get(), &link::Link::lost, this, [this](const QString& reason) {
        logEvent(QString::fromUtf8(kBridgeReadFailedLine).arg(reason));
    });
    connect(usb_.get(), &link::Link::back, this,
            [this] { logEvent(QString::fromUtf8(kBridgeBackLine)); });
}

// Every byte that crosses a link, at the moment it does, and the console's
// own events, go into the capture.
void ConsoleSession::connectCapture() {
    for (link::Link* l : {static_cast<link::Link*>(serial_.get()), usb_.get()}) {
        connect(l, &link::Link::frameWritten, &capture_,
                [this](const QByteArray& frame) { capture_.frameSent(frame); });
        connect(l, &link::Link::traffic, &capture_,
                [this](link::Traffic direction, const QByteArray& bytes) {
                    switch (direction) {
                    case link::Traffic::SerialIn:
                        capture_.serialReceived(bytes);
                        break;
                    case link::Traffic::ReportOut:
                        capture_.usbReportWritten(bytes);
                        break;
                    case link::Traffic::ReportIn:
                        capture_.usbReportRead(bytes);
                        break;
                    }
                });
    }
    connect(&capture_, &worklog::CaptureFile::storageProblem, this,
            [this](const QString& text) { gate_.show(text, {}, MessageGate::Notice); });
}

link::Link& ConsoleSession::activeLink() const {
    return dispatcher_->activeLink();
}

bool ConsoleSession::sequenceMayGoOn() const {
    return !gate_.holdsRun() && !activeLink().busy() && !watchdog_->isHung();
}

void ConsoleSession::logLine(const QString& line) {
    log_.appendLine(line);
}

// A line about the console's own doings (a link lost or back, the
// watchdog), which the capture keeps too, with its time.
void ConsoleSession::logEvent(const QString& line) {
    logLine(line);
    capture_.event(line);
}

void ConsoleSession::showMessage(const QString& text, std::function<void()> afterOk) {
    gate_.show(text, std::move(afterOk));
}

// --- what the faces show ---

bool ConsoleSession::useUsbLink() const {
    return dispatcher_->isActive(*usb_);
}

bool ConsoleSession::portOpen() const {
    return serial_->isOpen();
}

bool ConsoleSession::linkOpen() const {
    return activeLink().isOpen();
}

int ConsoleSession::commPort() const {
    return serial_->commPort();
}

QString ConsoleSession::portName() const {
    return serial_->portName();
}

QString ConsoleSession::lineSettings() const {
    return serial_->settings();
}

bool ConsoleSession::continuousPlayActive() const {
    return run_.countdown->isActive();
}

bool ConsoleSession::chipHung() const {
    return watchdog_->isHung();
}

qint64 ConsoleSession::serialBacklog() const {
    return serial_->backlog();
}

qint64 ConsoleSession::largestSerialBacklog() const {
    return serial_->largestBacklog();
}

// --- frames ---

void ConsoleSession::sendFrame(QByteArrayView frame) {
    if (frame.isEmpty())
        return;
    lastFrameIndex_ = int(frame.size()) - 1;
    lastFrameIsStep_ = sendingStep_;
    log_.appendFrame(frame);
    const QByteArray bytes = frame.toByteArray();
    emit frameSent(bytes);
    dispatcher_->dispatch(bytes);
    armWatchdog();
}

void ConsoleSession::sendCommand(protocol::Command command) {
    sendFrame(protocol::commandFrame(command));
}

void ConsoleSession::stop() {
    stopSequences(); // interrupted play and the scripts end here too
    interruptPlay();
    capture_.event(QString::fromUtf8(kStopEvent));
    // Nothing that waits for the link goes before the stop.
    dispatcher_->dropWaiting();
    sendCommand(protocol::Command::Stop);
    // The watch ends here; a run that goes on (the crash test at the chip's
    // next idle reply) starts it again with its next frame.
    watchdog_->disarm();
}

void ConsoleSession::interruptPlay() {
    run_.continueSynthesis = false;
    awaitingSpoken_ = false;
    idleDeferred_ = false;
}

void ConsoleSession::clearWorkLog() {
    log_.clear();
    capture_.event(QString::fromUtf8(kClearEvent));
}

ConsoleSession::SelectionSend ConsoleSession::synthesize() {
    interruptPlay();
    return sendSelection(protocol::Command::Synthesize, std::uint8_t(encodingCode_));
}

ConsoleSession::SelectionSend ConsoleSession::speak() {
    const SelectionSend sent = synthesize();
    awaitingSpoken_ = sent == SelectionSend::Sent;
    armWatchdog();
    return sent;
}

ConsoleSession::SelectionSend ConsoleSession::storeInCache(std::uint8_t segment) {
    interruptPlay();
    return sendSelection(protocol::Command::CacheStore, segment);
}

// Selects the whole text when nothing is selected, cuts the selection to the
// chunk limit, converts it, logs the frame once and sends it.
ConsoleSession::SelectionSend ConsoleSession::sendSelection(protocol::Command command,
                                                            std::uint8_t parameter) {
    if (!sendText_)
        return SelectionSend::Empty;
    SendText& text = *sendText_;
    emit focusSendText();
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
    request.encoding = protocol::Encoding(encodingCode_);
    request.chunkLimit = chunkLimit_;
    request.tableFolder =
        tableFolder_.isEmpty() ? QCoreApplication::applicationDirPath() : tableFolder_;
    const synthesis::TextFrame built = synthesis::buildTextFrame(selected, request);

    if (built.measure.shortened)
        text.setSelLength(built.measure.length);
    if (built.status == synthesis::TextFrame::Status::TableMissing) {
        showMessage(QString::fromUtf8(synthesis::kTableMissingMessage));
        return SelectionSend::TableMissing;
    }
    if (built.status != synthesis::TextFrame::Status::Ok)
        return SelectionSend::Empty;

    // One log entry for the whole frame, even when it leaves in two writes.
    sendFrame(built.frame);
    emit focusSendText();
    return SelectionSend::Sent;
}

// --- links ---

bool ConsoleSession::selectPort(int listIndex) {
    if (listIndex < 0 || listIndex >= link::SerialLink::kPortCount) {
        showMessage(QString::fromUtf8(kPortMessage));
        return false;
    }
    interruptPlay();
    if (serial_->isOpen())
        serial_->close();
    serial_->setCommPort(listIndex + 1);
    if (serial_->open())
        return true;
    showMessage(QString::fromUtf8(kPortMessage));
    return false;
}

bool ConsoleSession::selectPortDevice(const QString& path) {
    interruptPlay();
    if (serial_->openDevice(path))
        return true;
    showMessage(QString::fromUtf8(kPortMessage));
    return false;
}

bool ConsoleSession::setLineSettings(const QString& settings) {
    return serial_->setSettings(settings);
}

// Choosing a link ends the watch for the other one's device.
void ConsoleSession::chooseSerialLink() {
    usb_->stopWatching();
    chunkLimit_ = protocol::kSerialChunkLimit;
    dispatcher_->setActiveLink(*serial_);
}

void ConsoleSession::chooseUsbLink() {
    serial_->stopWatching();
    chunkLimit_ = protocol::kUsbChunkLimit;
    dispatcher_->setActiveLink(*usb_);
    showMessage(QLatin1Char(' ') + QString::number(chunkLimit_) +
                QString::fromUtf8(kChunkLimitNotice));
    findBridge();
}

bool ConsoleSession::findBridge() {
    if (usb_->open()) {
        capture_.event(QString::fromUtf8(kBridgeFoundEvent));
        return true;
    }
    showMessage(QString::fromUtf8(kUsbConnectFailed));
    return false;
}

void ConsoleSession::setRepliesDecoded(bool decoded) {
    repliesDecoded_ = decoded;
    serial_->setReceiveHeld(!decoded);
    if (decoded)
        armWatchdog();
}

void ConsoleSession::setHexPrefixShown(bool shown) {
    log_.setHexPrefix(shown ? QString::fromLatin1(kHexPrefix) : QString());
}

void ConsoleSession::setEncoding(int code) {
    if (code >= int(protocol::Encoding::Gb2312) && code <= int(protocol::Encoding::Utf16Be))
        encodingCode_ = code;
}

} // namespace qav::session
