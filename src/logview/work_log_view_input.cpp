// The work-log box under the engineer's hands: the caret and the selection by
// keys and mouse, the wheel, copying, and the context menu.
#include "logview/log_mime_data.h"
#include "logview/work_log_view.h"
#include "worklog/log_text.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

namespace qav::logview {

namespace {
constexpr const char* kCopy = "复制(&C)";
constexpr const char* kSelectAll = "全选(&A)";
} // namespace

void WorkLogView::select(qint64 anchor, qint64 caret) {
    const qint64 size = textSize();
    anchor_ = std::clamp<qint64>(anchor, 0, size);
    caret_ = std::clamp<qint64>(caret, 0, size);
    goalX_ = -1;
    viewport()->update();
    notifyCaret();
}

void WorkLogView::selectAll() {
    select(0, textSize());
}

void WorkLogView::notifyCaret() const {
    if (!QAccessible::isActive())
        return;
    auto* self = const_cast<WorkLogView*>(this);
    const auto clamp = [](qint64 v) { return int(std::min<qint64>(v, INT_MAX)); };
    QAccessibleTextCursorEvent moved(self, clamp(caret_));
    QAccessible::updateAccessibility(&moved);
    if (hasSelection() || toldSelection_) {
        QAccessibleTextSelectionEvent selected(self, clamp(selectionStart()),
                                               clamp(selectionEnd()));
        selected.setCursorPosition(clamp(caret_));
        QAccessible::updateAccessibility(&selected);
    }
    toldSelection_ = hasSelection();
}

void WorkLogView::moveCaret(qint64 offset, bool extend) {
    select(extend ? anchor_ : offset, offset);
    ensureCaretVisible();
}

void WorkLogView::copy() const {
    if (hasSelection())
        putOnClipboard(QClipboard::Clipboard);
}

// A short stretch goes on the clipboard as text; a long one as data that
// reads the log when it is pasted.
void WorkLogView::putOnClipboard(int mode) const {
    if (!log_)
        return;
    const auto where = QClipboard::Mode(mode);
    if (where == QClipboard::Selection && !QApplication::clipboard()->supportsSelection())
        return;
    if (selectionEnd() - selectionStart() <= kEagerCopyChars) {
        QApplication::clipboard()->setText(readLogText(*log_, selectionStart(), selectionEnd()),
                                           where);
        return;
    }
    auto* data = new LogMimeData(source_, selectionStart(), selectionEnd());
    QApplication::clipboard()->setMimeData(data, where);
    if (where == QClipboard::Clipboard)
        copied_ = data;
}

// Caret moves of the keys; false when the key is none of them.
bool WorkLogView::moveByKey(QKeyEvent* event, bool extend) {
    using K = QKeySequence::StandardKey;
    const auto is = [&](K move, K select) { return event->matches(extend ? select : move); };
    const RowPos row = rows_.rowOf(caret_);
    const LogPiece& piece = rows_.piece(row);
    const QTextLine line = piece.layout->lineAt(row.row);
    const qreal x =
        goalX_ >= 0 ? goalX_ : line.cursorToX(int(std::min(caret_, piece.end()) - piece.start));
    const auto vertical = [&](qint64 rows) {
        const RowPos to = rows_.moved(row, rows);
        if (to == row)
            return;
        moveCaret(rows_.offsetAt(to, x), extend);
        goalX_ = x;
    };
    if (is(K::MoveToNextChar, K::SelectNextChar)) {
        moveCaret(rows_.nextCaret(caret_), extend);
    } else if (is(K::MoveToPreviousChar, K::SelectPreviousChar)) {
        moveCaret(rows_.previousCaret(caret_), extend);
    } else if (is(K::MoveToNextLine, K::SelectNextLine)) {
        vertical(1);
    } else if (is(K::MoveToPreviousLine, K::SelectPreviousLine)) {
        vertical(-1);
    } else if (is(K::MoveToNextPage, K::SelectNextPage)) {
        scrollRows(pageRows());
        vertical(pageRows());
    } else if (is(K::MoveToPreviousPage, K::SelectPreviousPage)) {
        scrollRows(-pageRows());
        vertical(-pageRows());
    } else if (is(K::MoveToStartOfLine, K::SelectStartOfLine)) {
        moveCaret(rows_.rowSpan(row).first, extend);
    } else if (is(K::MoveToEndOfLine, K::SelectEndOfLine)) {
        const auto [first, end] = rows_.rowSpan(row);
        const bool lastRow = row.row + 1 == piece.rows() && piece.isLastOfLine();
        moveCaret(lastRow ? end : std::max(first, end - 1), extend);
    } else if (is(K::MoveToStartOfDocument, K::SelectStartOfDocument)) {
        moveCaret(0, extend);
    } else if (is(K::MoveToEndOfDocument, K::SelectEndOfDocument)) {
        moveCaret(textSize(), extend);
    } else {
        return false;
    }
    return true;
}

void WorkLogView::keyPressEvent(QKeyEvent* event) {
    if (!log_) {
        event->ignore();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (!moveByKey(event, false) && !moveByKey(event, true)) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
    rows_.trim();
}

void WorkLogView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !log_) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qint64 at = offsetAtPoint(event->position().toPoint());
    select(event->modifiers() & Qt::ShiftModifier ? anchor_ : at, at);
    dragging_ = true;
    dragPoint_ = event->position().toPoint();
}

void WorkLogView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_ || !(event->buttons() & Qt::LeftButton))
        return;
    dragPoint_ = event->position().toPoint();
    // Above or below the box, the rows roll by while the button is held.
    const bool outside = dragPoint_.y() < 0 || dragPoint_.y() > viewport()->height();
    if (outside && !autoScrollTimer_.isActive())
        autoScrollTimer_.start();
    else if (!outside)
        autoScrollTimer_.stop();
    const QPoint inside(dragPoint_.x(), std::clamp(dragPoint_.y(), 0, viewport()->height() - 1));
    select(anchor_, offsetAtPoint(inside));
}

void WorkLogView::autoScroll() {
    if (!dragging_) {
        autoScrollTimer_.stop();
        return;
    }
    const bool up = dragPoint_.y() < 0;
    const int distance = up ? -dragPoint_.y() : dragPoint_.y() - viewport()->height();
    const int rows = 1 + distance / std::max(1, rows_.rowHeight());
    scrollRows(up ? -rows : rows);
    select(anchor_, offsetAtPoint(QPoint(dragPoint_.x(), up ? 0 : viewport()->height() - 1)));
    rows_.trim();
}

void WorkLogView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_)
        return;
    dragging_ = false;
    autoScrollTimer_.stop();
    if (hasSelection())
        putOnClipboard(QClipboard::Selection);
}

void WorkLogView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !log_)
        return;
    const qint64 at = offsetAtPoint(event->position().toPoint());
    const auto [first, end] = rows_.spanAt(at, QTextBoundaryFinder::Word);
    select(first, end);
    if (hasSelection())
        putOnClipboard(QClipboard::Selection);
}

void WorkLogView::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y();
    if (steps == 0 || !log_) {
        event->ignore();
        return;
    }
    // A notch rolls the rows the desktop asks for; finer wheels add up to it.
    wheelRest_ += steps;
    const int notches = wheelRest_ / 120;
    wheelRest_ -= notches * 120;
    scrollRows(-qint64(notches) * QApplication::wheelScrollLines());
    rows_.trim();
    event->accept();
}

// Copy and Select All; the menu opens without holding up the event loop.
void WorkLogView::contextMenuEvent(QContextMenuEvent* event) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copyAction = menu->addAction(QString::fromUtf8(kCopy), this, [this] { copy(); });
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(hasSelection());
    QAction* all = menu->addAction(QString::fromUtf8(kSelectAll), this, [this] { selectAll(); });
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(textSize() > 0);
    menu->popup(event->globalPos());
}

void WorkLogView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void WorkLogView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

} // namespace qav::logview
