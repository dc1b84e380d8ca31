#pragma once
// The work log: every frame sent and every reply received, as text. The text
// is held here exactly (CR LF line ends) and is complete the moment an entry
// is appended. The log's text box follows it a moment later: entries collect
// and are laid out together at the end of the box, a few at a time, so a burst
// of long hex lines never holds up the sender, and an entry costs the same
// however long the log is.

#include <QByteArrayView>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>

class QPlainTextEdit;
class QTimer;

namespace qav::app {

class WorkLog {
public:
    // How long appended text may wait before the box shows it.
    static constexpr int kViewDelayMs = 15;
    // At most about this many characters are laid out in one go; whole lines
    // only, so a longer line still goes in at once.
    static constexpr qsizetype kViewSliceChars = 48 * 1024;

    explicit WorkLog(QPlainTextEdit* view = nullptr);
    ~WorkLog();
    WorkLog(const WorkLog&) = delete;
    WorkLog& operator=(const WorkLog&) = delete;

    void setHexPrefix(const QString& prefix) { hexPrefix_ = prefix; }
    const QString& hexPrefix() const { return hexPrefix_; }

    // "发出一帧，字节数  N" CR LF "----> " and the bytes in hex, CR LF.
    void appendFrame(QByteArrayView frame);
    void append(const QString& text); // appended as it stands
    void clear();
    const QString& text() const { return text_; }

    // Brings the box up to date now, caret at the end.
    void flush();
    // Characters waiting to be shown in the box.
    qsizetype pendingViewChars() const { return pending_.size(); }

    // Appends "导出数据", the whole log and a line break to the file, in GBK.
    // Returns the reason when the file cannot be written.
    std::optional<QString> exportTo(const QString& path) const;

    static QString frameEntry(QByteArrayView frame, const QString& hexPrefix);

private:
    void flushSlice();

    QPointer<QPlainTextEdit> view_;
    std::unique_ptr<QTimer> viewTimer_;
    QString text_;
    QString pending_; // for the box: one '\n' per line break
    QString hexPrefix_;
};

} // namespace qav::app
