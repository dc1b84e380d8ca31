#pragma once
// The send text held in memory, for a session without a window (the runner):
// counted as the window's text box counts it. Line breaks are CR LF (a lone
// CR or LF becomes one), selection start and length are in those units, a
// selection never starts or ends between CR and LF, and setting the start
// collapses the selection.
//
// The session owns it; the window shows it in its text box and writes the
// engineer's edits into it. A listener hears of every change, told whether
// the text itself changed or only the selection.

#include "session/send_text.h"

#include <functional>

namespace qav::session {

class TextBuffer : public SendText {
public:
    QString text() const override { return text_; }
    void setText(const QString& text) override;
    qsizetype length() const override { return text_.size(); }

    qsizetype selStart() const override { return start_; }
    qsizetype selLength() const override { return length_; }
    void setSelStart(qsizetype start) override;
    void setSelLength(qsizetype length) override;
    QString selectedText() const override { return text_.mid(start_, length_); }

    using Listener = std::function<void(bool textChanged)>;
    void setListener(Listener listener) { listener_ = std::move(listener); }

private:
    qsizetype outsidePair(qsizetype offset) const;

    QString text_;
    qsizetype start_ = 0;
    qsizetype length_ = 0;
    Listener listener_;
};

} // namespace qav::session
