#include "app/work_log.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringEncoder>
#include <QTextCursor>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace qav::app {

namespace {
constexpr const char* kFrameSent = "发出一帧，字节数 ";
constexpr const char* kSentArrow = "----> ";
constexpr const char* kExportHeading = "导出数据";
constexpr const char* kLogEncoding = "GBK";
const QLatin1String kCrLf("\r\n");
constexpr const char* kIsAPipe = "a pipe, not a file";

// Opening a pipe that nobody reads waits for a reader: at close, for ever.
bool isPipe(const QString& path) {
#ifdef Q_OS_UNIX
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
#else
    Q_UNUSED(path);
    return false;
#endif
}
} // namespace

WorkLog::WorkLog(QPlainTextEdit* view) : view_(view) {
    if (!view)
        return;
    viewTimer_ = std::make_unique<QTimer>();
    viewTimer_->setSingleShot(true);
    QObject::connect(viewTimer_.get(), &QTimer::timeout, view, [this] { flushSlice(); });
}

WorkLog::~WorkLog() = default;

QString WorkLog::frameEntry(QByteArrayView frame, const QString& hexPrefix) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    QString entry;
    entry.reserve(32 + frame.size() * (3 + hexPrefix.size()));
    // The count is written as a number is in text: a blank where a sign would be.
    entry += QString::fromUtf8(kFrameSent);
    entry += QLatin1Char(' ');
    entry += QString::number(frame.size());
    entry += kCrLf;
    entry += QLatin1String(kSentArrow);
    for (const char c : frame) {
        const auto b = static_cast<unsigned char>(c);
        entry += hexPrefix;
        entry += QLatin1Char(kDigits[b >> 4]);
        entry += QLatin1Char(kDigits[b & 0x0F]);
        entry += QLatin1Char(' ');
    }
    entry += kCrLf;
    return entry;
}

void WorkLog::appendFrame(QByteArrayView frame) {
    append(frameEntry(frame, hexPrefix_));
}

void WorkLog::append(const QString& text) {
    if (text.isEmpty())
        return;
    const bool pairOpen = text_.endsWith(QLatin1Char('\r'));
    text_ += text;
    if (!view_)
        return;

    // The box holds one block per line: CR LF, a lone CR or a lone LF each
    // end a line; an LF that completes a CR of the previous append is not a
    // second break.
    QString shown = text;
    if (pairOpen && shown.startsWith(QLatin1Char('\n')))
        shown.remove(0, 1);
    shown.replace(kCrLf, QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    pending_ += shown;
    if (!pending_.isEmpty() && !viewTimer_->isActive())
        viewTimer_->start(kViewDelayMs);
}

void WorkLog::flush() {
    while (!pending_.isEmpty() && view_)
        flushSlice();
}

// Lays out the next slice of waiting text at the end of the box; the rest
// follows on the next turn of the event loop.
void WorkLog::flushSlice() {
    if (!view_) {
        pending_.clear();
        return;
    }
    if (pending_.isEmpty())
        return;
    qsizetype cut = pending_.size();
    if (cut > kViewSliceChars) {
        // The end of the line that crosses the slice size, or all of it.
        const qsizetype lineEnd = pending_.indexOf(QLatin1Char('\n'), kViewSliceChars - 1);
        if (lineEnd >= 0)
            cut = lineEnd + 1;
    }
    const QString slice = pending_.first(cut);
    pending_.remove(0, cut);

    QTextCursor end(view_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(slice);
    // Caret to the end, so the box shows the newest entry.
    view_->moveCursor(QTextCursor::End);
    view_->ensureCursorVisible();

    if (pending_.isEmpty())
        viewTimer_->stop();
    else
        viewTimer_->start(0);
}

void WorkLog::clear() {
    text_.clear();
    pending_.clear();
    if (viewTimer_)
        viewTimer_->stop();
    if (view_)
        view_->clear();
}

std::optional<QString> WorkLog::exportTo(const QString& path) const {
    QStringEncoder gbk(kLogEncoding);
    QString block = QString::fromUtf8(kExportHeading);
    block += kCrLf;
    block += text_;
    block += kCrLf;
    const QByteArray bytes = gbk.encode(block);

    if (isPipe(path))
        return QString::fromLatin1(kIsAPipe);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return file.errorString();
    if (file.write(bytes) != bytes.size() || !file.flush())
        return file.errorString();
    file.close();
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    return std::nullopt;
}

} // namespace qav::app
