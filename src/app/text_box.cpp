#include "app/text_box.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

namespace qav::app {

namespace {

// A text box holds one block per line; the break between two blocks is one
// position in the document and two (CR LF) as the engineer counts.
QString toDocumentText(const QString& text) {
    QString s = text;
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

QString fromDocumentText(QString s) {
    s.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    s.replace(QChar::LineSeparator, QLatin1Char('\n'));
    s.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    return s;
}

// CR LF offset of a document position.
qsizetype toCrLf(const QTextDocument& doc, int position) {
    return qsizetype(position) + std::max(0, doc.findBlock(position).blockNumber());
}

// Document position of a CR LF offset. An offset that falls between CR and LF
// counts as the offset before the CR, so a pair is never split.
int toDocument(const QTextDocument& doc, qsizetype offset) {
    int lo = 0, hi = doc.blockCount() - 1;
    while (lo < hi) { // the last block whose CR LF start is <= offset
        const int mid = lo + (hi - lo + 1) / 2;
        const QTextBlock b = doc.findBlockByNumber(mid);
        if (qsizetype(b.position()) + mid <= offset)
            lo = mid;
        else
            hi = mid - 1;
    }
    const QTextBlock b = doc.findBlockByNumber(lo);
    const qsizetype within = offset - (qsizetype(b.position()) + lo);
    const int lineLength = b.length() - 1;
    return b.position() + int(std::clamp<qsizetype>(within, 0, lineLength));
}

} // namespace

TextBox::TextBox(QPlainTextEdit& edit) : edit_(edit) {}

QString TextBox::text() const {
    return fromDocumentText(edit_.toPlainText());
}

void TextBox::setText(const QString& text) {
    edit_.setPlainText(toDocumentText(text));
}

void TextBox::append(const QString& text) {
    // The selection stays where it was, even when it reaches the end.
    QTextCursor selection = edit_.textCursor();
    const int anchor = selection.anchor(), position = selection.position();
    QTextCursor c(edit_.document());
    c.movePosition(QTextCursor::End);
    c.insertText(toDocumentText(text));
    selection.setPosition(anchor);
    selection.setPosition(position, QTextCursor::KeepAnchor);
    edit_.setTextCursor(selection);
}

qsizetype TextBox::length() const {
    const QTextDocument& doc = *edit_.document();
    return qsizetype(doc.characterCount() - 1) + (doc.blockCount() - 1);
}

qsizetype TextBox::selStart() const {
    return toCrLf(*edit_.document(), edit_.textCursor().selectionStart());
}

qsizetype TextBox::selLength() const {
    const QTextCursor c = edit_.textCursor();
    const QTextDocument& doc = *edit_.document();
    return toCrLf(doc, c.selectionEnd()) - toCrLf(doc, c.selectionStart());
}

void TextBox::setSelStart(qsizetype start) {
    const QTextDocument& doc = *edit_.document();
    QTextCursor c = edit_.textCursor();
    c.setPosition(toDocument(doc, std::clamp<qsizetype>(start, 0, length())));
    edit_.setTextCursor(c);
}

void TextBox::setSelLength(qsizetype length) {
    const QTextDocument& doc = *edit_.document();
    QTextCursor c = edit_.textCursor();
    const int start = c.selectionStart();
    const qsizetype end = std::clamp<qsizetype>(toCrLf(doc, start) + std::max<qsizetype>(length, 0),
                                                0, this->length());
    c.setPosition(start);
    c.setPosition(toDocument(doc, end), QTextCursor::KeepAnchor);
    edit_.setTextCursor(c);
}

QString TextBox::selectedText() const {
    return fromDocumentText(edit_.textCursor().selectedText());
}

void TextBox::setFocus() {
    edit_.setFocus();
}

} // namespace qav::app
