#include "app/work_log_view.h"

#include "session/work_log.h"

#include <QPlainTextEdit>
#include <QTextCursor>

namespace qav::app {

namespace {
const QLatin1String kCrLf("\r\n");
} // namespace

WorkLogView::WorkLogView(session::WorkLog& log, QPlainTextEdit* box) : QObject(box), box_(box) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { flushSlice(); });
    connect(&log, &session::WorkLog::appended, this, &WorkLogView::onAppended);
    connect(&log, &session::WorkLog::cleared, this, &WorkLogView::onCleared);
}

void WorkLogView::onAppended(const QString& text) {
    // The box holds one block per line: CR LF, a lone CR or a lone LF each
    // end a line; an LF that completes a CR of the previous append is not a
    // second break.
    QString shown = text;
    if (pairOpen_ && shown.startsWith(QLatin1Char('\n')))
        shown.remove(0, 1);
    pairOpen_ = text.endsWith(QLatin1Char('\r'));
    shown.replace(kCrLf, QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    pending_ += shown;
    if (!pending_.isEmpty() && !timer_.isActive())
        timer_.start(kViewDelayMs);
}

void WorkLogView::onCleared() {
    pending_.clear();
    pairOpen_ = false;
    timer_.stop();
    if (box_)
        box_->clear();
}

void WorkLogView::flush() {
    while (!pending_.isEmpty() && box_)
        flushSlice();
}

// Lays out the next slice of waiting text at the end of the box; the rest
// follows on the next turn of the event loop.
void WorkLogView::flushSlice() {
    if (!box_) {
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

    QTextCursor end(box_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(slice);
    // Caret to the end, so the box shows the newest entry.
    box_->moveCursor(QTextCursor::End);
    box_->ensureCursorVisible();

    if (pending_.isEmpty())
        timer_.stop();
    else
        timer_.start(0);
}

} // namespace qav::app
