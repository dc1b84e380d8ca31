#include "session/work_log.h"

#include <QFile>
#include <QStringEncoder>

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
    text_ += text;
    emit appended(text);
}

void WorkLog::clear() {
    text_.clear();
    emit cleared();
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
