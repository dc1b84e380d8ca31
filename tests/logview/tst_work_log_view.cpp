// The work-log box as the engineer uses it: wrapped rows, following the newest
// entry, keys, mouse, copying, clearing, huge logs and what a screen reader
// reads.
#include "common/log_helpers.h"
#include "logview/log_mime_data.h"
#include "logview/work_log_view.h"
#include "worklog/work_log.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <memory>

using qav::logview::RowPos;
using qav::logview::WorkLogView;
using qav::test::frameEntry;
using qav::test::kStopEntry;
using qav::worklog::WorkLog;

namespace {

std::unique_ptr<WorkLogView> shownView(WorkLog& log) {
    auto view = std::make_unique<WorkLogView>(log);
    view->resize(420, 240);
    view->show();
    view->setFocus();
    if (!QTest::qWaitForWindowExposed(view.get()))
        return nullptr;
    return view;
}

// A log of `count` lines "0000000000" .. of ten digits each, with CR LF, made
// up on request: far more lines than an int counts.
class CountingText : public qav::worklog::LogText {
public:
    explicit CountingText(qint64 count) : count_(count) {}
    qint64 lineCount() const override { return count_ + 1; }
    qint64 size() const override { return count_ * 12; }
    qint64 lineStart(qint64 line) const override {
        return std::clamp<qint64>(line, 0, count_) * 12;
    }
    QString line(qint64 line) const override {
        return line < count_ ? QStringLiteral("%1").arg(line, 10, 10, QLatin1Char('0')) : QString();
    }
    qint64 lineOf(qint64 offset) const override {
        return std::clamp<qint64>(offset / 12, 0, count_);
    }
    QString text(qint64 from, qint64 to) const override {
        QString all;
        for (qint64 l = from / 12; l * 12 < to && l < count_; ++l)
            all += line(l) + QStringLiteral("\r\n");
        return all.mid(from % 12, to - from);
    }

private:
    qint64 count_;
};

} // namespace

class TestWorkLogView : public QObject {
    Q_OBJECT
private slots:
    void longLinesWrapAtBlanksAndComeBackWhole() {
        WorkLog log;
        const QString hex = QStringLiteral("----> ") + QStringLiteral("5A ").repeated(200);
        log.append(QStringLiteral("发出一帧，字节数  200\r\n") + hex + QStringLiteral("\r\n"));
        auto view = shownView(log);
        QVERIFY(view);
        QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
        const QStringList rows = view->visibleRows();
        QCOMPARE(rows.first(), QStringLiteral("发出一帧，字节数  200"));
        QVERIFY(rows.size() > 3);
        // The hex line, as far as it shows, is cut after blanks only.
        QString shown;
        for (int i = 1; i < rows.size() - 1; ++i) {
            QVERIFY2(rows[i].endsWith(QLatin1String("5A ")), qPrintable(rows[i]));
            shown += rows[i];
        }
        QVERIFY(hex.startsWith(shown));

        // Narrower: the top of the view keeps its text.
        view->resize(260, 240);
        QTRY_COMPARE(view->visibleRows().first(), QStringLiteral("发出一帧，字节数  200"));

        // A line far longer than any entry (no blanks at all) is read in
        // pieces, and comes back whole.
        const QString endless(3 * qav::logview::LogRows::kPieceChars + 5, u'x');
        log.append(endless + QStringLiteral("\rtail"));
        view->flush();
        QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(view->toPlainText(), QStringLiteral("发出一帧，字节数  200\n") + hex +
                                          QChar('\n') + endless + QStringLiteral("\ntail"));
        QCOMPARE(view->visibleRows().last(), QStringLiteral("tail"));
    }

    void followsTheNewestEntryUnlessScrolledUpOrSelecting() {
        WorkLog log;
        auto view = shownView(log);
        QVERIFY(view);
        int paints = 0;
        struct Counter : QObject {
            int* n;
            explicit Counter(int* count) : n(count) {}
            bool eventFilter(QObject*, QEvent* e) override {
                *n += e->type() == QEvent::Paint;
                return false;
            }
        } counter(&paints);
        view->viewport()->installEventFilter(&counter);
        // A thousand entries in a burst are taken in together, a moment later.
        for (int i = 0; i < 1000; ++i)
            log.append(kStopEntry);
        QVERIFY(view->pendingViewChars() > 0);
        QTRY_COMPARE(view->pendingViewChars(), 0);
        QVERIFY2(paints <= 2, qPrintable(QString::number(paints)));
        QCOMPARE(view->caret(), log.size());
        QStringList rows = view->visibleRows();
        QCOMPARE(rows.last(), QString());
        QCOMPARE(rows[rows.size() - 2], QStringLiteral("----> FD 00 01 02 "));

        // Scrolled to the top, the box stays there.
        QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
        log.append(kStopEntry);
        view->flush();
        QCOMPARE(view->topRow(), RowPos{});
        QCOMPARE(view->caret(), qint64(0));

        // At the end but selecting: neither the view nor the selection moves.
        QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(view.get(), Qt::Key_Up, Qt::ShiftModifier);
        const qint64 anchor = view->anchor(), caret = view->caret();
        QCOMPARE(anchor, log.size());
        const RowPos top = view->topRow();
        log.append(kStopEntry);
        view->flush();
        QCOMPARE(view->topRow(), top);
        QCOMPARE(view->anchor(), anchor);
        QCOMPARE(view->caret(), caret);

        // Back at the end, it follows again.
        QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
        log.append(kStopEntry);
        view->flush();
        QCOMPARE(view->caret(), log.size());
        QCOMPARE(view->visibleRows().last(), QString());
    }

    void keysAndMouseSelectAndCopyTheExactText() {
        WorkLog log;
        log.append(QStringLiteral("ab\r\ncd\re\nf"));
        auto view = shownView(log);
        QVERIFY(view);
        QClipboard* clipboard = QApplication::clipboard();
        QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
        for (int i = 0; i < 3; ++i) // a, b, and the CR LF as one step
            QTest::keyClick(view.get(), Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(view->caret(), qint64(4));
        QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("ab\r\n"));
        QTest::keyClick(view.get(), Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(view.get(), Qt::Key_End, Qt::ShiftModifier);
        QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("ab\r\ncd\re"));
        QTest::keyClick(view.get(), Qt::Key_Left); // the selection goes, the caret moves
        QCOMPARE(view->hasSelection(), false);
        QCOMPARE(view->caret(), qint64(7));
        QTest::keyClick(view.get(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("ab\r\ncd\re\nf"));

        // Drag from "b" to the row of "e", then shift+click on "d".
        const QPoint b = view->characterRect(1).topLeft() + QPoint(1, 2);
        const QPoint e = view->characterRect(7).topLeft() + QPoint(1, 2);
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, b);
        QTest::mouseMove(view->viewport(), e);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, e);
        QCOMPARE(std::pair(view->anchor(), view->caret()), std::pair(qint64(1), qint64(7)));
        const QPoint d = view->characterRect(5).topLeft() + QPoint(1, 2);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, d);
        QCOMPARE(std::pair(view->anchor(), view->caret()), std::pair(qint64(1), qint64(5)));
    }

    void longCopyIsReadWhenPastedAndNeverAfterAClear() {
        WorkLog log;
        WorkLogView view(log);
        const QString entry =
            frameEntry(QByteArray(4096, '\x0D'), QStringLiteral("0x")); // 0x0D, not CR
        while (log.size() <= WorkLogView::kEagerCopyChars)
            log.append(entry + QStringLiteral("\r<---- 返回：41  接收成功\n"));
        view.flush();
        view.selectAll();
        view.copy();
        const QMimeData* data = QApplication::clipboard()->mimeData();
        QVERIFY(qobject_cast<const qav::logview::LogMimeData*>(data));
        log.append(kStopEntry); // later entries are not part of it
        QCOMPARE(data->text(), qav::test::allText(log).chopped(kStopEntry.size()));
        // Cleared before the paste: nothing rather than text that was not copied.
        log.clear();
        log.append(kStopEntry);
        QCOMPARE(QApplication::clipboard()->mimeData()->text(), QString());
    }

    void clearingEmptiesTheBoxAtOnce() {
        WorkLog log;
        auto view = shownView(log);
        QVERIFY(view);
        for (int i = 0; i < 200; ++i)
            log.append(kStopEntry);
        view->flush();
        QTest::keyClick(view.get(), Qt::Key_PageUp, Qt::ShiftModifier);
        log.clear();
        QCOMPARE(view->visibleRows(), QStringList{QString()});
        QCOMPARE(view->caret(), qint64(0));
        QVERIFY(!view->hasSelection());
        QCOMPARE(view->verticalScrollBar()->maximum(), 0);
        QCOMPARE(view->cachedChars(), 0);
        log.append(kStopEntry);
        view->flush();
        QCOMPARE(view->visibleRows(),
                 (QStringList{QStringLiteral("发出一帧，字节数  4"),
                              QStringLiteral("----> FD 00 01 02 "), QString()}));
    }

    void scrollBarCoversThreeBillionLines() {
        const CountingText text(3'000'000'000);
        WorkLogView view(text);
        view.resize(300, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QScrollBar* bar = view.verticalScrollBar();
        QVERIFY(bar->maximum() > 0 && bar->maximum() <= WorkLogView::kMaxBarValue);
        QCOMPARE(view.visibleRows().last(), QString()); // starts at the end
        QCOMPARE(view.visibleRows().at(view.visibleRows().size() - 2),
                 QStringLiteral("2999999999"));
        bar->setValue(0);
        QCOMPARE(view.visibleRows().first(), QStringLiteral("0000000000"));
        bar->setValue(bar->maximum() / 2);
        const qint64 middle = view.visibleRows().first().toLongLong();
        QVERIFY2(std::abs(middle - 1'500'000'000) < 10, qPrintable(QString::number(middle)));
        QWheelEvent wheel(QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)), {}, QPoint(0, -120),
                          Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &wheel);
        QCOMPARE(view.visibleRows().first().toLongLong(),
                 middle + QApplication::wheelScrollLines());
        // Offsets go beyond what the reader's int holds: they stop at its end.
        QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(view.caret(), text.size());
        QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(&view);
        QCOMPARE(reader->textInterface()->characterCount(), INT_MAX);
        QCOMPARE(reader->textInterface()->cursorPosition(), INT_MAX);
    }

    void screenReaderReadsCharactersLinesCaretAndSelection() {
        WorkLog log;
        log.append(kStopEntry + QStringLiteral("<---- 返回：4F  芯片空闲\r\n"));
        auto view = shownView(log);
        QVERIFY(view);
        QAccessibleInterface* box = QAccessible::queryAccessibleInterface(view.get());
        QCOMPARE(box->role(), QAccessible::EditableText);
        QVERIFY(box->state().readOnly && box->state().multiLine);
        QAccessibleTextInterface* t = box->textInterface();
        QVERIFY(t);
        QCOMPARE(t->characterCount(), int(log.size()));
        QCOMPARE(t->text(0, 4), QStringLiteral("发出一帧"));
        QCOMPARE(t->cursorPosition(), int(log.size()));
        int start = 0, end = 0;
        QCOMPARE(t->textAtOffset(0, QAccessible::CharBoundary, &start, &end), QStringLiteral("发"));
        QCOMPARE(t->textAtOffset(11, QAccessible::CharBoundary, &start, &end),
                 QStringLiteral("\r\n"));
        QCOMPARE(std::pair(start, end), std::pair(11, 13));
        QCOMPARE(t->textAtOffset(20, QAccessible::WordBoundary, &start, &end),
                 QStringLiteral("FD"));
        QCOMPARE(t->textAtOffset(20, QAccessible::LineBoundary, &start, &end),
                 QStringLiteral("----> FD 00 01 02 \r\n"));
        QCOMPARE(t->textAfterOffset(20, QAccessible::LineBoundary, &start, &end),
                 QStringLiteral("<---- 返回：4F  芯片空闲\r\n"));
        QCOMPARE(t->textBeforeOffset(20, QAccessible::LineBoundary, &start, &end),
                 QStringLiteral("发出一帧，字节数  4\r\n"));
        QCOMPARE(std::pair(start, end), std::pair(0, 13));
        QCOMPARE(t->textAfterOffset(int(log.size()) - 1, QAccessible::LineBoundary, &start, &end),
                 QString());
        QCOMPARE(start, -1);

        t->setSelection(0, 17, 19);
        QCOMPARE(std::pair(view->anchor(), view->caret()), std::pair(qint64(17), qint64(19)));
        QCOMPARE(t->selectionCount(), 1);
        t->selection(0, &start, &end);
        QCOMPARE(std::pair(start, end), std::pair(17, 19));
        QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("> "));

        const QRect fa = t->characterRect(3);
        QVERIFY(!fa.isEmpty());
        QCOMPARE(t->offsetAtPoint(fa.topLeft() + QPoint(1, fa.height() / 2)), 3);
    }
};

QTEST_MAIN(TestWorkLogView)
#include "tst_work_log_view.moc"
