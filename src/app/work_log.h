#pragma once
// The work log: every frame sent and every reply received, as text. The text
// is held here exactly (CR LF line ends) and mirrored into the log's text box
// by appending at its end, so an entry costs the same however long the log is.

#include <QByteArrayView>
#include <QString>

#include <optional>

class QPlainTextEdit;

namespace qav::app {

class WorkLog {
public:
    explicit WorkLog(QPlainTextEdit* view = nullptr);

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

private:
    QPlainTextEdit* view_;
    QString text_;
    QString hexPrefix_;
};

} // namespace qav::app
