#pragma once
// The send text area as the session reads and moves it: the text with line
// breaks as CR LF, and a selection whose start and length count in those
// units. The window implements it over its text box.

#include <QString>

namespace qav::session {

class SendText {
public:
    virtual ~SendText() = default;

    virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0; // leaves no selection
    virtual qsizetype length() const = 0;

    virtual qsizetype selStart() const = 0;
    virtual qsizetype selLength() const = 0;
    virtual void setSelStart(qsizetype start) = 0; // collapses the selection
    virtual void setSelLength(qsizetype length) = 0;
    virtual QString selectedText() const = 0;
};

} // namespace qav::session
