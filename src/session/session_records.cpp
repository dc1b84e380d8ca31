// What a run leaves in its working folder: the journal of the work log (and
// LOG.txt at the end), the crash test's result file, and the initial text it
// starts from.
#include "link/serial_link.h"
#include "session/console_session.h"
#include "session/crash_results.h"
#include "session/send_text.h"
#include "session/watchdog.h"
#include "tools/initial_text.h"
#include "worklog/journal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

namespace qav::session {

namespace {
constexpr int kEndRunPollMs = 10;
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

void ConsoleSession::openWorkFolder(const QString& folder) {
    folder_ = QDir(folder).absolutePath();
    const QDir dir(folder_);
    // The logs of earlier runs that ended without closing go into LOG.txt
    // first, each as its own block; then this run's journal starts beside
    // them. A folder where nothing can be kept is said once; the log then
    // lives in the temporary folder.
    worklog::Journal::recoverJournals(folder_, dir.filePath(QString::fromUtf8(kLogFile)));
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
    openCrashResults(dir.filePath(QString::fromUtf8(kCrashResultFile)));
}

void ConsoleSession::loadInitialText() {
    const auto text =
        tools::readInitialText(QDir(folder_).filePath(QString::fromUtf8(kInitialTextFile)));
    if (text && sendText_)
        sendText_->setText(*text);
}

void ConsoleSession::endRun() {
    if (activeLink().isOpen())
        stop();
    stopSequences();
    interruptPlay();
    watchdog_->disarm();
    setRepliesDecoded(false);
    // The link says when its frames are out; the limit keeps a link that
    // never finishes from holding the end.
    QElapsedTimer waited;
    waited.start();
    auto* poll = new QTimer(this);
    poll->setInterval(kEndRunPollMs);
    connect(poll, &QTimer::timeout, this, [this, poll, waited] {
        if (activeLink().busy() && waited.elapsed() < kEndRunLimitMs)
            return;
        poll->deleteLater();
        emit runEnded();
    });
    poll->start();
}

std::optional<QString> ConsoleSession::closeWorkFolder() {
    stopSequences();
    interruptPlay();
    run_.countdown->stop();
    watchdog_->disarm();
    if (serial_->isOpen())
        serial_->close();
    const QString logPath = QDir(folder_).filePath(QString::fromUtf8(kLogFile));
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

// Why it could not be opened is said at the first crash step.
void ConsoleSession::openCrashResults(const QString& path) {
    crashResultsProblem_.clear();
    crashResultsWriteReported_ = false;
    if (const auto reason = crashResults_->open(path))
        crashResultsProblem_ = QString::fromUtf8(kResultFileNotOpened) + path +
                               QStringLiteral("，") + *reason + QLatin1Char('\n') +
                               QString::fromUtf8(kRunGoesOn);
}

// A file that could not be opened, or a line that could not be written, is
// said once a run: the test goes on unattended.
void ConsoleSession::writeCrashResult(const QByteArray& gbkLine) {
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
