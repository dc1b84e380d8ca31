#pragma once
// Read access to the work log's text line by line, so that a view can show
// and copy any part of a log of any size without holding all of it.
//
// Lines end at CR LF, at a lone CR or at a lone LF; the text after the last
// break is the last line (empty when the text ends with a break), so there is
// always at least one line. Offsets count the characters (UTF-16 code units)
// of the exact text, breaks included: text(a, b) is exactly what was appended
// there, and the break after line i is lineStart(i + 1) - lineStart(i) -
// line(i).size() characters long.

#include <QString>

namespace qav::worklog {

class LogText {
public:
    virtual ~LogText() = default;

    virtual qint64 lineCount() const = 0;            // at least 1
    virtual qint64 size() const = 0;                 // characters in the whole text
    virtual qint64 lineStart(qint64 line) const = 0; // offset of its first character
    virtual QString line(qint64 line) const = 0;     // without its break
    // The line that holds the character at offset; size() gives the last line.
    virtual qint64 lineOf(qint64 offset) const = 0;
    // The exact characters from offset `from` up to (not including) `to`.
    virtual QString text(qint64 from, qint64 to) const = 0;
};

} // namespace qav::worklog
