#pragma once
// What assistive technology reads of the work-log box: its text by characters,
// words, sentences, rows and lines, the caret and the selection, as it reads a
// text box. Offsets count the characters of the exact text (a CR LF is two);
// the interface counts in int, so a log beyond 2^31 - 1 characters is read up
// to there only, and every offset past it is clamped to it.

#include <QAccessibleWidget>
#include <utility>

namespace qav::logview {

class WorkLogView;

// Installs the factory that gives every WorkLogView its interface (once).
void installWorkLogAccessibility();

class WorkLogAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    // At most this many characters are handed over in one piece of text.
    static constexpr int kMaxTextChars = 1 << 20;

    explicit WorkLogAccessible(WorkLogView* view);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int* startOffset, int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int* startOffset, int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    using QAccessibleWidget::text;

private:
    WorkLogView* view() const;
    std::pair<int, int> unitAt(int offset, QAccessible::TextBoundaryType type) const;
    QString give(std::pair<int, int> unit, int* startOffset, int* endOffset) const;
};

} // namespace qav::logview
