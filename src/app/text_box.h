#pragma once
// A multi-line text box as the engineer sees it: every line break is CR LF
// (two characters, two GBK bytes), and the selection start and length count
// in those units. A selection never splits a CR LF pair.

#include "session/send_text.h"

#include <QString>

class QPlainTextEdit;

namespace qav::app {

class TextBox : public session::SendText {
public:
    explicit TextBox(QPlainTextEdit& edit);

    QString text() const override; // line breaks as CR LF
    void setText(const QString& text) override;
    void append(const QString& text);  // at the end, without re-setting the rest
    qsizetype length() const override; // in CR LF units

    qsizetype selStart() const override;
    qsizetype selLength() const override;
    void setSelStart(qsizetype start) override; // collapses the selection, as a caret move does
    void setSelLength(qsizetype length) override;
    QString selectedText() const override;

    void setFocus();
    QPlainTextEdit& edit() { return edit_; }

private:
    QPlainTextEdit& edit_;
};

} // namespace qav::app
