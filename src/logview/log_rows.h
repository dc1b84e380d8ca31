#pragma once
// The rows of the work-log box: its lines read from the log a few at a time,
// wrapped to the box's width, and kept in a cache of bounded size. Nothing here
// ever holds the whole log; a row is named by its line, the piece of that line
// and the row within the piece's layout.
//
// A line longer than kPieceChars characters is read and laid out in pieces of
// that many characters, each wrapped on its own, so that even a line of a
// gigabyte costs no more than the pieces on screen. Every line the console
// writes itself (a 4096-byte frame with the "0x" prefix is about 20,500
// characters) fits in one piece.

#include "worklog/log_text.h"

#include <QFont>
#include <QString>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <compare>
#include <list>
#include <map>
#include <memory>
#include <utility>

namespace qav::logview {

struct RowPos {
    qint64 line = 0;
    qint64 piece = 0;
    int row = 0;
    auto operator<=>(const RowPos&) const = default;
};

struct LogPiece {
    qint64 line = 0;
    qint64 index = 0;    // which piece of its line
    qint64 pieces = 1;   // how many pieces its line has
    qint64 start = 0;    // log offset of its first character
    qint64 lineEnd = 0;  // log offset where its line's break begins
    qint64 nextLine = 0; // log offset of the next line (lineEnd on the last line)
    QString text;
    std::unique_ptr<QTextLayout> layout;
    quint64 used = 0; // the cache's turn when it was last asked for

    int rows() const { return layout->lineCount(); }
    bool isLastOfLine() const { return index + 1 == pieces; }
    qint64 end() const { return start + text.size(); }
};

class LogRows {
public:
    static constexpr qint64 kPieceChars = 32 * 1024;
    // Characters of laid-out text kept besides what was used since the last
    // trim(): about a screenful to scroll back to. A laid-out character takes
    // 35 to 50 bytes with its glyphs, so this is well under a megabyte, and a
    // box that follows the log fills it within its first few entries.
    static constexpr qint64 kCacheChars = 16 * 1024;

    explicit LogRows(const worklog::LogText& log) : log_(&log) {}

    // Drops every layout when the font or the wrapping width changes, and
    // then returns true.
    bool setGeometry(const QFont& font, int width);
    int rowHeight() const { return rowHeight_; }
    int width() const { return width_; }

    // Pieces stay valid until trim(), forgetFrom() or clear().
    const LogPiece& piece(qint64 line, qint64 index);
    const LogPiece& piece(const RowPos& pos) { return piece(pos.line, pos.piece); }
    const LogPiece& lastPieceOf(qint64 line) { return piece(line, -1); }
    // The lines from `line` on may have changed (the last ones, after an append).
    void forgetFrom(qint64 line);
    void clear();
    // Lets go of the least recently used pieces beyond kCacheChars, keeping
    // whatever was used since the last trim.
    void trim();
    qint64 cachedChars() const { return cachedChars_; }

    RowPos last();
    RowPos moved(RowPos from, qint64 rows); // stops at the first and the last row
    RowPos rowOf(qint64 offset);            // where the caret at offset is drawn
    qint64 offsetAt(const RowPos& pos, qreal x);
    // First and end offsets of a row; the last row of a line ends at its break.
    std::pair<qint64, qint64> rowSpan(const RowPos& pos);

    // Caret steps: a line break (CR LF too) is one step.
    qint64 nextCaret(qint64 offset);
    qint64 previousCaret(qint64 offset);
    // The word, sentence or character around offset, within its line; a line
    // break is a span of its own. Read without laying anything out.
    std::pair<qint64, qint64> spanAt(qint64 offset, QTextBoundaryFinder::BoundaryType type) const;

    // The text of a piece without laying it out (the cache is not touched);
    // index -1 is the line's last piece.
    LogPiece read(qint64 line, qint64 index) const;

private:
    struct LineShape {
        qint64 start = 0, next = 0, lineEnd = -1; // lineEnd is -1 until read
        qint64 pieces = 1;
        bool last = false;
    };
    LineShape shape(qint64 line) const;
    qint64 pieceIndex(const LineShape& shape, qint64 offset) const;
    const LogPiece& pieceAtOffset(qint64 offset);
    void layOut(LogPiece& piece) const;

    const worklog::LogText* log_;
    QFont font_;
    int width_ = 0;
    int rowHeight_ = 1;
    std::list<LogPiece> pieces_; // most recently used first
    std::map<std::pair<qint64, qint64>, std::list<LogPiece>::iterator> index_;
    qint64 cachedChars_ = 0;
    quint64 turn_ = 1;
};

} // namespace qav::logview
