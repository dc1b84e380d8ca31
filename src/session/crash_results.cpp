#include "session/crash_results.h"

#include "synthesis/gbk_text.h"
#include "worklog/file_sync.h"
#include "worklog/native_file.h"

#include <QFile>

namespace qav::session {

namespace {
constexpr const char* kNotAFile = "not a plain file";
constexpr const char* kNotOpen = "Bad file descriptor";
constexpr qint64 kReadBlock = 64 * 1024;

// The text in front of the line's first argument.
QString leadOf(const char* form) {
    const QString text = QString::fromUtf8(form);
    return text.left(text.indexOf(QStringLiteral("%1")));
}

// Why the name cannot be the result file: a folder, or a pipe or device,
// which would make the run wait for its other end.
std::optional<QString> notAResultFile(const QString& path) {
    switch (worklog::kindOf(path)) {
    case worklog::FileKind::Missing:
    case worklog::FileKind::Plain:
        return std::nullopt;
    case worklog::FileKind::Directory:
        return worklog::errorText(worklog::isDirectoryError());
    default:
        return QString::fromLatin1(kNotAFile);
    }
}

void takeLine(const QByteArray& bytes, qsizetype keptVerdicts, CrashProgress& progress) {
    QByteArray line = bytes;
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    const QString text = synthesis::fromGbk(line);
    if (auto next = tools::countersAfterResultLine(text)) {
        progress.next = next;
        progress.lastStep = text;
        ++progress.steps;
    } else if (CrashResults::isHangLine(text) || CrashResults::isRecoveryLine(text)) {
        if (CrashResults::isHangLine(text))
            ++progress.hangs;
        if (progress.verdicts.size() < keptVerdicts)
            progress.verdicts << text;
    } else if (!text.isEmpty()) {
        ++progress.otherLines;
    }
}
} // namespace

bool CrashResults::isHangLine(const QString& line) {
    static const QString lead = leadOf(kHangLine);
    return line.startsWith(lead);
}

bool CrashResults::isRecoveryLine(const QString& line) {
    static const QString lead = leadOf(kRecoveredLine);
    return line.startsWith(lead);
}

std::optional<QString> CrashResults::readProgress(const QString& path, qsizetype keptVerdicts,
                                                  CrashProgress& progress) {
    progress = {};
    if (auto why = notAResultFile(path))
        return why;
    if (worklog::kindOf(path) == worklog::FileKind::Missing)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    // Line by line, however long the run that wrote it.
    QByteArray pending;
    while (!file.atEnd()) {
        const QByteArray block = file.read(kReadBlock);
        if (block.isEmpty() && file.error() != QFileDevice::NoError)
            return file.errorString();
        pending += block;
        qsizetype from = 0;
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n', from)) {
            takeLine(pending.sliced(from, end + 1 - from), keptVerdicts, progress);
            progress.wholeBytes += end + 1 - from;
            from = end + 1;
        }
        pending.remove(0, from);
    }
    progress.tornBytes = pending.size();
    return std::nullopt;
}

CrashResults::CrashResults()
    : sync_(std::make_unique<worklog::FileSync>(std::chrono::milliseconds(kSyncGapMs))) {}

CrashResults::~CrashResults() = default; // the worker's last sync, then the file closes

std::optional<QString> CrashResults::open(const QString& path, std::optional<qint64> keepBytes) {
    if (file_)
        sync_->letGo(std::exchange(file_, nullptr));
    sync_->setFile(nullptr);
    path_ = path;
    if (auto why = notAResultFile(path))
        return why;
    const worklog::FileHandle fd = worklog::openForAppend(path, !keepBytes);
    if (fd == worklog::kNoFile)
        return worklog::errorText(worklog::lastFileError());
    // What follows the kept part (a line cut off) goes; the rest stays.
    if (keepBytes && worklog::fileSize(fd) > *keepBytes) {
        if (const int error = worklog::truncateFile(fd, *keepBytes)) {
            worklog::closeFile(fd);
            return worklog::errorText(error);
        }
    }
    file_ = std::make_shared<worklog::SyncedFile>(fd, true);
    sync_->setFile(file_);
    return std::nullopt;
}

std::optional<QString> CrashResults::append(const QByteArray& bytes) {
    if (!file_)
        return QString::fromLatin1(kNotOpen);
    if (const int error = worklog::writeAll(file_->fd, bytes.constData(), bytes.size()))
        return worklog::errorText(error);
    sync_->written();
    return std::nullopt;
}

} // namespace qav::session
