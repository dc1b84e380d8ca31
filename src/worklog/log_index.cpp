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
    ++generation_; // the slots stay, for the next log
}

void LogIndex::appended(const char* data, qsizetype size, qint64 codes) {
    if (size <= 0)
        return;
    if (bytes_ + size - checkpoints_.back().byte >= kSegmentBytes) {
        appendedSlowly(data, size, codes);
        return;
    }
    // No checkpoint falls in these bytes. A GBK trail byte is never a CR or an
    // LF, so the breaks are found by byte.
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
}

// Bytes that reach or cross the end of the last segment: walked code by code,
// with a checkpoint at the first place past each kSegmentBytes that is
// neither inside a code nor between a CR and its LF. A CR at the very end
// waits for the next bytes to say whether an LF follows.
void LogIndex::appendedSlowly(const char* data, qsizetype size, qint64 codes) {
    [[maybe_unused]] const qint64 expected = chars_ + codes;
    const auto* d = reinterpret_cast<const unsigned char*>(data);
    qsizetype i = 0;
    for (;;) {
        const qint64 at = bytes_ + i;
        if (at - checkpoints_.back().byte >= kSegmentBytes &&
            (i < size ? !(endsWithCr_ && d[i] == '\n') : !endsWithCr_))
            checkpoints_.push_back(Checkpoint{at, chars_, breaks_});
        if (i >= size)
            break;
        const unsigned char b = d[i];
        if (b == '\r') {
            ++breaks_;
            endsWithCr_ = true;
            ++i;
        } else {
            if (b == '\n' && !endsWithCr_)
                ++breaks_;
            endsWithCr_ = false;
            i = std::min(size, i + (isGbkLead(b) ? 2 : 1));
        }
        ++chars_;
    }
    Q_ASSERT(chars_ == expected);
    bytes_ += size;
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
    const auto* d = reinterpret_cast<const unsigned char*>(s.data.get());
    const qsizetype n = s.size;
    qint64 chars = s.scannedChars;
    qsizetype i = from;
    const auto start = [&] { return Start{quint32(i), quint32(chars)}; };
    if (i > 0 && i < n && d[i - 1] == '\r' && d[i] == '\n' && !s.starts.empty()) {
        ++i;
        ++chars;
        s.starts.back() = start();
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
            s.starts.push_back(start());
        } else if (b == '\n') {
            s.starts.push_back(start());
        }
    }
    s.scannedChars = chars;
}

const LogIndex::Segment& LogIndex::segment(std::size_t index) const {
    const qint64 from = checkpoints_[index].byte;
    const qint64 end = segmentEnd(index);
    Q_ASSERT(end - from <= kMaxSegmentBytes);
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
            s->data = std::make_unique<char[]>(std::size_t(kMaxSegmentBytes));
        } else {
            s = &*std::min_element(
                cache_.begin(), cache_.end(),
                [](const Segment& a, const Segment& b) { return a.lastUse < b.lastUse; });
        }
        s->index = index;
        s->generation = generation_;
        s->size = 0;
        s->starts.clear();
        s->scannedChars = 0;
    }
    const qint64 have = from + s->size;
    const qint64 want = std::min(end, from + kMaxSegmentBytes);
    if (have < want) { // new, or the last segment has grown
        const qsizetype old = s->size;
        reader_(have, want, s->data.get() + old);
        s->size = qsizetype(want - from);
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
    const Start p = segment(k).starts[std::size_t(line - c.breaks - 1)];
    return Pos{c.byte + p.byte, c.chr + p.chr};
}

qint64 LogIndex::lineOf(qint64 chr) const {
    chr = std::clamp<qint64>(chr, 0, chars_);
    const std::size_t k = segmentOfChar(chr);
    const Checkpoint& c = checkpoints_[k];
    const std::vector<Start>& starts = segment(k).starts;
    const auto it = std::upper_bound(starts.begin(), starts.end(), chr - c.chr,
                                     [](qint64 v, const Start& p) { return v < p.chr; });
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
                               [](qint64 v, const Start& p) { return v < p.chr; });
    Pos at = it == s.starts.begin() ? Pos{} : Pos{(it - 1)->byte, (it - 1)->chr};
    const auto* d = reinterpret_cast<const unsigned char*>(s.data.get());
    while (at.chr < want && at.byte < s.size) {
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
        return QByteArray(s.data.get() + (from - base), qsizetype(to - from));
    }
    QByteArray bytes(qsizetype(to - from), Qt::Uninitialized);
    reader_(from, to, bytes.data());
    return bytes;
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
