#include "worklog/journal.h"

#include "worklog/file_sync.h"
#include "worklog/log_codec.h"
#include "worklog/native_file.h"

#include <QDateTime>
#include <QDir>
#include <algorithm>
#include <chrono>
#include <memory>

namespace qav::worklog {

namespace {
constexpr const char* kExportHeading = "导出数据";
constexpr const char* kIsAPipe = "a pipe, not a file";
constexpr const char* kNamePrefix = "LOG-journal-";
constexpr const char* kNameSuffix = ".txt";
constexpr const char* kNewSuffix = ".new"; // a journal being made, not yet named
constexpr qsizetype kCopyChunk = 1024 * 1024;
constexpr qsizetype kRetryBudget = 1024 * 1024; // bytes one retry writes at most
constexpr auto kSyncGap = std::chrono::milliseconds(250);

// Appends "导出数据" CR LF, `size` bytes of source from its start, tail and
// CR LF to the file at path, synced to the disk. On a failure the file is cut
// back to where it ended.
std::optional<QString> appendBlock(const QString& path, FileHandle source, qint64 size,
                                   const char* tail, qsizetype tailSize) {
    if (kindOf(path) == FileKind::Pipe)
        return QString::fromLatin1(kIsAPipe);
    const FileHandle out = openForAppend(path, false);
    if (out == kNoFile)
        return errorText(lastFileError());
    const bool plain = kindOf(out) == FileKind::Plain;
    // Two consoles closing at once write their blocks one after the other.
    if (plain)
        lock(out);
    const qint64 oldEnd = plain ? fileSize(out) : 0;
    const auto fail = [&](int error) -> std::optional<QString> {
        if (plain && oldEnd >= 0)
            truncateFile(out, oldEnd);
        closeFile(out);
        return errorText(error);
    };

    QByteArray heading;
    encodeLogText(QString::fromUtf8(kExportHeading), heading);
    heading += "\r\n";
    if (const int e = writeAll(out, heading.constData(), heading.size()))
        return fail(e);
    if (size > 0) {
        const auto buffer = std::make_unique<char[]>(std::size_t(kCopyChunk));
        for (qint64 at = 0; at < size;) {
            const qsizetype n = qsizetype(std::min<qint64>(kCopyChunk, size - at));
            if (const int e = readAt(source, buffer.get(), n, at))
                return fail(e);
            if (const int e = writeAll(out, buffer.get(), n))
                return fail(e);
            at += n;
        }
    }
    if (const int e = writeAll(out, tail, tailSize))
        return fail(e);
    if (const int e = writeAll(out, "\r\n", 2))
        return fail(e);
    if (plain)
        if (const int e = syncFile(out))
            return fail(e);
    if (const int e = closeFile(out))
        return errorText(e);
    return std::nullopt;
}
} // namespace

Journal::Journal(QObject* parent)
    : QObject(parent), file_(std::make_shared<SyncedFile>(createUnnamed(), false)),
      sync_(std::make_unique<FileSync>(kSyncGap)) {
    if (file_->fd == kNoFile)
        lastError_ = errorText(lastFileError());
    sync_->setFile(file_);
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, &Journal::retry);
}

Journal::~Journal() {
    sync_.reset(); // its last sync and closes
}

std::optional<QString> Journal::openIn(const QString& folder) {
    const QDir dir(folder);
    const QString stem = QString::fromLatin1(kNamePrefix) +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
                         QLatin1Char('-') + QString::number(processId());
    // Made under a name no start-up recovers, then named at once: a journal
    // that can be found is always locked by its run.
    const QString making = dir.filePath(QLatin1Char('.') + stem + QLatin1String(kNewSuffix));
    const FileHandle fd = createLocked(making);
    if (fd == kNoFile)
        return errorText(lastFileError());
    auto file = std::make_shared<SyncedFile>(fd, true);
    // What the log held so far comes along.
    const QByteArray bytes = read(0, size());
    if (const int e = writeAll(fd, bytes.constData(), bytes.size())) {
        removeFile(making);
        return errorText(e);
    }
    QString named;
    int error = 0;
    for (int n = 1; n < 100; ++n) {
        named = dir.filePath(stem + (n > 1 ? QLatin1Char('-') + QString::number(n) : QString()) +
                             QLatin1String(kNameSuffix));
        error = renameFile(making, named, false);
        if (!error || !isExistsError(error))
            break;
    }
    if (error) {
        removeFile(making);
        return errorText(error);
    }
    if (file_->named) { // moved: the old journal holds nothing the new one lacks
        removeFile(path_);
        file_->named = false;
    }
    letGo(std::exchange(file_, file));
    sync_->setFile(file_);
    path_ = dir.absoluteFilePath(named);
    written_ = bytes.size();
    sync_->written();
    backlogWritten();
    return std::nullopt;
}

bool Journal::append(const char* data, qsizetype size) {
    if (size <= 0)
        return true;
    if (unwrittenSize() > 0 || file_->fd == kNoFile) {
        if (unwrittenSize() + size > memoryLimit_) {
            lostBytes_ += size;
            if (!fullReported_) {
                fullReported_ = true;
                emit memoryFull();
            }
            return false;
        }
        wait(data, size);
        return true;
    }
    writeOrKeep(data, size);
    return true;
}

void Journal::appendPastLimit(const char* data, qsizetype size) {
    if (size <= 0)
        return;
    if (unwrittenSize() > 0 || file_->fd == kNoFile)
        wait(data, size);
    else
        writeOrKeep(data, size);
}

// Behind bytes that are waiting already.
void Journal::wait(const char* data, qsizetype size) {
    unwritten_.append(data, size);
    if (!retryTimer_.isActive())
        retryTimer_.start(kRetryMs);
}

void Journal::writeOrKeep(const char* data, qsizetype size) {
    qsizetype done = 0;
    const int error = writeAll(file_->fd, data, size, done);
    written_ += done;
    if (done > 0 && file_->named)
        sync_->written();
    if (error)
        keep(data + done, size - done, error);
}

// The rest of a write that failed waits in memory; said once until the disk
// takes everything again.
void Journal::keep(const char* data, qsizetype size, int error) {
    unwritten_.append(data, size);
    lastError_ = errorText(error);
    retryTimer_.start(kRetryMs);
    if (!failureReported_) {
        failureReported_ = true;
        emit writeFailed(lastError_);
    }
}

void Journal::retry() {
    writeBacklog(kRetryBudget);
}

bool Journal::saveUnwritten() {
    writeBacklog(-1);
    return unwrittenSize() == 0;
}

// Writes up to budget bytes (all when negative) of those waiting in memory.
void Journal::writeBacklog(qsizetype budget) {
    if (file_->fd == kNoFile || unwrittenSize() == 0)
        return;
    const qsizetype n = budget < 0 ? unwrittenSize() : std::min(budget, unwrittenSize());
    qsizetype done = 0;
    const int error = writeAll(file_->fd, unwritten_.constData() + unwrittenFrom_, n, done);
    unwrittenFrom_ += done;
    written_ += done;
    if (error)
        lastError_ = errorText(error);
    if (done > 0 && file_->named)
        sync_->written();
    if (unwrittenSize() == 0) {
        backlogWritten();
        return;
    }
    if (unwrittenFrom_ > unwritten_.size() / 2) {
        unwritten_.remove(0, unwrittenFrom_);
        unwrittenFrom_ = 0;
    }
    retryTimer_.start(error ? kRetryMs : 0);
    // The disk takes bytes again, so there is room for new ones: the bytes
    // let go meanwhile are said where they are missing.
    if (done > 0)
        reportLoss();
}

// Everything is on the disk again: the memory goes, and a later failure is a
// new one, said again.
void Journal::backlogWritten() {
    retryTimer_.stop();
    unwritten_.clear();
    unwrittenFrom_ = 0;
    failureReported_ = false;
    fullReported_ = false;
    reportLoss();
}

void Journal::reportLoss() {
    if (lostBytes_ > 0)
        emit resumed(std::exchange(lostBytes_, 0));
}

void Journal::readInto(qint64 from, qint64 to, char* out) const {
    from = std::clamp<qint64>(from, 0, size());
    to = std::clamp<qint64>(to, from, size());
    const qint64 fromFile = std::min(to, written_) - std::min(from, written_);
    if (fromFile > 0 && readAt(file_->fd, out, qsizetype(fromFile), from) != 0)
        std::fill_n(out, fromFile, '\0'); // the file has gone bad under us
    if (to > written_) {
        const qint64 at = std::max(from, written_);
        std::copy_n(unwritten_.constData() + unwrittenFrom_ + (at - written_), to - at,
                    out + fromFile);
    }
}

QByteArray Journal::read(qint64 from, qint64 to) const {
    from = std::clamp<qint64>(from, 0, size());
    to = std::clamp<qint64>(to, from, size());
    QByteArray bytes(qsizetype(to - from), Qt::Uninitialized);
    readInto(from, to, bytes.data());
    return bytes;
}

void Journal::clear() {
    written_ = 0;
    lostBytes_ = 0; // they were in the text that goes now
    backlogWritten();
    if (!file_->named) {
        letGo(std::exchange(file_, std::make_shared<SyncedFile>(createUnnamed(), false)));
        sync_->setFile(file_);
        return;
    }
    // A new empty journal takes the name in one step; the old one is closed
    // on the worker thread, however big it was.
    const QString making = path_ + QLatin1String(kNewSuffix);
    removeFile(making); // only this run uses that name
    const FileHandle fd = createLocked(making);
    if (fd != kNoFile && renameFile(making, path_, true) == 0) {
        letGo(std::exchange(file_, std::make_shared<SyncedFile>(fd, true)));
        sync_->setFile(file_);
        sync_->written();
        return;
    }
    if (fd != kNoFile) {
        removeFile(making);
        closeFile(fd);
    }
    const int error = truncateFile(file_->fd, 0);
    if (error == 0) {
        sync_->written();
        return;
    }
    // The old text must not come back at the next start.
    removeFile(path_);
    file_->named = false;
    letGo(std::exchange(file_, std::make_shared<SyncedFile>(createUnnamed(), false)));
    sync_->setFile(file_);
    path_.clear();
    if (!failureReported_) {
        failureReported_ = true;
        emit writeFailed(errorText(error));
    }
}

void Journal::letGo(std::shared_ptr<SyncedFile> file) {
    sync_->letGo(std::move(file));
}

std::optional<QString> Journal::exportTo(const QString& path) {
    saveUnwritten();
    return appendBlock(path, file_->fd, written_, unwritten_.constData() + unwrittenFrom_,
                       unwrittenSize());
}

void Journal::remove() {
    if (!file_->named)
        return;
    removeFile(path_);
    file_->named = false;
}

int Journal::recoverJournals(const QString& folder, const QString& logPath) {
    const QDir dir(folder);
    QStringList names =
        dir.entryList({QLatin1String(kNamePrefix) + QLatin1Char('*') + QLatin1String(kNameSuffix)},
                      QDir::Files | QDir::System);
    std::sort(names.begin(), names.end()); // by the start of their runs
    int recovered = 0;
    for (const QString& name : names) {
        const QString path = dir.filePath(name);
        const FileHandle fd = openForReading(path);
        if (fd == kNoFile)
            continue;
        // Only a plain file whose run has ended, and still under that name (a
        // run that cleared its log has just put a new journal there).
        const qint64 size = fileSize(fd);
        const bool ended =
            kindOf(fd) == FileKind::Plain && size >= 0 && tryLock(fd) && stillNamed(fd, path);
        if (ended && !appendBlock(logPath, fd, size, nullptr, 0)) {
            removeFile(path);
            ++recovered;
        }
        closeFile(fd);
    }
    return recovered;
}

} // namespace qav::worklog
