// The work-log box: taking in appended text, following the newest entry,
// scrolling, the scroll bar and painting. Keys, mouse and the clipboard are in
// work_log_view_input.cpp, what assistive technology reads in
// work_log_accessible.cpp.
#include "logview/work_log_view.h"

#include "logview/log_mime_data.h"
#include "logview/work_log_accessible.h"
#include "worklog/work_log.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>

namespace qav::logview {

WorkLogView::WorkLogView(const worklog::WorkLog& log, QWidget* parent)
    : WorkLogView(static_cast<const worklog::LogText&>(log), parent) {
    connect(&log, &worklog::WorkLog::appended, this, [this] { textAppended(); });
    connect(&log, &worklog::WorkLog::cleared, this, [this] { textCleared(); });
    // The log goes before the box when the window closes: from then on the box
    // reads nothing.
    connect(&log, &QObject::destroyed, this, [this] {
        source_->text = nullptr;
        log_ = nullptr;
        catchUpTimer_.stop();
    });
}

WorkLogView::WorkLogView(const worklog::LogText& text, QWidget* parent)
    : QAbstractScrollArea(parent), log_(&text), source_(std::make_shared<LogSource>()),
      rows_(text) {
    source_->text = log_;
    installWorkLogAccessibility();
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    QPalette look = palette();
    look.setColor(QPalette::Base, QColor(kBackground));
    setPalette(look);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);

    catchUpTimer_.setSingleShot(true);
    connect(&catchUpTimer_, &QTimer::timeout, this, [this] { catchUp(); });
    autoScrollTimer_.setInterval(50);
    connect(&autoScrollTimer_, &QTimer::timeout, this, [this] { autoScroll(); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &WorkLogView::onBarValue);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &WorkLogView::onBarAction);
    // A long copy still waiting to be pasted is read while the log is there.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (copied_)
            copied_->keep();
    });
    shownSize_ = log_->size();
    shownLines_ = log_->lineCount();
    caret_ = anchor_ = shownSize_;
    relayout();
}

WorkLogView::~WorkLogView() {
    source_->text = nullptr;
}

const worklog::LogText* WorkLogView::logText() const {
    return log_;
}

qint64 WorkLogView::textSize() const {
    return log_ ? log_->size() : 0;
}

void WorkLogView::textAppended() {
    if (!catchUpTimer_.isActive())
        catchUpTimer_.start(kViewDelayMs);
}

void WorkLogView::flush() {
    catchUpTimer_.stop();
    catchUp();
}

qint64 WorkLogView::pendingViewChars() const {
    return textSize() - shownSize_;
}

// Takes in what was appended since the last time: the last lines may have
// grown (or a CR been completed by its LF), new ones follow.
void WorkLogView::catchUp() {
    if (!log_ || (log_->size() == shownSize_ && log_->lineCount() == shownLines_))
        return;
    const bool follow = isFollowing();
    atBottom_ = follow; // held where it is, unless the new rows leave it at the end
    const qint64 oldSize = shownSize_;
    // The last line may have grown; the one before changes only when the LF
    // of its CR LF break comes with this append.
    const bool openBreak = oldSize > 0 && log_->text(oldSize - 1, oldSize) == QLatin1String("\r");
    rows_.forgetFrom(shownLines_ - (openBreak ? 2 : 1));
    shownSize_ = log_->size();
    shownLines_ = log_->lineCount();
    if (follow) {
        caret_ = anchor_ = shownSize_;
        goalX_ = -1;
    }
    relayout();
    if (follow)
        setTop(bottom_);
    rows_.trim();
    viewport()->update();
    if (QAccessible::isActive()) {
        // A reader is told of the first 64 K characters of a burst; it reads
        // the rest through the text interface.
        const QString added = log_->text(oldSize, std::min(shownSize_, oldSize + (1 << 16)));
        QAccessibleTextInsertEvent inserted(this, int(std::min<qint64>(oldSize, INT_MAX)), added);
        QAccessible::updateAccessibility(&inserted);
        if (follow)
            notifyCaret();
    }
}

void WorkLogView::textCleared() {
    catchUpTimer_.stop();
    // A long copy that was to be read from the log has nothing left to read.
    source_->text = nullptr;
    source_ = std::make_shared<LogSource>();
    source_->text = log_;
    rows_.clear();
    shownSize_ = 0;
    shownLines_ = 1;
    caret_ = anchor_ = 0;
    goalX_ = -1;
    dragging_ = false;
    autoScrollTimer_.stop();
    top_ = bottom_ = RowPos{};
    atBottom_ = true;
    updateBar();
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent emptied(this, 0, QString(), QString());
        QAccessible::updateAccessibility(&emptied);
        notifyCaret();
    }
}

int WorkLogView::pageRows() const {
    return std::max(1, (viewport()->height() - kTopMargin) / rows_.rowHeight());
}

// After a change of width, font or text: where the end of the log puts the
// top row, and the top row itself kept on the text it showed.
void WorkLogView::relayout() {
    if (!log_)
        return;
    const qint64 topOffset = rows_.width() > 0 ? rows_.rowSpan(top_).first : 0;
    // A box that follows the log keeps showing its end; one that the engineer
    // has moved in keeps showing what was at its top.
    const bool keepEnd = isFollowing() && caret_ == shownSize_;
    if (rows_.setGeometry(font(), viewport()->width() - 2 * kMargin)) {
        top_ = rows_.rowOf(topOffset);
        atBottom_ = keepEnd;
    }
    bottom_ = rows_.moved(rows_.last(), -(pageRows() - 1));
    if (atBottom_ || bottom_ < top_)
        top_ = bottom_;
    atBottom_ = top_ == bottom_;
    updateBar();
}

void WorkLogView::setTop(const RowPos& top) {
    top_ = std::min(top, bottom_);
    atBottom_ = top_ == bottom_;
    updateBar();
    viewport()->update();
}

void WorkLogView::scrollRows(qint64 rows) {
    if (log_)
        setTop(rows_.moved(top_, rows));
}

void WorkLogView::scrollToOffset(qint64 offset) {
    if (!log_)
        return;
    const RowPos row = rows_.rowOf(offset);
    if (row < top_)
        setTop(row);
    else if (rowsBelowTop(row, pageRows()) < 0)
        setTop(rows_.moved(row, -(pageRows() - 1)));
}

void WorkLogView::ensureCaretVisible() {
    scrollToOffset(caret_);
}

void WorkLogView::updateBar() {
    QScrollBar* bar = verticalScrollBar();
    barScale_ = std::max<qint64>(1, (bottom_.line + kMaxBarValue - 1) / kMaxBarValue);
    const int maximum = int((bottom_.line + barScale_ - 1) / barScale_);
    int value = int(top_.line / barScale_);
    if (top_ == bottom_)
        value = maximum;
    else if (value >= maximum && maximum > 0)
        value = maximum - 1; // the end of the bar means the end of the log
    barValue_ = value;
    const QSignalBlocker quiet(bar); // the box moves the bar, not the other way round
    bar->setRange(0, maximum);
    bar->setPageStep(int(std::max<qint64>(1, pageRows() / barScale_)));
    bar->setSingleStep(1);
    bar->setValue(value);
}

// The bar dragged or set: its value names a line (scaled on huge logs); its end
// is the end of the log.
void WorkLogView::onBarValue(int value) {
    if (value == barValue_)
        return;
    const QScrollBar* bar = verticalScrollBar();
    setTop(value >= bar->maximum() ? bottom_ : RowPos{qint64(value) * barScale_, 0, 0});
}

// Steps and pages of the bar move by rows, as the wheel and the keys do.
void WorkLogView::onBarAction(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
        scrollRows(1);
        break;
    case QAbstractSlider::SliderSingleStepSub:
        scrollRows(-1);
        break;
    case QAbstractSlider::SliderPageStepAdd:
        scrollRows(pageRows());
        break;
    case QAbstractSlider::SliderPageStepSub:
        scrollRows(-pageRows());
        break;
    case QAbstractSlider::SliderToMinimum:
        setTop(RowPos{});
        break;
    case QAbstractSlider::SliderToMaximum:
        setTop(bottom_);
        break;
    default:
        return;
    }
    verticalScrollBar()->setSliderPosition(barValue_);
}

// How many rows `pos` lies below the top row, or -1 when it is further than
// `limit` rows down (or above the top).
int WorkLogView::rowsBelowTop(const RowPos& pos, int limit) {
    if (pos < top_)
        return -1;
    RowPos at = top_;
    for (int n = 0; n < limit; ++n) {
        if (at == pos)
            return n;
        const RowPos next = rows_.moved(at, 1);
        if (next == at)
            return -1;
        at = next;
    }
    return -1;
}

void WorkLogView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void WorkLogView::showEvent(QShowEvent* event) {
    QAbstractScrollArea::showEvent(event);
    relayout();
}

void WorkLogView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        relayout();
}

} // namespace qav::logview
