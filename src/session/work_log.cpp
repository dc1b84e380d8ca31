#include "session/work_log.h"

#include <QFile>
#include <QStringEncoder>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace qav::session {

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

WorkLog::WorkLog(QObject* parent) : QObject(parent) {}

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
    const qsizetype from = text_.size();
    text_ += text;
    indexLines(from);
    emit appended(text);
}

void WorkLog::clear() {
    text_.clear();
    lineStarts_.assign(1, 0);
    emit cleared();
}

// Records where the lines that start in the text from `from` on begin. An LF
// right after a CR that ended the text before is the second half of its break.
void WorkLog::indexLines(qsizetype from) {
    for (qsizetype i = from; i < text_.size(); ++i) {
        const QChar c = text_.at(i);
        if (c == QLatin1Char('\n')) {
            if (i > 0 && text_.at(i - 1) == QLatin1Char('\r') && lineStarts_.back() == i)
                lineStarts_.back() = i + 1;
            else
                lineStarts_.push_back(i + 1);
        } else if (c == QLatin1Char('\r')) {
            lineStarts_.push_back(i + 1);
        }
    }
}

qint64 WorkLog::lineStart(qint64 line) const {
    if (line <= 0)
        return 0;
    if (line >= lineCount())
        return size();
    return lineStarts_[std::size_t(line)];
}

QString WorkLog::line(qint64 line) const {
    if (line < 0 || line >= lineCount())
        return QString();
    const qint64 start = lineStarts_[std::size_t(line)];
    if (line + 1 == lineCount())
        return text_.sliced(start);                      // the last line has no break of its own
    qint64 end = lineStarts_[std::size_t(line + 1)] - 1; // its break ends here
    if (text_.at(end) == QLatin1Char('\n') && end > start && text_.at(end - 1) == QLatin1Char('\r'))
        --end;
    return text_.sliced(start, end - start);
}

qint64 WorkLog::lineOf(qint64 offset) const {
    const auto it = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset);
    return std::max<qint64>(0, qint64(it - lineStarts_.begin()) - 1);
}

QString WorkLog::text(qint64 from, qint64 to) const {
    from = std::clamp<qint64>(from, 0, size());
    to = std::clamp<qint64>(to, from, size());
    return text_.mid(from, to - from);
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

} // namespace qav::session
