#pragma once
// A multi-line text box as the engineer sees it: every line break is CR LF
// (two characters, two GBK bytes), and the selection start and length count
// in those units. A selection never splits a CR LF pair.

#include <QString>

class QPlainTextEdit;

namespace qav::app {

class TextBox {
public:
    explicit TextBox(QPlainTextEdit& edit);

    QString text() const; // line breaks as CR LF
    void setText(const QString& text);
    void append(const QString& text); // at the end, without re-setting the rest
    qsizetype length() const;         // in CR LF units

    qsizetype selStart() const;
    qsizetype selLength() const;
    void setSelStart(qsizetype start); // collapses the selection, as a caret move does
    void setSelLength(qsizetype length);
    QString selectedText() const;

    void setFocus();
    QPlainTextEdit& edit() { return edit_; }

private:
    QPlainTextEdit& edit_;
};

} // namespace qav::app
