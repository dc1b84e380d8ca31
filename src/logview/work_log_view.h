#pragma once
// The work-log box, Text4: a read-only view of the log's text that lays out
// only the rows on screen (and a bounded cache of lines around them), so a log
// of any size scrolls, selects and copies without the box holding it.
//
// Appended entries are taken in together a moment later, so a burst of entries
// costs a repaint or two. While the box shows the end of the log and the
// engineer is not selecting, it follows: after each entry the caret is at the
// end and the newest entry is in view. Scrolled up, or with a selection, the
// box stays where it is until the engineer goes back to the end (Ctrl+End,
// the scroll bar, or the wheel), and follows again from there.
//
// The vertical scroll bar runs over the log's lines, the first at the top;
// beyond about a billion lines one step of it is several lines. Offsets
// (caret, selection) count the characters of the exact text, every CR and LF
// included, as the log's own do.

#include "logview/log_rows.h"

#include <QAbstractScrollArea>
#include <QPointer>
#include <QTimer>
#include <memory>

namespace qav::worklog {
class LogText;
class WorkLog;
} // namespace qav::worklog

namespace qav::logview {

class LogMimeData;
struct LogSource;

class WorkLogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // How long appended text may wait before the box shows it.
    static constexpr int kViewDelayMs = 15;
    // The box's grey.
    static constexpr QRgb kBackground = 0xe4e4e4;
    // The scroll bar's range stays within this; longer logs scale their lines.
    static constexpr qint64 kMaxBarValue = 1 << 30;
    // A copy of up to this many characters is taken at once; a longer one is
    // read from the log when it is pasted.
    static constexpr qint64 kEagerCopyChars = 1 << 20;
    // Room between the frame and the text, as a text box leaves it.
    static constexpr int kMargin = 4;
    static constexpr int kTopMargin = 4;

    explicit WorkLogView(const worklog::WorkLog& log, QWidget* parent = nullptr);
    // Over any text; textAppended() and textCleared() tell it what changed.
    explicit WorkLogView(const worklog::LogText& text, QWidget* parent = nullptr);
    ~WorkLogView() override;

    void textAppended();
    void textCleared();
    // Brings the box up to date now.
    void flush();
    // Characters of the log that the box has not taken in yet.
    qint64 pendingViewChars() const;

    const worklog::LogText* logText() const;
    qint64 caret() const { return caret_; }
    qint64 anchor() const { return anchor_; }
    bool hasSelection() const { return caret_ != anchor_; }
    qint64 selectionStart() const { return std::min(caret_, anchor_); }
    qint64 selectionEnd() const { return std::max(caret_, anchor_); }
    // Caret at `caret`, the selection running from `anchor` to it.
    void select(qint64 anchor, qint64 caret);
    void selectAll();
    void copy() const;
    bool isFollowing() const { return atBottom_ && !hasSelection() && !dragging_; }

    // Brings the row of `offset` into view.
    void scrollToOffset(qint64 offset);
    RowPos topRow() const { return top_; }
    // Rows in full view.
    int pageRows() const;
    // The texts of the rows on screen, top to bottom.
    QStringList visibleRows();
    // Where the character at offset is drawn, in viewport coordinates; empty
    // when it is off screen.
    QRect characterRect(qint64 offset);
    qint64 offsetAtPoint(const QPoint& viewportPoint);
    // The whole text as a text box shows it, one '\n' per line break, read
    // line by line (for tests: it costs the log's size).
    QString toPlainText() const;
    // Characters of laid-out text the box holds.
    qint64 cachedChars() const { return rows_.cachedChars(); }
    LogRows& rows() { return rows_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void catchUp();
    void relayout();
    void setTop(const RowPos& top);
    void scrollRows(qint64 rows);
    void updateBar();
    void onBarValue(int value);
    void onBarAction(int action);
    void ensureCaretVisible();
    void moveCaret(qint64 offset, bool extend);
    bool moveByKey(QKeyEvent* event, bool extend);
    void autoScroll();
    int rowsBelowTop(const RowPos& pos, int limit);
    void paintPiece(QPainter& painter, const LogPiece& piece, qreal top, const QRect& clip);
    void putOnClipboard(int mode) const;
    void notifyCaret() const;
    qint64 textSize() const;

    const worklog::LogText* log_;
    std::shared_ptr<LogSource> source_;
    LogRows rows_;
    QTimer catchUpTimer_;
    QTimer autoScrollTimer_;
    qint64 shownSize_ = 0;
    qint64 shownLines_ = 1;
    RowPos top_;
    RowPos bottom_; // the top row when the last row is at the bottom of the view
    bool atBottom_ = true;
    qint64 caret_ = 0;
    qint64 anchor_ = 0;
    qreal goalX_ = -1; // where up and down keep the caret, -1: where it is
    bool dragging_ = false;
    QPoint dragPoint_;
    int wheelRest_ = 0; // eighths of a degree short of a notch
    qint64 barScale_ = 1;
    int barValue_ = 0; // what the box last set the bar to
    mutable QPointer<LogMimeData> copied_;
    mutable bool toldSelection_ = false; // the reader was last told of a selection
};

} // namespace qav::logview
