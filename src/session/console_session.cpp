#include "session/console_session.h"

#include "link/hid_bridge.h"
#include "link/serial_link.h"
#include "session/links.h"
#include "session/work_folder.h"

#include <QElapsedTimer>
#include <QTimer>
#include <utility>

namespace qav::session {

namespace {
constexpr const char* kHexPrefix = "0x";
constexpr const char* kClearEvent = "清空";
constexpr int kEndRunPollMs = 10;
// Shown behind the chunk limit when the USB link is chosen.
constexpr const char* kChunkLimitNotice =
    "字节：这是每次发送的最大文本字节长度（不含帧头的5字节）！长文本请在F320中直接测试！"
    "目前F320最多仅能缓存此字节数！大于此字节数需分包发送，但通讯握手需20ms，"
    "大于帧与帧之间的最短间隔时间8ms，不可测试！";
} // namespace

ConsoleSession::ConsoleSession(MessageSink& messages, std::unique_ptr<link::HidBridge> bridge,
                               const Options& options, QObject* parent)
    : QObject(parent), gate_(messages), folder_(std::make_unique<WorkFolder>(gate_)),
      links_(std::make_unique<Links>(std::move(bridge), *folder_, gate_, this)),
      outbox_(std::make_unique<Outbox>(*folder_, *links_, text_, gate_)),
      driver_(std::make_unique<RunDriver>(*outbox_, *links_, *folder_, gate_, text_)) {
    outbox_->setTableFolder(options.tableFolder);
    links_->serial().setSystemPortsUsed(options.systemPorts);
    links_->setAckTimeout(options.usbAckTimeoutMs);
    driver_->setWatchLimits({options.silenceMs, options.queryWaitMs, options.recoveryPollMs});
    driver_->setSequenceTimeScale(options.sequenceTimeScale);
    if (options.crashResume) {
        driver_->resumeCrashTest(options.crashResume->next);
        resultsKept_ = options.crashResume->keepBytes;
    }

    connect(outbox_.get(), &Outbox::frameSent, this, &ConsoleSession::frameSent);
    connect(outbox_.get(), &Outbox::focusSendText, this, &ConsoleSession::focusSendText);
    connect(links_.get(), &Links::lost, this, &ConsoleSession::linkLost);
    connect(links_.get(), &Links::back, this, &ConsoleSession::linkBack);
    connect(driver_.get(), &RunDriver::replyLogged, this, &ConsoleSession::replyLogged);
    connect(driver_.get(), &RunDriver::stepStarted, this, &ConsoleSession::stepStarted);
    connect(driver_.get(), &RunDriver::chipHangRecorded, this, &ConsoleSession::chipHangRecorded);
    connect(driver_.get(), &RunDriver::chipRecoveryRecorded, this,
            &ConsoleSession::chipRecoveryRecorded);
    connect(driver_.get(), &RunDriver::continuousPlayEnded, this,
            &ConsoleSession::continuousPlayEnded);
    connect(driver_.get(), &RunDriver::spoken, this, &ConsoleSession::spoken);
}

// The driver goes first: it listens to the links, which go before the folder.
ConsoleSession::~ConsoleSession() {
    driver_.reset();
    outbox_.reset();
    links_.reset();
}

ConsoleSession::Status ConsoleSession::status() const {
    const link::SerialLink& serial = links_->serial();
    Status s;
    s.usbLink = links_->usbActive();
    s.portOpen = serial.isOpen();
    s.linkOpen = links_->active().isOpen();
    s.commPort = serial.commPort();
    s.portName = serial.portName();
    s.lineSettings = serial.settings();
    s.chunkLimit = links_->chunkLimit();
    s.encoding = outbox_->encoding();
    s.continuousPlay = driver_->continuousPlayActive();
    s.sequence = driver_->activeSequence();
    s.crash = driver_->crashCounters();
    s.chipHung = driver_->chipHung();
    s.serialBacklog = serial.backlog();
    s.largestSerialBacklog = serial.largestBacklog();
    s.journalPath = folder_->log().journalPath();
    s.capturePath = folder_->capture().path();
    return s;
}

const worklog::WorkLog& ConsoleSession::workLog() const {
    return folder_->log();
}

// --- the working folder ---

void ConsoleSession::openWorkFolder(const QString& folder) {
    folder_->open(folder, std::exchange(resultsKept_, std::nullopt));
}

void ConsoleSession::loadInitialText() {
    if (const auto text = folder_->initialText())
        text_.setText(*text);
}

void ConsoleSession::endRun() {
    driver_->end();
    // The link says when its frames are out; the limit keeps a link that
    // never finishes from holding the end.
    QElapsedTimer waited;
    waited.start();
    auto* poll = new QTimer(this);
    poll->setInterval(kEndRunPollMs);
    connect(poll, &QTimer::timeout, this, [this, poll, waited] {
        if (links_->active().busy() && waited.elapsed() < kEndRunLimitMs)
            return;
        poll->deleteLater();
        emit runEnded();
    });
    poll->start();
}

std::optional<QString> ConsoleSession::closeWorkFolder() {
    driver_->halt();
    links_->closeSerial();
    return folder_->close();
}

void ConsoleSession::showMessage(const QString& text, std::function<void()> afterOk) {
    gate_.show(text, std::move(afterOk));
}

// --- frames ---

void ConsoleSession::sendFrame(QByteArrayView frame) {
    outbox_->send(frame);
}

void ConsoleSession::stop() {
    driver_->stop();
}

ConsoleSession::SelectionSend ConsoleSession::synthesize() {
    return driver_->synthesize();
}

ConsoleSession::SelectionSend ConsoleSession::speak() {
    return driver_->speak();
}

ConsoleSession::SelectionSend ConsoleSession::storeInCache(std::uint8_t segment) {
    driver_->interruptPlay();
    return outbox_->sendSelection(protocol::Command::CacheStore, segment);
}

void ConsoleSession::interruptPlay() {
    driver_->interruptPlay();
}

void ConsoleSession::clearWorkLog() {
    folder_->log().clear();
    folder_->capture().event(QString::fromUtf8(kClearEvent));
}

// --- links ---

bool ConsoleSession::selectPort(const QString& port) {
    driver_->interruptPlay();
    return links_->selectPort(port);
}

bool ConsoleSession::setLineSettings(const QString& settings) {
    return links_->setLineSettings(settings);
}

void ConsoleSession::useUsbLink(bool usb) {
    if (usb != links_->usbActive())
        driver_->linkChanged();
    if (!usb) {
        links_->chooseSerial();
        return;
    }
    links_->chooseUsb();
    showMessage(QLatin1Char(' ') + QString::number(links_->chunkLimit()) +
                QString::fromUtf8(kChunkLimitNotice));
    links_->findBridge();
}

void ConsoleSession::setRepliesDecoded(bool decoded) {
    driver_->setRepliesDecoded(decoded);
}

void ConsoleSession::setHexPrefixShown(bool shown) {
    folder_->log().setHexPrefix(shown ? QString::fromLatin1(kHexPrefix) : QString());
}

void ConsoleSession::setEncoding(int code) {
    outbox_->setEncoding(code);
}

// --- test tools ---

bool ConsoleSession::startContinuousPlay(std::optional<double> seconds) {
    return driver_->startContinuousPlay(seconds);
}

void ConsoleSession::toggleSequence(Sequence which, int baseMs, int passes) {
    driver_->toggleSequence(which, baseMs, passes);
}

void ConsoleSession::crashStep() {
    driver_->crashStep();
}

} // namespace qav::session
