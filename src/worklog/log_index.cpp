#include "worklog/log_index.h"

#include "worklog/log_codec.h"

#include <algorithm>
#include <cstring>

namespace qav::worklog {

LogIndex::LogIndex(Reader reader) : reader_(std::move(reader)) {
    cache_.reserve(kCachedSegments);
}

void LogIndex::clear() {
    checkpoints_.assign(1, Checkpoint{});
    bytes_ = chars_ = breaks_ = 0;
    endsWithCr_ = false;
    ++generation_;
    cache_.clear();
}

// A checkpoint at the end of the bytes so far, once a segment is full; never
// between a CR and the LF that follows it.
void LogIndex::maybeCheckpoint(bool beforeLf) {
    if (bytes_ - checkpoints_.back().byte < kSegmentBytes || (endsWithCr_ && beforeLf))
        return;
    checkpoints_.push_back(Checkpoint{bytes_, chars_, breaks_});
}

void LogIndex::appended(const char* data, qsizetype size, qint64 codes) {
    if (size <= 0)
        return;
    maybeCheckpoint(data[0] == '\n');
    // A GBK trail byte is never a CR or an LF, so the breaks are found by byte.
    const char* const end = data + size;
    qint64 breaks = 0;
    for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\r', end - p))); ++p)
        ++breaks;
    for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\n', end - p))); ++p) {
        const bool afterCr = p == data ? endsWithCr_ : p[-1] == '\r';
        if (!afterCr)
            ++breaks;
    }
    bytes_ += size;
    chars_ += codes;
    breaks_ += breaks;
    endsWithCr_ = end[-1] == '\r';
    maybeCheckpoint(false);
}

qint64 LogIndex::segmentEnd(std::size_t index) const {
    return index + 1 < checkpoints_.size() ? checkpoints_[index + 1].byte : bytes_;
}

std::size_t LogIndex::segmentOfLine(qint64 line) const {
    const auto it = std::lower_bound(checkpoints_.begin(), checkpoints_.end(), line,
                                     [](const Checkpoint& c, qint64 l) { return c.breaks < l; });
    return std::size_t(it - checkpoints_.begin()) - 1;
}

std::size_t LogIndex::segmentOfChar(qint64 chr) const {
    const auto it = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), chr,
                                     [](qint64 c, const Checkpoint& p) { return c < p.chr; });
    return std::size_t(it - checkpoints_.begin()) - 1;
}

// The lines that start in s.data from `from` on; a CR at the old end whose LF
// has come since moves the start after it.
void LogIndex::scan(Segment& s, qsizetype from) {
    const auto* d = reinterpret_cast<const unsigned char*>(s.data.constData());
    const qsizetype n = s.data.size();
    qint64 chars = s.scannedChars;
    qsizetype i = from;
    if (i > 0 && i < n && d[i - 1] == '\r' && d[i] == '\n' && !s.starts.empty()) {
        ++i;
        ++chars;
        s.starts.back() = Pos{i, chars};
    }
    while (i < n) {
        const unsigned char b = d[i];
        if (b > '\r') {
            i += isGbkLead(b) ? 2 : 1;
            ++chars;
            continue;
        }
        ++i;
        ++chars;
        if (b == '\r') {
            if (i < n && d[i] == '\n') {
                ++i;
                ++chars;
            }
            s.starts.push_back(Pos{i, chars});
        } else if (b == '\n') {
            s.starts.push_back(Pos{i, chars});
        }
    }
    s.scannedChars = chars;
}

const LogIndex::Segment& LogIndex::segment(std::size_t index) const {
    const qint64 from = checkpoints_[index].byte;
    const qint64 end = segmentEnd(index);
    Segment* s = nullptr;
    for (Segment& c : cache_) {
        if (c.index == index && c.generation == generation_) {
            s = &c;
            break;
        }
    }
    if (!s) {
        if (cache_.size() < std::size_t(kCachedSegments)) {
            s = &cache_.emplace_back();
        } else {
            s = &*std::min_element(
                cache_.begin(), cache_.end(),
                [](const Segment& a, const Segment& b) { return a.lastUse < b.lastUse; });
        }
        *s = Segment{};
        s->index = index;
        s->generation = generation_;
    }
    const qint64 have = from + s->data.size();
    if (have < end) { // new, or the last segment has grown
        const qsizetype old = s->data.size();
        s->data += reader_(have, end);
        scan(*s, old);
    }
    s->lastUse = ++uses_;
    return *s;
}

LogIndex::Pos LogIndex::lineStart(qint64 line) const {
    if (line <= 0)
        return Pos{};
    if (line >= lineCount())
        return Pos{bytes_, chars_};
    const std::size_t k = segmentOfLine(line);
    const Checkpoint& c = checkpoints_[k];
    const Pos p = segment(k).starts[std::size_t(line - c.breaks - 1)];
    return Pos{c.byte + p.byte, c.chr + p.chr};
}

qint64 LogIndex::lineOf(qint64 chr) const {
    chr = std::clamp<qint64>(chr, 0, chars_);
    const std::size_t k = segmentOfChar(chr);
    const Checkpoint& c = checkpoints_[k];
    const std::vector<Pos>& starts = segment(k).starts;
    const auto it = std::upper_bound(starts.begin(), starts.end(), chr - c.chr,
                                     [](qint64 v, const Pos& p) { return v < p.chr; });
    return c.breaks + qint64(it - starts.begin());
}

qint64 LogIndex::byteOf(qint64 chr) const {
    chr = std::clamp<qint64>(chr, 0, chars_);
    if (chr == chars_)
        return bytes_;
    const std::size_t k = segmentOfChar(chr);
    const Checkpoint& c = checkpoints_[k];
    const Segment& s = segment(k);
    const qint64 want = chr - c.chr;
    auto it = std::upper_bound(s.starts.begin(), s.starts.end(), want,
                               [](qint64 v, const Pos& p) { return v < p.chr; });
    Pos at = it == s.starts.begin() ? Pos{} : *(it - 1);
    const auto* d = reinterpret_cast<const unsigned char*>(s.data.constData());
    while (at.chr < want && at.byte < s.data.size()) {
        at.byte += isGbkLead(d[at.byte]) ? 2 : 1;
        ++at.chr;
    }
    return c.byte + at.byte;
}

QByteArray LogIndex::read(qint64 from, qint64 to) const {
    from = std::clamp<qint64>(from, 0, bytes_);
    to = std::clamp<qint64>(to, from, bytes_);
    if (from == to)
        return QByteArray();
    const auto it = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), from,
                                     [](qint64 b, const Checkpoint& p) { return b < p.byte; });
    const std::size_t k = std::size_t(it - checkpoints_.begin()) - 1;
    if (to <= segmentEnd(k)) {
        const Segment& s = segment(k);
        const qint64 base = checkpoints_[k].byte;
        return s.data.sliced(qsizetype(from - base), qsizetype(to - from));
    }
    return reader_(from, to);
}

QByteArray LogIndex::lineBytes(qint64 line) const {
    if (line < 0 || line >= lineCount())
        return QByteArray();
    const Pos start = lineStart(line);
    if (line + 1 == lineCount())
        return read(start.byte, bytes_); // the last line has no break of its own
    const Pos next = lineStart(line + 1);
    QByteArray bytes = read(start.byte, next.byte);
    bytes.chop(bytes.endsWith("\r\n") ? 2 : 1);
    return bytes;
}

} // namespace qav::worklog
