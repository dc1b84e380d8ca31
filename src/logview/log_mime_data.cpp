#include "logview/log_mime_data.h"

#include "worklog/log_text.h"

#include <QStringList>
#include <algorithm>

namespace qav::logview {

namespace {
const QLatin1String kPlainText("text/plain");
} // namespace

QString readLogText(const worklog::LogText& text, qint64 from, qint64 to) {
    from = std::clamp<qint64>(from, 0, text.size());
    to = std::clamp<qint64>(to, from, text.size());
    QString out;
    out.reserve(to - from);
    for (qint64 at = from; at < to; at += LogMimeData::kSliceChars)
        out += text.text(at, std::min(at + LogMimeData::kSliceChars, to));
    return out;
}

LogMimeData::LogMimeData(std::shared_ptr<const LogSource> source, qint64 from, qint64 to)
    : source_(std::move(source)), from_(from), to_(to) {}

bool LogMimeData::hasFormat(const QString& mimeType) const {
    return mimeType == kPlainText;
}

QStringList LogMimeData::formats() const {
    return {kPlainText};
}

void LogMimeData::keep() {
    if (!kept_)
        kept_ = read();
}

QString LogMimeData::read() const {
    if (kept_)
        return *kept_;
    if (!source_ || !source_->text)
        return QString();
    return readLogText(*source_->text, from_, to_);
}

QVariant LogMimeData::retrieveData(const QString& mimeType, QMetaType type) const {
    if (!mimeType.startsWith(kPlainText))
        return QVariant();
    const QString text = read();
    if (type.id() == QMetaType::QByteArray)
        return text.toUtf8();
    return text;
}

} // namespace qav::logview
