#pragma once
// The console session: what happens between the links and the subsystems,
// without a window. It builds, logs and sends frames (one call does all three,
// so the logged bytes are the sent bytes), decodes the replies that the links
// push to it, and runs the next step they call for: the crash step and
// continuous play on the chip's idle reply, the rest of a long text on the
// bridge's acknowledgement. It plays the timed test sequences and stops them.
//
//   port ──received()──> MSComm1_OnComm ──> log line ──> idle actions ──> synthesize
//   bridge ──inputReport()──> PollBridgeReply ──> log line / acknowledgement ──> next piece
//
// The window reads its controls, calls the session, and shows what the
// session asks it to show through the message gate.

#include "link/hid_bridge.h"
#include "session/console_state.h"
#include "session/message_gate.h"
#include "tools/step_player.h"
#include "worklog/work_log.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>

class QFile;

namespace qav::link {
class FrameDispatcher;
class SerialPortService;
class UsbPacketSender;
} // namespace qav::link

namespace qav::session {

class SendText;

class ConsoleSession : public QObject {
    Q_OBJECT
public:
    // Shown whenever a serial port cannot be opened or has gone away.
    static constexpr const char* kPortMessage =
        "串口不存在或被占用,若电脑没有串口，请使用USB转串口设备";
    static constexpr const char* kUsbConnectFailed = "USB连接失败";
    // How often a bridge that failed is searched for again.
    static constexpr int kBridgeWatchIntervalMs = 1000;

    // bridge: the HID bridge behind the USB link (hidapi in the program, the
    // bridge emulator in tests); none means no bridge is ever found.
    explicit ConsoleSession(MessageSink& messages, std::unique_ptr<link::HidBridge> bridge = {},
                            QObject* parent = nullptr);
    ~ConsoleSession() override;

    ConsoleState& state() { return state_; }
    worklog::WorkLog& workLog() { return log_; }
    MessageGate& messages() { return gate_; }
    link::SerialPortService& serialPort() { return *serial_; }
    link::FrameDispatcher& dispatcher() { return *dispatcher_; }
    link::UsbPacketSender& usbSender() { return *usb_; }
    link::HidBridge* bridge() const { return bridge_.get(); }
    tools::StepPlayer& stepPlayer() { return player_; }
    QTimer& countdownTimer() { return countdown_; } // continuous play, once a second

    // The send text area, which synthesis reads and the tools fill.
    void setSendText(SendText* text) { sendText_ = text; }
    // Where the conversion table is looked for; the program's own folder when empty.
    void setConversionTableFolder(const QString& folder) { tableFolder_ = folder; }

    // --- frames (console_session.cpp) ---
    // Logs exactly these bytes as one sent frame and dispatches them.
    void sendFrame(QByteArrayView frame);
    void sendCommand(protocol::Command command); // FD 00 01 <command>
    // "停止": ends the test sequences and continuous play, then sends the stop frame.
    void stop();
    enum class SelectionSend { Sent, Empty, TableMissing };
    // Speaks the selection of the send text (all of it when nothing is
    // selected), cut to the chunk limit; afterwards the selection covers
    // exactly the text sent. Clears continueSynthesis first.
    SelectionSend synthesize();
    // The same selection rule and cut, sent to the chip's cache.
    SelectionSend storeInCache(std::uint8_t segment);

    // --- links (console_session.cpp) ---
    // Closes the port and opens COM(listIndex + 1); shows the port message
    // when that fails or the index is not a port. True when open.
    bool selectPort(int listIndex);
    void chooseSerialLink();
    // The chunk limit and its notice, then the bridge is searched for.
    void chooseUsbLink();
    bool findBridge(); // "USB连接失败" when not found
    bool useUsbLink() const;
    // Off: replies wait in the port and start nothing.
    void setRepliesDecoded(bool decoded);
    void setHexPrefixShown(bool shown);

    // --- replies (session_replies.cpp) ---
    // The bytes the port received, after its reply pause.
    void MSComm1_OnComm(const QByteArray& received);
    // One input report of the bridge, report ID first.
    void PollBridgeReply(const QByteArray& report);

    // --- test tools (session_tools.cpp) ---
    // seconds: what the duration box says, nothing when it is empty.
    // Refused with a message when no time is left.
    bool startContinuousPlay(std::optional<double> seconds);
    void countDown(); // one tick of the countdown
    enum class Sequence { None, InterruptedPlay, Script123, Script45 };
    // Starts the sequence, or stops it when it is the one running.
    void toggleSequence(Sequence which, int baseMs = 0, int passes = 0);
    void stopSequences();
    Sequence activeSequence() const { return active_; }
    // Opens the crash-test result file, emptied, for the rest of the run.
    bool openCrashResultFile(const QString& path);
    QFile* crashResultFile() const { return crashResults_.get(); }
    void crashStep();
    void loadEnglishChineseText();

    bool watchingForBridge() const { return bridgeWatch_.isActive(); }

private:
    void connectLinks();
    void onPortLost();
    void onBridgeReadFailed(const QString& reason);
    void lookForBridge();
    bool sequenceMayGoOn() const;
    SelectionSend sendSelection(protocol::Command command, std::uint8_t parameter);
    void onIdleReply();
    void performStep(const tools::TestStep& step);
    void showMessage(const QString& text) { gate_.show(text); }

    MessageGate gate_;
    ConsoleState state_;
    worklog::WorkLog log_;
    std::unique_ptr<link::HidBridge> bridge_;
    link::SerialPortService* serial_ = nullptr;
    link::UsbPacketSender* usb_ = nullptr;
    link::FrameDispatcher* dispatcher_ = nullptr;
    tools::StepPlayer player_;
    QTimer countdown_;
    QTimer bridgeWatch_;
    SendText* sendText_ = nullptr;
    QString tableFolder_;
    Sequence active_ = Sequence::None;
    std::unique_ptr<QFile> crashResults_;
    QString crashResultsProblem_;            // why it is not open, until said
    bool crashResultsWriteReported_ = false; // a failed line is said once a run
    QStringList unreadableCrashTexts_;       // crash-test files already reported
};

} // namespace qav::session
