#pragma once
// What a run keeps in its working folder, in one place: the work log with
// its journal (LOG.txt at the end), the capture of every byte, the crash
// test's result file and the initial text. Opening the folder recovers what
// earlier runs left behind; closing it exports the log. Whatever cannot be
// kept is said once, through the message gate, and the run goes on.

#include "worklog/capture_file.h"
#include "worklog/work_log.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

namespace qav::session {

class CrashResults;
class MessageGate;

class WorkFolder : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kInitialTextFile = "初始默认文本.txt";
    static constexpr const char* kCrashResultFile = "死机测试文本-测试结果.txt";
    static constexpr const char* kLogFile = "LOG.txt";

    explicit WorkFolder(MessageGate& gate, QObject* parent = nullptr);
    ~WorkFolder() override;

    // Logs that runs which did not close left behind go into LOG.txt, each
    // as its own block; this run's journal and capture start there (the
    // capture is named after the journal and never removed), and the result
    // file is opened, emptied; or, with keepResults, cut to that many bytes
    // and appended to (a crash test that goes on).
    void open(const QString& folder, std::optional<qint64> keepResults = {});
    // The log goes into LOG.txt and the journal is removed; the capture is
    // closed. The reason when the log could not be exported: the journal
    // then stays for the next start.
    std::optional<QString> close();

    QString path() const { return folder_; }
    QString filePath(const QString& name) const;
    // The initial text file's text (an absent file is created empty).
    std::optional<QString> initialText() const;

    worklog::WorkLog& log() { return log_; }
    const worklog::WorkLog& log() const { return log_; }
    worklog::CaptureFile& capture() { return capture_; }
    const worklog::CaptureFile& capture() const { return capture_; }

    void logLine(const QString& line) { log_.appendLine(line); }
    // A line about the console's own doings (a link lost or back, the
    // watchdog), which the capture keeps too, with its time.
    void logEvent(const QString& line);
    // One line of the crash test's result file, already in GBK; written
    // through to the system before the chip is given the step.
    void writeCrashResult(const QByteArray& gbkLine);

private:
    void openCrashResults(const QString& path, std::optional<qint64> keepBytes);

    MessageGate& gate_;
    worklog::WorkLog log_;
    worklog::CaptureFile capture_;
    std::unique_ptr<CrashResults> crashResults_;
    QString folder_;
    QString crashResultsProblem_; // why the result file is not open, until said
    bool crashResultsWriteReported_ = false;
};

} // namespace qav::session
