#pragma once
// qav7120-run's face on the console session: it reads its options where the
// window reads its controls, asks the session through the same intents, and
// reports what the session says: a progress line, a summary, a JUnit report,
// the reply times of every frame, and an exit code.
//
//   start() ──checks──> openWorkFolder, link ──> the test's intent
//        session signals ──> progress, reply times, report cases
//   the time is up / a signal / the link stays away
//        ──> stop ──> the stop frame leaves ──> closeWorkFolder ──> reports ──> ended(code)

#include "report/percentiles.h"
#include "report/recent_traffic.h"
#include "runner/event_command.h"
#include "runner/frame_timing.h"
#include "runner/junit_report.h"
#include "runner/run_options.h"
#include "runner/terminal.h"
#include "session/console_session.h"
#include "session/text_buffer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>

namespace qav::link {
class HidBridge;
}
namespace qav::session {
struct RunStep;
} // namespace qav::session

namespace qav::runner {

class Runner : public QObject {
    Q_OBJECT
public:
    enum ExitCode {
        kPassed = 0,
        kChipHung = 1,   // one or more hangs recorded
        kUsage = 2,      // the command line
        kLinkFailed = 3, // not opened, or lost longer than the link timeout
        kFileProblem = 4 // a file the test needs or writes
    };
    // How long the end of a run waits for the stop frame to leave.
    // The step name of a single synthesis (speak), which is no step of a run.
    static constexpr const char* kSpeakStep = "合成";
    // Verdict and recovery lines kept for the summary; the log has them all.
    static constexpr qsizetype kHangLinesKept = 100;

    // bridge: the USB bridge, for --usb. Messages and progress go to
    // terminal, the summary to summaryOut.
    Runner(RunOptions options, std::unique_ptr<link::HidBridge> bridge, Terminal& terminal,
           std::FILE* summaryOut, QObject* parent = nullptr);
    ~Runner() override;

    // Checks the files, opens the working folder and the link, and starts
    // the test; ended() follows, also when it could not start.
    void start();
    // SIGINT or SIGTERM: the run stops as at its end; exit code 128 + signal.
    void interrupt(int signalNumber);
    bool isEnding() const { return ending_; }

signals:
    void ended(int exitCode);

private:
    // runner.cpp
    std::optional<QString> checkFiles();
    std::optional<QString> readSendText();
    std::optional<QString> readResume();
    bool openLink();
    void connectSession();
    void startTest();
    void armDuration();
    void onFrameSent(const QByteArray& frame);
    void onReply(std::uint8_t code);
    void onStep(const session::RunStep& step);
    void onHang(const QString& line);
    void onRecovery(const QString& line);
    void onSettled(const FrameTiming& timing);
    void announce(const QString& event, const QString& line);
    qint64 now() const { return clock_.elapsed(); }
    bool usesSendText() const;
    // runner_end.cpp
    void finish(int exitCode, bool stopChip, const QString& why = QString());
    void complete();
    int passedOrHung() const { return hangs_ > 0 ? kChipHung : kPassed; }
    void showProgress();
    QString progressLine() const;
    QString summary(const QStringList& written) const;
    JUnitReport::Suite suite() const;
    void endEarly(int exitCode, const QString& why);

    RunOptions options_;
    Terminal& terminal_;
    std::FILE* summaryOut_;
    TerminalMessageSink sink_;
    std::unique_ptr<link::HidBridge> bridge_; // until the session takes it
    std::unique_ptr<session::ConsoleSession> session_;
    std::optional<session::SessionOptions::CrashResume> crashResume_;
    QString resumedAfter_; // the result file's last step line, with --resume
    std::unique_ptr<EventCommand> onHang_;
    QString sendText_; // from --say or --text
    QString device_;   // the serial device the port opened

    // The run's record.
    QElapsedTimer clock_;
    QDateTime startedAt_;
    qint64 steps_ = 0;
    qint64 hangs_ = 0;
    QStringList hangLines_; // verdicts and recoveries, for the summary; the first few
    QString stepName_;
    QString unit_;
    bool framesSent_ = false;
    std::optional<std::uint8_t> lastReply_;
    qint64 lastReplyMs_ = 0;
    qint64 lastChipMs_ = 0; // the chip's last byte, or the first frame
    qint64 longestSilenceMs_ = 0;
    report::RecentTraffic recent_; // the last frames and replies, for a hang's report
    report::Percentiles frameToIdle_;
    ReplyMatcher matcher_;
    TimingCsv csv_;
    JUnitReport junit_;
    bool continuousEnded_ = false;

    QTimer duration_; // chained: a run may be longer than one timer holds
    qint64 deadlineMs_ = -1;
    QTimer linkWait_; // the lost link's time to come back
    QTimer idleWait_; // continuous play's last round
    QTimer tick_;     // the progress line
    bool ending_ = false;
    int exitCode_ = kPassed;
};

} // namespace qav::runner
