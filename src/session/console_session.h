#pragma once
// The console session: what happens between the links and the subsystems,
// without a window. The window and the runner are its two faces: they read
// their inputs, ask the session through its intents, and show what it says
// through its queries, its signals and the message gate. Its state and its
// parts are its own.
//
//   serial link ──replyBytes()──> MSComm1_OnComm ──> log line ──> idle actions ──> synthesize
//   USB link ──replyBytes()──> PollBridgeReply ──> log line
//            └─frameTaken()/ackExpired()──> the rest of a long text
//
// One call builds nothing but logs, captures and sends a frame, so the
// logged bytes are the sent bytes. The session runs the next step the replies
// call for (the crash step and continuous play on the chip's idle reply, the
// rest of a long text when the bridge has taken a frame), plays the timed
// test sequences, and watches every run: a chip that stays silent is asked,
// and a hang is written down with its time (watchdog.h).

#include "link/hid_bridge.h"
#include "protocol/frame.h"
#include "session/message_gate.h"
#include "session/run_step.h"
#include "tools/crash_test.h"
#include "worklog/capture_file.h"
#include "worklog/work_log.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace qav::link {
class Link;
class SerialLink;
class FrameDispatcher;
} // namespace qav::link

namespace qav::tools {
class StepPlayer;
struct TestStep;
} // namespace qav::tools

namespace qav::session {

class CrashResults;
class SendText;
class Watchdog;

class ConsoleSession : public QObject {
    Q_OBJECT
public:
    // Shown whenever a serial port cannot be opened or has gone away.
    static constexpr const char* kPortMessage =
        "串口不存在或被占用,若电脑没有串口，请使用USB转串口设备";
    static constexpr const char* kUsbConnectFailed = "USB连接失败";
    // Shown behind the chunk limit when the USB link is chosen.
    static constexpr const char* kChunkLimitNotice =
        "字节：这是每次发送的最大文本字节长度（不含帧头的5字节）！长文本请在F320中直接测试！"
        "目前F320最多仅能缓存此字节数！大于此字节数需分包发送，但通讯握手需20ms，"
        "大于帧与帧之间的最短间隔时间8ms，不可测试！";
    // The files of a working folder.
    static constexpr const char* kInitialTextFile = "初始默认文本.txt";
    static constexpr const char* kCrashResultFile = "死机测试文本-测试结果.txt";
    static constexpr const char* kLogFile = "LOG.txt";

    // How long a run waits for the chip and its links; tests set them lower.
    struct Timing {
        int silenceMs = 60'000;       // no byte from the chip this long: ask it
        int queryWaitMs = 3'000;      // for the answer to one status query
        int recoveryPollMs = 10'000;  // how often a hung chip is asked again
        int usbAckTimeoutMs = 500;    // for the bridge's acknowledgement
        double sequenceTimeScale = 1; // 1000 plays a 1 s wait of a sequence in 1 ms
    };

    enum class SelectionSend { Sent, Empty, TableMissing };
    enum class Sequence { None, InterruptedPlay, Script123, Script45 };

    // bridge: the HID bridge behind the USB link (hidapi in the program, the
    // bridge emulator in tests); none means no bridge is ever found.
    explicit ConsoleSession(MessageSink& messages, std::unique_ptr<link::HidBridge> bridge = {},
                            QObject* parent = nullptr);
    ~ConsoleSession() override;

    void setTiming(const Timing& timing);
    const Timing& timing() const { return timing_; }
    // The send text area, which synthesis reads and the tools fill.
    void setSendText(SendText* text) { sendText_ = text; }
    // Where the conversion table is looked for; the program's own folder when empty.
    void setConversionTableFolder(const QString& folder) { tableFolder_ = folder; }
    // Only COMn entries of the working folder are used for ports, never the
    // machine's own (hermetic tests).
    void setSystemPortsUsed(bool used);

    // --- what the faces show ---
    const worklog::WorkLog& workLog() const { return log_; }
    int chunkLimit() const { return chunkLimit_; }
    int encodingCode() const { return encodingCode_; }
    bool useUsbLink() const;
    bool portOpen() const;
    // The link the frames go to (the serial port or the bridge) is open.
    bool linkOpen() const;
    int commPort() const;
    QString portName() const;
    QString lineSettings() const;
    // Continuous play's countdown runs.
    bool continuousPlayActive() const;
    Sequence activeSequence() const { return active_; }
    tools::CrashCounters crashCounters() const { return run_.crash; }
    bool chipHung() const;
    // Bytes of frames not yet out of the serial port, now and at most.
    qint64 serialBacklog() const;
    qint64 largestSerialBacklog() const;
    QString journalPath() const { return log_.journalPath(); }
    // The run's pcapng capture beside the journal; empty when there is none.
    QString capturePath() const { return capture_.path(); }

    // --- the working folder (session_records.cpp) ---
    // The start of a run in folder: logs that runs which did not close left
    // behind go into LOG.txt, each as its own block; this run's journal and
    // capture start there (the capture is named after the journal and never
    // removed), and the crash-test result file is opened, emptied. What
    // cannot be done is said once.
    void openWorkFolder(const QString& folder);
    // The initial text file of the working folder into the send text area (an
    // absent file is created empty).
    void loadInitialText();
    // The end of a run as a face ends it, before closeWorkFolder(): "停止"
    // goes out when the link is open, and from then on no reply starts
    // anything (the crash test would run its next step at the stop's idle
    // reply). runEnded() follows once the frames under way, the stop among
    // them, have left the link, or after kEndRunLimitMs.
    void endRun();
    static constexpr int kEndRunLimitMs = 15'000;
    // The end of a run: everything stops, the port closes, the log goes into
    // LOG.txt and the journal is removed. The reason when the log could not be
    // exported; the journal then stays for the next start.
    std::optional<QString> closeWorkFolder();
    // A message of the faces, through the one gate of the console.
    void showMessage(const QString& text, std::function<void()> afterOk = {});

    // --- frames (console_session.cpp) ---
    // Logs exactly these bytes as one sent frame, captures and dispatches them.
    void sendFrame(QByteArrayView frame);
    void sendCommand(protocol::Command command); // FD 00 01 <command>
    // "停止": ends the sequences, continuous play and the watchdog's wait,
    // takes back the frames that have not gone out, then sends the stop frame.
    void stop();
    // Speaks the selection of the send text (all of it when nothing is
    // selected), cut to the chunk limit; afterwards the selection covers
    // exactly the text sent. A request made here ends continuous play.
    SelectionSend synthesize();
    // A synthesis that a face waits on: as synthesize(), and the watchdog
    // watches until the chip's idle reply, which spoken() follows.
    SelectionSend speak();
    // The same selection rule and cut, sent to the chip's cache.
    SelectionSend storeInCache(std::uint8_t segment);
    // The reply-driven next step does not follow: continuous play and the
    // rest of a long text end here.
    void interruptPlay();
    // Clears the work log ("清空--工作记录").
    void clearWorkLog();

    // --- links (console_session.cpp) ---
    // Closes the port and opens COM(listIndex + 1); shows the port message
    // when that fails or the index is not a port. True when open.
    bool selectPort(int listIndex);
    // Opens a serial device by its path (the runner's --port /dev/ttyUSB0).
    bool selectPortDevice(const QString& path);
    bool setLineSettings(const QString& settings); // "9600,N,8,1"
    void chooseSerialLink();
    // The chunk limit and its notice, then the bridge is searched for.
    void chooseUsbLink();
    bool findBridge(); // "USB连接失败" when not found
    // Off: serial replies wait in the port and start nothing.
    void setRepliesDecoded(bool decoded);
    void setHexPrefixShown(bool shown);
    void setEncoding(int code); // 0 .. 4

    // --- replies (session_replies.cpp) ---
    // The bytes the serial port received, after its reply pause.
    void MSComm1_OnComm(const QByteArray& received);
    // The reply byte of one input report of the bridge.
    void PollBridgeReply(const QByteArray& reply);

    // --- test tools (session_tools.cpp) ---
    // seconds: what the duration box says, nothing when it is empty.
    // Refused with a message when no time is left.
    bool startContinuousPlay(std::optional<double> seconds);
    // Starts the sequence, or stops it when it is the one running.
    void toggleSequence(Sequence which, int baseMs = 0, int passes = 0);
    void stopSequences();
    void crashStep();
    void loadEnglishChineseText();

signals:
    // A synthesis request gives the send text the focus.
    void focusSendText();
    // Every frame as it is logged and sent.
    void frameSent(const QByteArray& frame);
    // A reply the work log shows, by its code.
    void replyLogged(std::uint8_t code);
    // A step of a run begins: a crash step, a round of continuous play, a
    // step of a sequence.
    void stepStarted(const qav::session::RunStep& step);
    // The watchdog's verdict and the chip's return, as the log has them.
    void chipHangRecorded(const QString& line);
    void chipRecoveryRecorded(const QString& line);
    // The link the frames go to was lost, or is back.
    void linkLost();
    void linkBack();
    void continuousPlayEnded();
    void runEnded();
    // The idle reply that ends a speak().
    void spoken();

private:
    // console_session.cpp
    void connectLinks();
    void connectSerialLink();
    void connectUsbLink();
    void connectCapture();
    link::Link& activeLink() const;
    bool sequenceMayGoOn() const;
    SelectionSend sendSelection(protocol::Command command, std::uint8_t parameter);
    void logLine(const QString& line);
    void logEvent(const QString& line);
    // session_replies.cpp
    void onIdleReply();
    void onSpokenIdle();
    void onLinkFree();
    void onFrameTaken();
    void onAckExpired();
    void chipSpoke();
    // session_tools.cpp
    void countDown();
    void performStep(const tools::TestStep& step);
    void beginStep(RunStep step);
    // session_watch.cpp
    void connectWatchdog();
    bool runWaitsForChip() const;
    void armWatchdog();
    void onSilence(qint64 seconds);
    void onHang(qint64 seconds);
    void onRecovered(qint64 seconds);
    void resumeRun();
    // session_records.cpp
    void openCrashResults(const QString& path);
    void writeCrashResult(const QByteArray& gbkLine);

    MessageGate gate_;
    worklog::WorkLog log_;
    worklog::CaptureFile capture_;
    Timing timing_;
    std::unique_ptr<link::HidBridge> bridge_;
    // Children of the session, held here so that they go before the bridge.
    std::unique_ptr<link::SerialLink> serial_;
    std::unique_ptr<link::Link> usb_;
    std::unique_ptr<link::FrameDispatcher> dispatcher_;
    std::unique_ptr<tools::StepPlayer> player_;
    std::unique_ptr<Watchdog> watchdog_;
    std::unique_ptr<CrashResults> crashResults_;
    SendText* sendText_ = nullptr;
    QString tableFolder_;
    QString folder_; // the working folder; the current one until openWorkFolder

    // The console's record, as its fields are known.
    int chunkLimit_ = protocol::kSerialChunkLimit;
    int encodingCode_ = int(protocol::Encoding::Gbk);
    int lastFrameIndex_ = 0; // of the frame last logged and sent
    bool repliesDecoded_ = true;

    // What the chip's replies start next. Only the session writes it.
    struct ReplyDrivenRun {
        bool continueSynthesis = false; // the next reply starts another synthesis
        double replayCount = 0;         // seconds of continuous play left
        tools::CrashCounters crash;
        qint64 continuousRounds = 0; // since continuous play last started
        QTimer* countdown = nullptr; // continuous play, once a second
    } run_;
    Sequence active_ = Sequence::None;
    RunStep step_;                    // the step of the run under way, for the verdict
    bool resumeAfterReplies_ = false; // the chip is back: go on once its bytes are read
    bool awaitingSpoken_ = false;     // speak() waits for the idle reply
    bool idleDeferred_ = false;       // an idle reply's step waits for the frames before it
    bool sendingStep_ = false;        // the frames sent now are a reply-driven step
    bool lastFrameIsStep_ = false;    // the frame last handed to the link was such a step

    QString crashResultsProblem_; // why the result file is not open, until said
    bool crashResultsWriteReported_ = false;
    QStringList unreadableCrashTexts_; // crash-test files already reported
};

} // namespace qav::session
