#include "session/text_buffer.h"

#include <algorithm>

namespace qav::session {

void TextBuffer::setText(const QString& text) {
    QString s = text;
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    s.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    text_ = s;
    start_ = length_ = 0;
    if (listener_)
        listener_(true);
}

// An offset between CR and LF counts as the offset before the CR.
qsizetype TextBuffer::outsidePair(qsizetype offset) const {
    offset = std::clamp<qsizetype>(offset, 0, text_.size());
    if (offset > 0 && offset < text_.size() && text_[offset - 1] == u'\r' && text_[offset] == u'\n')
        --offset;
    return offset;
}

void TextBuffer::setSelStart(qsizetype start) {
    start_ = outsidePair(start);
    length_ = 0;
    if (listener_)
        listener_(false);
}

void TextBuffer::setSelLength(qsizetype length) {
    length_ = outsidePair(start_ + std::max<qsizetype>(length, 0)) - start_;
    if (listener_)
        listener_(false);
}

} // namespace qav::session
