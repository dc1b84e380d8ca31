#pragma once
// Finds lines and characters in the work log's bytes without holding them.
//
// The bytes are GBK codes, one character each (log_codec.h). Every 64 KiB a
// checkpoint records the byte offset, the character offset and the number of
// line breaks before it; a checkpoint never falls inside a code nor between
// the CR and the LF of a break, but it may fall inside an entry, so a piece of
// the log between two checkpoints (a segment) is never more than a byte over
// 64 KiB, however long the entries. A segment is read when it is asked for,
// scanned once for the lines that start in it, and kept in one of a few cache
// slots. A slot's buffers are made once, at their full size, and reused for
// every segment it holds afterwards, so resident memory is the checkpoints
// (24 bytes per 64 KiB of log) and the slots, whatever the size of the log,
// and reading the log does not churn the heap. Each question costs a binary
// search and at most one read of a segment.

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace qav::worklog {

class LogIndex {
public:
    static constexpr qint64 kSegmentBytes = 64 * 1024;
    // The most bytes a segment holds: a checkpoint waits at most one byte
    // past kSegmentBytes, for the second byte of a code or the LF of a CR LF.
    static constexpr qint64 kMaxSegmentBytes = kSegmentBytes + 1;
    static constexpr int kCachedSegments = 8;

    // Fills out with the bytes from `from` up to `to`.
    using Reader = std::function<void(qint64 from, qint64 to, char* out)>;
    explicit LogIndex(Reader reader);

    void clear();
    // Bytes that have just been appended at the end, `codes` characters.
    void appended(const char* data, qsizetype size, qint64 codes);

    qint64 bytes() const { return bytes_; }
    qint64 chars() const { return chars_; }
    qint64 lineCount() const { return breaks_ + 1; }

    struct Pos {
        qint64 byte = 0, chr = 0;
    };
    Pos lineStart(qint64 line) const;
    qint64 lineOf(qint64 chr) const;
    qint64 byteOf(qint64 chr) const;
    // The bytes of a line, without its break.
    QByteArray lineBytes(qint64 line) const;
    QByteArray read(qint64 from, qint64 to) const;

private:
    struct Checkpoint {
        qint64 byte = 0, chr = 0, breaks = 0;
    };
    // Offsets within a segment, which fit in 32 bits.
    struct Start {
        quint32 byte = 0, chr = 0;
    };
    struct Segment {
        std::size_t index = 0;
        quint64 generation = 0; // 0: holds nothing
        quint64 lastUse = 0;
        std::unique_ptr<char[]> data; // kMaxSegmentBytes, from the segment's checkpoint on
        qsizetype size = 0;           // bytes in data
        std::vector<Start> starts;    // lines starting inside; its capacity is kept
        qint64 scannedChars = 0;      // characters in data
    };

    void appendedSlowly(const char* data, qsizetype size, qint64 codes);
    std::size_t segmentOfLine(qint64 line) const;
    std::size_t segmentOfChar(qint64 chr) const;
    qint64 segmentEnd(std::size_t index) const;
    const Segment& segment(std::size_t index) const;
    static void scan(Segment& s, qsizetype from);

    Reader reader_;
    std::vector<Checkpoint> checkpoints_{Checkpoint{}};
    qint64 bytes_ = 0, chars_ = 0, breaks_ = 0;
    bool endsWithCr_ = false;
    quint64 generation_ = 1;             // changes when the log is cleared
    mutable std::vector<Segment> cache_; // kCachedSegments slots, made when first used
    mutable quint64 uses_ = 0;
};

} // namespace qav::worklog
