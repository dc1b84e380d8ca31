#include "logview/log_rows.h"

#include <QTextOption>
#include <algorithm>
#include <cmath>

namespace qav::logview {

namespace {
// Tab stops as a text box has them.
constexpr qreal kTabStop = 80;

int breakLength(const QString& tail) {
    if (tail.endsWith(QLatin1String("\r\n")))
        return 2;
    if (tail.endsWith(QLatin1Char('\r')) || tail.endsWith(QLatin1Char('\n')))
        return 1;
    return 0;
}
} // namespace

bool LogRows::setGeometry(const QFont& font, int width) {
    width = std::max(width, 1);
    if (font == font_ && width == width_)
        return false;
    font_ = font;
    width_ = width;
    // Every row is as high as a row holding both scripts of the log.
    QTextLayout sample(QStringLiteral("国Ag"), font_);
    sample.beginLayout();
    QTextLine line = sample.createLine();
    line.setLineWidth(1e6);
    sample.endLayout();
    rowHeight_ = std::max(1, int(std::ceil(line.height())));
    clear();
    return true;
}

LogRows::LineShape LogRows::shape(qint64 line) const {
    LineShape s;
    const qint64 lines = log_->lineCount();
    s.start = log_->lineStart(line);
    s.last = line + 1 >= lines;
    s.next = s.last ? log_->size() : log_->lineStart(line + 1);
    if (s.next - s.start <= kPieceChars + 2)
        return s;
    s.lineEnd = s.next - (s.last ? 0 : breakLength(log_->text(s.next - 2, s.next)));
    s.pieces = (s.lineEnd - s.start + kPieceChars - 1) / kPieceChars;
    return s;
}

qint64 LogRows::pieceIndex(const LineShape& shape, qint64 offset) const {
    if (shape.pieces == 1)
        return 0;
    return std::clamp<qint64>((offset - shape.start) / kPieceChars, 0, shape.pieces - 1);
}

LogPiece LogRows::read(qint64 line, qint64 index) const {
    LogPiece p;
    p.line = std::clamp<qint64>(line, 0, log_->lineCount() - 1);
    const LineShape s = shape(p.line);
    p.nextLine = s.next;
    p.pieces = s.pieces;
    if (s.pieces == 1) {
        p.start = s.start;
        p.text = log_->text(s.start, s.next);
        p.text.chop(s.last ? 0 : breakLength(p.text));
        p.lineEnd = s.start + p.text.size();
        return p;
    }
    p.lineEnd = s.lineEnd;
    p.index = index < 0 || index >= s.pieces ? s.pieces - 1 : index;
    p.start = s.start + p.index * kPieceChars;
    p.text = log_->text(p.start, std::min(p.start + kPieceChars, p.lineEnd));
    return p;
}

void LogRows::layOut(LogPiece& piece) const {
    piece.layout = std::make_unique<QTextLayout>(piece.text, font_);
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTabStopDistance(kTabStop);
    piece.layout->setTextOption(option);
    piece.layout->setCacheEnabled(true);
    piece.layout->beginLayout();
    for (int row = 0;; ++row) {
        QTextLine line = piece.layout->createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width_);
        line.setPosition(QPointF(0, qreal(row) * rowHeight_));
    }
    piece.layout->endLayout();
}

const LogPiece& LogRows::piece(qint64 line, qint64 index) {
    line = std::clamp<qint64>(line, 0, log_->lineCount() - 1);
    if (index != 0) {
        // The line's piece count decides which piece -1 or an index past the end is.
        const auto first = index_.find({line, 0});
        const qint64 pieces = first != index_.end() ? first->second->pieces : shape(line).pieces;
        index = index < 0 || index >= pieces ? pieces - 1 : index;
    }
    const auto found = index_.find({line, index});
    if (found != index_.end()) {
        pieces_.splice(pieces_.begin(), pieces_, found->second);
        pieces_.front().used = turn_;
        return pieces_.front();
    }
    LogPiece p = read(line, index);
    layOut(p);
    p.used = turn_;
    cachedChars_ += p.text.size();
    pieces_.push_front(std::move(p));
    index_[{line, pieces_.front().index}] = pieces_.begin();
    return pieces_.front();
}

void LogRows::forgetFrom(qint64 line) {
    for (auto it = index_.lower_bound({std::max<qint64>(line, 0), 0}); it != index_.end();) {
        cachedChars_ -= it->second->text.size();
        pieces_.erase(it->second);
        it = index_.erase(it);
    }
}

void LogRows::clear() {
    pieces_.clear();
    index_.clear();
    cachedChars_ = 0;
}

void LogRows::trim() {
    while (cachedChars_ > kCacheChars && !pieces_.empty() && pieces_.back().used != turn_) {
        cachedChars_ -= pieces_.back().text.size();
        index_.erase({pieces_.back().line, pieces_.back().index});
        pieces_.pop_back();
    }
    ++turn_;
}

RowPos LogRows::last() {
    const LogPiece& p = lastPieceOf(log_->lineCount() - 1);
    return {p.line, p.index, p.rows() - 1};
}

RowPos LogRows::moved(RowPos pos, qint64 rows) {
    while (rows > 0) {
        const LogPiece& p = piece(pos);
        const qint64 left = p.rows() - 1 - pos.row;
        if (rows <= left)
            return {pos.line, pos.piece, pos.row + int(rows)};
        if (p.isLastOfLine() && p.line + 1 >= log_->lineCount())
            return {pos.line, pos.piece, p.rows() - 1};
        rows -= left + 1;
        pos = p.isLastOfLine() ? RowPos{p.line + 1, 0, 0} : RowPos{p.line, p.index + 1, 0};
    }
    while (rows < 0) {
        if (-rows <= pos.row)
            return {pos.line, pos.piece, pos.row + int(rows)};
        if (pos.line == 0 && pos.piece == 0)
            return {0, 0, 0};
        rows += pos.row + 1;
        const LogPiece& p =
            pos.piece > 0 ? piece(pos.line, pos.piece - 1) : lastPieceOf(pos.line - 1);
        pos = {p.line, p.index, p.rows() - 1};
    }
    return pos;
}

const LogPiece& LogRows::pieceAtOffset(qint64 offset) {
    const qint64 line = log_->lineOf(offset);
    return piece(line, pieceIndex(shape(line), offset));
}

RowPos LogRows::rowOf(qint64 offset) {
    const LogPiece& p = pieceAtOffset(offset);
    const int within = int(std::clamp<qint64>(offset - p.start, 0, p.text.size()));
    const QTextLine line = p.layout->lineForTextPosition(within);
    return {p.line, p.index, line.isValid() ? line.lineNumber() : p.rows() - 1};
}

qint64 LogRows::offsetAt(const RowPos& pos, qreal x) {
    const LogPiece& p = piece(pos);
    const QTextLine line = p.layout->lineAt(std::clamp(pos.row, 0, p.rows() - 1));
    int at = line.xToCursor(x, QTextLine::CursorBetweenCharacters);
    // Past the end of a wrapped row the caret stays on it, before its last blank.
    const int rowEnd = line.textStart() + line.textLength();
    if (line.lineNumber() + 1 < p.rows() && at >= rowEnd)
        at = std::max(line.textStart(), rowEnd - 1);
    return p.start + at;
}

std::pair<qint64, qint64> LogRows::rowSpan(const RowPos& pos) {
    const LogPiece& p = piece(pos);
    const QTextLine line = p.layout->lineAt(std::clamp(pos.row, 0, p.rows() - 1));
    const qint64 first = p.start + line.textStart();
    if (line.lineNumber() + 1 < p.rows())
        return {first, first + line.textLength()};
    return {first, p.end()};
}

qint64 LogRows::nextCaret(qint64 offset) {
    if (offset >= log_->size())
        return log_->size();
    const LogPiece& p = pieceAtOffset(offset);
    if (offset >= p.lineEnd)
        return p.nextLine;
    const int within = int(offset - p.start);
    const int next = p.layout->nextCursorPosition(within);
    return next > within ? p.start + next : offset + 1;
}

qint64 LogRows::previousCaret(qint64 offset) {
    if (offset <= 0)
        return 0;
    const LogPiece& p = pieceAtOffset(offset);
    const qint64 lineStart = log_->lineStart(p.line);
    if (offset == lineStart)
        return lastPieceOf(p.line - 1).lineEnd;
    if (offset > p.lineEnd)
        return p.lineEnd;
    const int within = int(offset - p.start);
    return within > 0 ? p.start + p.layout->previousCursorPosition(within) : offset - 1;
}

std::pair<qint64, qint64> LogRows::spanAt(qint64 offset,
                                          QTextBoundaryFinder::BoundaryType type) const {
    offset = std::clamp<qint64>(offset, 0, log_->size());
    const qint64 line = log_->lineOf(offset);
    const LogPiece p = read(line, pieceIndex(shape(line), offset));
    if (offset >= p.lineEnd && p.isLastOfLine())
        return {p.lineEnd, p.nextLine};
    const int within = int(offset - p.start);
    QTextBoundaryFinder finder(type, p.text);
    finder.setPosition(within);
    qsizetype first = finder.isAtBoundary() ? within : finder.toPreviousBoundary();
    finder.setPosition(within);
    qsizetype end = finder.toNextBoundary();
    first = std::max<qsizetype>(first, 0);
    end = end < 0 ? p.text.size() : end;
    return {p.start + first, p.start + end};
}

} // namespace qav::logview
