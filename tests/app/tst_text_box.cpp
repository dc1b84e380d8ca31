// Text boxes as the engineer counts them: CR LF line breaks, selection start
// and length in those units, and no selection that splits a pair.
#include "app/text_box.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>

using qav::app::TextBox;

class TestTextBox : public QObject {
    Q_OBJECT
private slots:
    void lineBreaksAreCrLf() {
        QPlainTextEdit edit;
        TextBox box(edit);
        box.setText(QStringLiteral("一二\r\n三\r\n\r\nab"));
        QCOMPARE(edit.document()->blockCount(), 4);
        QCOMPARE(box.text(), QStringLiteral("一二\r\n三\r\n\r\nab"));
        QCOMPARE(box.length(), 11);
        // Lone CR or LF become line breaks too.
        box.setText(QStringLiteral("a\nb\rc"));
        QCOMPARE(box.text(), QStringLiteral("a\r\nb\r\nc"));
        box.setText(QString());
        QCOMPARE(box.length(), 0);
    }

    void selectionCountsCrLf() {
        QPlainTextEdit edit;
        TextBox box(edit);
        box.setText(QStringLiteral("ab\r\ncd\r\nef"));
        box.setSelStart(4); // 'c'
        QCOMPARE(box.selStart(), 4);
        QCOMPARE(box.selLength(), 0);
        box.setSelLength(4); // "cd\r\n"
        QCOMPARE(box.selectedText(), QStringLiteral("cd\r\n"));
        QCOMPARE(box.selLength(), 4);
        box.setSelStart(0);
        box.setSelLength(box.length());
        QCOMPARE(box.selectedText(), box.text());
        // Out-of-range values are held to the text.
        box.setSelStart(100);
        QCOMPARE(box.selStart(), 10);
        box.setSelStart(-3);
        box.setSelLength(100);
        QCOMPARE(box.selLength(), 10);
    }

    void selectionNeverSplitsAPair() {
        QPlainTextEdit edit;
        TextBox box(edit);
        box.setText(QStringLiteral("ab\r\ncd"));
        // Ending between CR and LF: the pair stays out.
        box.setSelStart(0);
        box.setSelLength(3);
        QCOMPARE(box.selectedText(), QStringLiteral("ab"));
        QCOMPARE(box.selLength(), 2);
        // Starting between CR and LF: the start moves before the pair.
        box.setSelStart(3);
        QCOMPARE(box.selStart(), 2);
        box.setSelLength(3);
        QCOMPARE(box.selectedText(), QStringLiteral("\r\nc"));
    }

    void appendKeepsTheRest() {
        QPlainTextEdit edit;
        TextBox box(edit);
        box.setText(QStringLiteral("ab"));
        box.setSelStart(1);
        box.setSelLength(1);
        box.append(QStringLiteral("\r\n第二行"));
        QCOMPARE(box.text(), QStringLiteral("ab\r\n第二行"));
        QCOMPARE(box.selectedText(), QStringLiteral("b"));
    }

    void largeTextStaysCheap() {
        QPlainTextEdit edit;
        TextBox box(edit);
        QString text;
        for (int i = 0; i < 100000; ++i)
            text += QStringLiteral("第%1行文字\r\n").arg(i);
        box.setText(text);
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 2000; ++i) {
            box.setSelStart(text.size() - 1 - i * 97);
            box.setSelLength(50);
            QVERIFY(box.selLength() <= 50);
            QVERIFY(box.selStart() >= 0);
        }
        QVERIFY2(t.elapsed() < 5000, "selection moves on a long text are too slow");
        box.setSelStart(text.size() - 8);
        box.setSelLength(8);
        QCOMPARE(box.selectedText(), text.right(8));
    }
};

QTEST_MAIN(TestTextBox)
#include "tst_text_box.moc"
