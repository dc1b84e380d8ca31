#pragma once
// What the work-log box puts on the clipboard: a stretch of the log, read from
// the log only when somebody pastes it, in slices, so copying hundreds of
// megabytes costs nothing at the moment of the copy.

#include <QMimeData>
#include <QString>
#include <memory>
#include <optional>

namespace qav::worklog {
class LogText;
}

namespace qav::logview {

// The log as the box and its clipboard data see it; text is null once the log
// is gone or was cleared (a lazy copy then has nothing left to give).
struct LogSource {
    const worklog::LogText* text = nullptr;
};

class LogMimeData : public QMimeData {
    Q_OBJECT
public:
    static constexpr qint64 kSliceChars = 1 << 20;

    LogMimeData(std::shared_ptr<const LogSource> source, qint64 from, qint64 to);

    bool hasFormat(const QString& mimeType) const override;
    QStringList formats() const override;
    // Reads the text now (the log is about to go).
    void keep();

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    QString read() const;

    std::shared_ptr<const LogSource> source_;
    qint64 from_;
    qint64 to_;
    std::optional<QString> kept_;
};

// The exact characters from `from` to `to`, read in slices into one string.
QString readLogText(const worklog::LogText& text, qint64 from, qint64 to);

} // namespace qav::logview
