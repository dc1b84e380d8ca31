// The work-log box on screen: painting the rows in view, and where a
// character is drawn.
#include "logview/work_log_view.h"
#include "worklog/log_text.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>

namespace qav::logview {

// Walks the rows from the top of the view down while `visit(piece, top)`
// returns true; `top` is where the piece's first row would be drawn.
template <class Visit> static void walkPieces(LogRows& rows, RowPos at, Visit visit) {
    qreal y = WorkLogView::kTopMargin;
    for (;;) {
        const LogPiece& p = rows.piece(at);
        const qreal top = y - qreal(at.row) * rows.rowHeight();
        if (!visit(p, top))
            return;
        y = top + qreal(p.rows()) * rows.rowHeight();
        const RowPos next = rows.moved({p.line, p.index, p.rows() - 1}, 1);
        if (next.line == p.line && next.piece == p.index)
            return; // the last row of the log
        at = next;
    }
}

void WorkLogView::paintEvent(QPaintEvent* event) {
    if (!log_)
        return;
    QPainter painter(viewport());
    const QRect clip = event->rect();
    const qreal bottom = viewport()->height();
    walkPieces(rows_, top_, [&](const LogPiece& p, qreal top) {
        paintPiece(painter, p, top, clip);
        return top + qreal(p.rows()) * rows_.rowHeight() < bottom;
    });
    rows_.trim();
}

void WorkLogView::paintPiece(QPainter& painter, const LogPiece& piece, qreal top,
                             const QRect& clip) {
    const QPointF at(kMargin, top);
    QList<QTextLayout::FormatRange> selections;
    const qint64 from = std::max(selectionStart(), piece.start);
    const qint64 to = std::min(selectionEnd(), piece.end());
    if (from < to) {
        QTextLayout::FormatRange range;
        range.start = int(from - piece.start);
        range.length = int(to - from);
        range.format.setBackground(palette().brush(QPalette::Highlight));
        range.format.setForeground(palette().brush(QPalette::HighlightedText));
        selections << range;
    }
    painter.setPen(palette().color(QPalette::Text));
    piece.layout->draw(&painter, at, selections, clip);
    const int lastRow = piece.rows() - 1;
    const QTextLine last = piece.layout->lineAt(lastRow);
    // A selected line break shows as a blank's width of selection after the line.
    if (piece.isLastOfLine() && piece.nextLine > piece.lineEnd &&
        selectionStart() <= piece.lineEnd && selectionEnd() >= piece.nextLine) {
        const qreal x = kMargin + last.cursorToX(last.textStart() + last.textLength());
        const qreal blank = QFontMetricsF(font()).horizontalAdvance(QLatin1Char(' '));
        painter.fillRect(
            QRectF(x, top + qreal(lastRow) * rows_.rowHeight(), blank, rows_.rowHeight()),
            palette().brush(QPalette::Highlight));
    }
    // The caret, in the piece that holds it (at a piece's end it is the next one's).
    const bool holdsCaret =
        caret_ >= piece.start &&
        (piece.isLastOfLine() ? caret_ < piece.nextLine || caret_ == piece.lineEnd
                              : caret_ < piece.end());
    if (hasFocus() && holdsCaret)
        piece.layout->drawCursor(&painter, at, int(std::min(caret_, piece.end()) - piece.start), 1);
}

QStringList WorkLogView::visibleRows() {
    QStringList shown;
    if (!log_)
        return shown;
    const qreal bottom = viewport()->height();
    const int height = rows_.rowHeight();
    walkPieces(rows_, top_, [&](const LogPiece& p, qreal top) {
        for (int r = 0; r < p.rows(); ++r) {
            const qreal y = top + qreal(r) * height;
            if (y + height <= kTopMargin || y >= bottom)
                continue;
            const QTextLine line = p.layout->lineAt(r);
            shown << p.text.mid(line.textStart(), line.textLength());
        }
        return top + qreal(p.rows()) * height < bottom;
    });
    return shown;
}

QRect WorkLogView::characterRect(qint64 offset) {
    if (!log_)
        return QRect();
    const RowPos row = rows_.rowOf(offset);
    const int below = rowsBelowTop(row, pageRows() + 1);
    if (below < 0)
        return QRect();
    const LogPiece& p = rows_.piece(row);
    const QTextLine line = p.layout->lineAt(row.row);
    const int at = int(std::clamp<qint64>(offset - p.start, 0, p.text.size()));
    const qreal x = line.cursorToX(at);
    const qreal next = at < p.text.size() ? line.cursorToX(at + 1) : x;
    const int width = std::max(1, int(next - x));
    return QRect(kMargin + int(x), kTopMargin + below * rows_.rowHeight(), width,
                 rows_.rowHeight());
}

qint64 WorkLogView::offsetAtPoint(const QPoint& point) {
    if (!log_)
        return 0;
    const int height = rows_.rowHeight();
    const int y = point.y() - kTopMargin;
    const qint64 down = y >= 0 ? y / height : -((-y + height - 1) / height);
    return rows_.offsetAt(rows_.moved(top_, down), point.x() - kMargin);
}

QString WorkLogView::toPlainText() const {
    QString text;
    if (!log_)
        return text;
    // What the box has taken in: later text may already be in the log.
    for (qint64 line = 0; line < shownLines_; ++line) {
        if (line > 0)
            text += QLatin1Char('\n');
        for (qint64 i = 0, pieces = 1; i < pieces; ++i) {
            const LogPiece p = rows_.read(line, i);
            pieces = p.pieces;
            text += p.text.left(std::max<qint64>(0, shownSize_ - p.start));
        }
    }
    return text;
}

} // namespace qav::logview
