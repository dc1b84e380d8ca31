#include "logview/work_log_accessible.h"

#include "logview/work_log_view.h"
#include "worklog/log_text.h"

#include <QAccessible>
#include <algorithm>
#include <climits>

namespace qav::logview {

namespace {

int clamped(qint64 offset) {
    return int(std::clamp<qint64>(offset, 0, INT_MAX));
}

QAccessibleInterface* workLogFactory(const QString& className, QObject* object) {
    auto* view = qobject_cast<WorkLogView*>(object);
    if (!view || className != QLatin1String(WorkLogView::staticMetaObject.className()))
        return nullptr;
    return new WorkLogAccessible(view);
}

} // namespace

void installWorkLogAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(workLogFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

WorkLogAccessible::WorkLogAccessible(WorkLogView* view)
    : QAccessibleWidget(view, QAccessible::EditableText) {}

WorkLogView* WorkLogAccessible::view() const {
    return static_cast<WorkLogView*>(widget());
}

void* WorkLogAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State WorkLogAccessible::state() const {
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

void WorkLogAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    const bool has = selectionIndex == 0 && view()->hasSelection();
    *startOffset = has ? clamped(view()->selectionStart()) : 0;
    *endOffset = has ? clamped(view()->selectionEnd()) : 0;
}

int WorkLogAccessible::selectionCount() const {
    return view()->hasSelection() ? 1 : 0;
}

void WorkLogAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset);
}

void WorkLogAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex == 0)
        view()->select(view()->caret(), view()->caret());
}

void WorkLogAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex == 0)
        view()->select(startOffset, endOffset);
}

int WorkLogAccessible::cursorPosition() const {
    return clamped(view()->caret());
}

void WorkLogAccessible::setCursorPosition(int position) {
    view()->select(position, position);
    view()->scrollToOffset(position);
}

int WorkLogAccessible::characterCount() const {
    const worklog::LogText* log = view()->logText();
    return log ? clamped(log->size()) : 0;
}

QString WorkLogAccessible::text(int startOffset, int endOffset) const {
    const worklog::LogText* log = view()->logText();
    const int count = characterCount();
    startOffset = std::clamp(startOffset, 0, count);
    endOffset = std::clamp(endOffset < 0 ? count : endOffset, startOffset, count);
    if (!log || startOffset == endOffset)
        return QString();
    return log->text(startOffset, std::min(endOffset, startOffset + kMaxTextChars));
}

// The unit of text around offset: a character (a CR LF is one), a word or a
// sentence within its line, a row as the box wraps it, a line with its break.
std::pair<int, int> WorkLogAccessible::unitAt(int offset,
                                              QAccessible::TextBoundaryType type) const {
    const worklog::LogText* log = view()->logText();
    const int count = characterCount();
    if (!log || type == QAccessible::NoBoundary)
        return {0, count};
    offset = std::clamp(offset, 0, count);
    LogRows& rows = view()->rows();
    std::pair<qint64, qint64> unit;
    switch (type) {
    case QAccessible::CharBoundary:
        unit = rows.spanAt(offset, QTextBoundaryFinder::Grapheme);
        break;
    case QAccessible::WordBoundary:
        unit = rows.spanAt(offset, QTextBoundaryFinder::Word);
        break;
    case QAccessible::SentenceBoundary:
        unit = rows.spanAt(offset, QTextBoundaryFinder::Sentence);
        break;
    case QAccessible::LineBoundary: {
        const RowPos row = rows.rowOf(offset);
        unit = rows.rowSpan(row);
        const LogPiece& piece = rows.piece(row);
        if (piece.isLastOfLine() && row.row + 1 == piece.rows())
            unit.second = piece.nextLine;
        break;
    }
    default: { // a paragraph: the line and its break
        const qint64 line = log->lineOf(offset);
        const bool last = line + 1 >= log->lineCount();
        unit = {log->lineStart(line), last ? log->size() : log->lineStart(line + 1)};
        break;
    }
    }
    rows.trim();
    return {clamped(unit.first), clamped(unit.second)};
}

QString WorkLogAccessible::give(std::pair<int, int> unit, int* startOffset, int* endOffset) const {
    *startOffset = unit.first;
    *endOffset = unit.second;
    return text(unit.first, unit.second);
}

QString WorkLogAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                        int* startOffset, int* endOffset) const {
    return give(unitAt(offset, boundaryType), startOffset, endOffset);
}

QString WorkLogAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = -1;
    const auto at = unitAt(offset, boundaryType);
    if (boundaryType == QAccessible::NoBoundary || at.first <= 0)
        return QString();
    return give(unitAt(at.first - 1, boundaryType), startOffset, endOffset);
}

QString WorkLogAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                           int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = -1;
    const auto at = unitAt(offset, boundaryType);
    if (boundaryType == QAccessible::NoBoundary || at.second >= characterCount())
        return QString();
    return give(unitAt(at.second, boundaryType), startOffset, endOffset);
}

QRect WorkLogAccessible::characterRect(int offset) const {
    const QRect r = view()->characterRect(offset);
    if (r.isEmpty())
        return QRect();
    return QRect(view()->viewport()->mapToGlobal(r.topLeft()), r.size());
}

int WorkLogAccessible::offsetAtPoint(const QPoint& point) const {
    const QPoint local = view()->viewport()->mapFromGlobal(point);
    if (!view()->viewport()->rect().contains(local))
        return -1;
    return clamped(view()->offsetAtPoint(local));
}

void WorkLogAccessible::scrollToSubstring(int startIndex, int endIndex) {
    Q_UNUSED(endIndex);
    view()->scrollToOffset(startIndex);
}

QString WorkLogAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    Q_UNUSED(offset);
    // One look for all of the text.
    *startOffset = 0;
    *endOffset = characterCount();
    return QString();
}

} // namespace qav::logview
