#pragma once
// The console session: what happens between the links and the subsystems,
// without a window. The window and the runner are its two faces: they read
// their inputs, ask the session through its intents, and show what it says
// through its status, its signals and the message gate.
//
// It is a thin hub over parts with one owner each:
//   WorkFolder  the work log and its journal, the capture, the crash test's
//               result file, the initial text
//   Links       the serial port and the USB bridge, made by the link factory
//   Outbox      the one call that logs and sends a frame; the synthesis request
//   RunDriver   what a reply does next, the sequences, and the watchdog
//
//   link ──replyBytes──> RunDriver ──log line──> next step ──> Outbox ──> link

#include "link/hid_bridge.h"
#include "session/message_gate.h"
#include "session/outbox.h"
#include "session/run_driver.h"
#include "session/run_step.h"
#include "session/text_buffer.h"
#include "session/work_folder.h"
#include "tools/crash_test.h"
#include "worklog/work_log.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace qav::session {

class Links;
class WorkFolder;

// How a session is made: how long a run waits for the chip and its links,
// and where it looks for things. Tests set the waits lower.
struct SessionOptions {
    int silenceMs = 60'000;       // the chip says nothing this long: ask it
    int queryWaitMs = 3'000;      // for the answer to one status query
    int recoveryPollMs = 10'000;  // how often a hung chip is asked again
    int usbAckTimeoutMs = 500;    // for the bridge's acknowledgement
    double sequenceTimeScale = 1; // 1000 plays a 1 s wait of a sequence in 1 ms
    // Where the conversion table is looked for; the program's own folder when empty.
    QString tableFolder;
    // Off: only COMn entries of the working folder are ports (hermetic tests).
    bool systemPorts = true;
    // A crash test that goes on where an earlier run of the program stopped:
    // the counters after its last step, and how much of the result file is
    // kept (what follows is cut off) and appended to, instead of emptied.
    struct CrashResume {
        tools::CrashCounters next;
        qint64 keepBytes = 0;
    };
    std::optional<CrashResume> crashResume;
};

class ConsoleSession : public QObject {
    Q_OBJECT
public:
    // How long the end of a run waits at most for the frames under way.
    static constexpr int kEndRunLimitMs = 15'000;

    using SelectionSend = Outbox::SelectionSend;
    using Sequence = RunDriver::Sequence;

    using Options = SessionOptions;

    // What the faces show.
    struct Status {
        bool usbLink = false;  // frames go to the bridge
        bool portOpen = false; // the serial port
        bool linkOpen = false; // the link the frames go to
        int commPort = 1;
        QString portName; // the device the serial port uses
        QString lineSettings;
        int chunkLimit = 0;
        int encoding = 1;
        bool continuousPlay = false; // its countdown runs
        Sequence sequence = Sequence::None;
        tools::CrashCounters crash;
        bool chipHung = false;
        qint64 serialBacklog = 0; // bytes of frames not yet out of the port, now and at most
        qint64 largestSerialBacklog = 0;
        QString journalPath;
        QString capturePath; // the run's pcapng capture; empty when there is none
    };

    // bridge: the HID bridge behind the USB link (hidapi in the program, the
    // bridge emulator in tests); none means no bridge is ever found.
    ConsoleSession(MessageSink& messages, std::unique_ptr<link::HidBridge> bridge = {},
                   const Options& options = {}, QObject* parent = nullptr);
    ~ConsoleSession() override;

    Status status() const;
    const worklog::WorkLog& workLog() const;
    // The send text, which synthesis reads and the tools fill; the window
    // shows it and writes the engineer's edits into it.
    TextBuffer& sendText() { return text_; }

    // --- the working folder ---
    // The start of a run in folder: what earlier runs left behind is
    // recovered, and this run's journal, capture and result file start.
    void openWorkFolder(const QString& folder);
    // The initial text file into the send text (an absent file is created empty).
    void loadInitialText();
    // The end of a run as a face ends it, before closeWorkFolder(): "停止"
    // goes out when the link is open, and from then on no reply starts
    // anything. runEnded() follows once the frames under way have left the
    // link, or after kEndRunLimitMs.
    void endRun();
    // Everything stops, the port closes, the log goes into LOG.txt. The
    // reason when the log could not be exported.
    std::optional<QString> closeWorkFolder();
    // A message of the faces, through the one gate of the console.
    void showMessage(const QString& text, std::function<void()> afterOk = {});

    // --- frames ---
    // Logs exactly these bytes as one sent frame and sends them.
    void sendFrame(QByteArrayView frame);
    void stop();
    // Speaks the selection of the send text (all of it when nothing is
    // selected), cut to the chunk limit. A request made here ends continuous play.
    SelectionSend synthesize();
    // As synthesize(); spoken() follows the chip's idle reply.
    SelectionSend speak();
    // The same selection rule and cut, sent to the chip's cache.
    SelectionSend storeInCache(std::uint8_t segment);
    // The reply-driven next step does not follow.
    void interruptPlay();
    void clearWorkLog(); // "清空--工作记录"

    // --- links ---
    // "COM1" .. "COM20", or a serial device by its path; the port message
    // when it cannot be opened. True when open.
    bool selectPort(const QString& port);
    bool setLineSettings(const QString& settings); // "9600,N,8,1"
    // The bridge: the chunk limit's notice, then the bridge is searched for
    // ("USB连接失败" when it is not found).
    void useUsbLink(bool usb);
    // Off: serial replies wait in the port and start nothing.
    void setRepliesDecoded(bool decoded);
    void setHexPrefixShown(bool shown);
    void setEncoding(int code); // 0 .. 4

    // --- test tools ---
    bool startContinuousPlay(std::optional<double> seconds);
    // Starts the sequence, or stops it when it is the one running (None stops any).
    void toggleSequence(Sequence which, int baseMs = 0, int passes = 0);
    void crashStep();

signals:
    void focusSendText();
    void frameSent(const QByteArray& frame);
    void replyLogged(std::uint8_t code);
    void stepStarted(const qav::session::RunStep& step);
    void chipHangRecorded(const QString& line);
    void chipRecoveryRecorded(const QString& line);
    // The link the frames go to was lost, or is back.
    void linkLost();
    void linkBack();
    void continuousPlayEnded();
    void runEnded();
    void spoken();

private:
    MessageGate gate_;
    TextBuffer text_;
    std::unique_ptr<WorkFolder> folder_;
    std::unique_ptr<Links> links_;
    std::unique_ptr<Outbox> outbox_;
    std::unique_ptr<RunDriver> driver_;
    std::optional<qint64> resultsKept_; // for the first opening of the working folder
};

} // namespace qav::session
