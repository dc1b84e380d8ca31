#pragma once
// The work log's text box follows the log a moment later: appended entries
// collect and are laid out together at the end of the box, a few at a time,
// so a burst of long hex lines never holds up the sender, and an entry costs
// the same however long the log is.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QPlainTextEdit;

namespace qav::session {
class WorkLog;
}

namespace qav::app {

class WorkLogView : public QObject {
    Q_OBJECT
public:
    // How long appended text may wait before the box shows it.
    static constexpr int kViewDelayMs = 15;
    // At most about this many characters are laid out in one go; whole lines
    // only, so a longer line still goes in at once.
    static constexpr qsizetype kViewSliceChars = 48 * 1024;

    WorkLogView(session::WorkLog& log, QPlainTextEdit* box);

    // Brings the box up to date now, caret at the end.
    void flush();
    // Characters waiting to be shown in the box.
    qsizetype pendingViewChars() const { return pending_.size(); }

private:
    void onAppended(const QString& text);
    void onCleared();
    void flushSlice();

    QPointer<QPlainTextEdit> box_;
    QTimer timer_;
    QString pending_;       // for the box: one '\n' per line break
    bool pairOpen_ = false; // the last text appended ended in a CR
};

} // namespace qav::app
