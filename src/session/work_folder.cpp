#include "session/work_folder.h"

#include "session/crash_results.h"
#include "session/message_gate.h"
#include "tools/initial_text.h"
#include "worklog/journal.h"

#include <QDir>
#include <QFileInfo>

namespace qav::session {

namespace {
constexpr const char* kFolderUnwritable = "无法在工作文件夹中保存文件：";
constexpr const char* kLogKeptIn = "工作记录暂存在";
constexpr const char* kLogOnlyInMemory = "工作记录只保存在内存中。";
constexpr const char* kJournalKeptIn = "工作记录保存在";
constexpr const char* kAddedAtNextStart = "中，下次在此文件夹启动时将添加到LOG.txt。";
constexpr const char* kKeptThere = "中。";
constexpr const char* kCaptureNotOpened = "抓包文件未能创建：";
constexpr const char* kResultFileNotOpened = "死机测试结果文件未能打开：";
constexpr const char* kResultFileNotWritten = "死机测试结果未能写入文件：";
constexpr const char* kRunGoesOn = "测试继续进行，工作记录照常记录每一步。";
} // namespace

WorkFolder::WorkFolder(MessageGate& gate, QObject* parent)
    : QObject(parent), gate_(gate), crashResults_(std::make_unique<CrashResults>()),
      folder_(QDir::currentPath()) {
    connect(&log_, &worklog::WorkLog::storageProblem, this,
            [this](const QString& text) { gate_.show(text, {}, MessageGate::Notice); });
    connect(&capture_, &worklog::CaptureFile::storageProblem, this,
            [this](const QString& text) { gate_.show(text, {}, MessageGate::Notice); });
}

WorkFolder::~WorkFolder() = default;

QString WorkFolder::filePath(const QString& name) const {
    return QDir(folder_).filePath(name);
}

void WorkFolder::open(const QString& folder, std::optional<qint64> keepResults) {
    folder_ = QDir(folder).absolutePath();
    // A folder where nothing can be kept is said once; the log then lives in
    // the temporary folder.
    worklog::Journal::recoverJournals(folder_, filePath(QString::fromUtf8(kLogFile)));
    if (const auto error = log_.openJournal(folder_)) {
        const bool elsewhere = !log_.openJournal(QDir::tempPath());
        gate_.show(QString::fromUtf8(kFolderUnwritable) + QDir::toNativeSeparators(folder_) +
                       QLatin1Char('\n') + *error + QLatin1Char('\n') +
                       (elsewhere ? QString::fromUtf8(kLogKeptIn) +
                                        QDir::toNativeSeparators(log_.journalPath())
                                  : QString::fromUtf8(kLogOnlyInMemory)),
                   {}, MessageGate::Notice);
    }
    // Beside the journal, wherever it went; nowhere when it lives in memory.
    const QString capture = worklog::capturePathForJournal(log_.journalPath());
    if (!capture.isEmpty()) {
        if (const auto error = capture_.open(capture))
            gate_.show(QString::fromUtf8(kCaptureNotOpened) + QDir::toNativeSeparators(capture) +
                           QStringLiteral("：") + *error,
                       {}, MessageGate::Notice);
    }
    openCrashResults(filePath(QString::fromUtf8(kCrashResultFile)), keepResults);
}

std::optional<QString> WorkFolder::close() {
    const QString logPath = filePath(QString::fromUtf8(kLogFile));
    if (const auto error = log_.exportTo(logPath)) {
        // The journal stays: say where, and whether the next start finds it.
        QString reason = *error;
        // What was held only in memory goes with the console.
        if (const qint64 lost = log_.unsavedBytes())
            reason +=
                QLatin1Char('\n') + QString::fromUtf8(worklog::WorkLog::kUnsavedMessage).arg(lost);
        const QFileInfo journal(log_.journalPath());
        if (!log_.journalPath().isEmpty()) {
            const bool here = journal.absolutePath() == QDir(folder_).absolutePath();
            reason += QLatin1Char('\n') + QString::fromUtf8(kJournalKeptIn) +
                      (here ? journal.fileName() + QString::fromUtf8(kAddedAtNextStart)
                            : QDir::toNativeSeparators(journal.filePath()) +
                                  QString::fromUtf8(kKeptThere));
        }
        capture_.close();
        return reason;
    }
    log_.removeJournal();
    capture_.close();
    return std::nullopt;
}

std::optional<QString> WorkFolder::initialText() const {
    return tools::readInitialText(filePath(QString::fromUtf8(kInitialTextFile)));
}

void WorkFolder::logEvent(const QString& line) {
    logLine(line);
    capture_.event(line);
}

// Why it could not be opened is said at the first crash step.
void WorkFolder::openCrashResults(const QString& path, std::optional<qint64> keepBytes) {
    crashResultsProblem_.clear();
    crashResultsWriteReported_ = false;
    if (const auto reason = crashResults_->open(path, keepBytes))
        crashResultsProblem_ = QString::fromUtf8(kResultFileNotOpened) + path +
                               QStringLiteral("，") + *reason + QLatin1Char('\n') +
                               QString::fromUtf8(kRunGoesOn);
}

// A file that could not be opened, or a line that could not be written, is
// said once a run: the test goes on unattended.
void WorkFolder::writeCrashResult(const QByteArray& gbkLine) {
    if (!crashResultsProblem_.isEmpty())
        gate_.show(std::exchange(crashResultsProblem_, QString()), {}, MessageGate::Notice);
    if (!crashResults_->isOpen())
        return;
    const auto error = crashResults_->append(gbkLine);
    if (!error || crashResultsWriteReported_)
        return;
    crashResultsWriteReported_ = true;
    gate_.show(QString::fromUtf8(kResultFileNotWritten) + crashResults_->path() +
                   QStringLiteral("，") + *error + QLatin1Char('\n') +
                   QString::fromUtf8(kRunGoesOn),
               {}, MessageGate::Notice);
}

} // namespace qav::session
