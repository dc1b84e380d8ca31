#pragma once
// The work log: every frame sent and every reply received, as text with
// CR LF line ends. The text is complete the moment an entry is appended;
// whatever shows it (the window's box) reads it by lines (LogText) and
// follows the appended() and cleared() signals.

#include "session/log_text.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <optional>
#include <vector>

namespace qav::session {

class WorkLog : public QObject, public LogText {
    Q_OBJECT
public:
    explicit WorkLog(QObject* parent = nullptr);

    // "0x" or empty: written before every byte of later entries.
    void setHexPrefix(const QString& prefix) { hexPrefix_ = prefix; }
    const QString& hexPrefix() const { return hexPrefix_; }

    // "发出一帧，字节数  N" CR LF "----> " and the bytes in hex, CR LF.
    void appendFrame(QByteArrayView frame);
    void append(const QString& text); // appended as it stands
    void clear();
    const QString& text() const { return text_; }

    // Appends "导出数据", the whole log and a line break to the file, in GBK.
    // Returns the reason when the file cannot be written.
    std::optional<QString> exportTo(const QString& path) const;

    static QString frameEntry(QByteArrayView frame, const QString& hexPrefix);

    // LogText
    qint64 lineCount() const override { return qint64(lineStarts_.size()); }
    qint64 size() const override { return text_.size(); }
    qint64 lineStart(qint64 line) const override;
    QString line(qint64 line) const override;
    qint64 lineOf(qint64 offset) const override;
    QString text(qint64 from, qint64 to) const override;

signals:
    void appended(const QString& text);
    void cleared();

private:
    void indexLines(qsizetype from);

    QString text_;
    QString hexPrefix_;
    std::vector<qint64> lineStarts_{0};
};

} // namespace qav::session
