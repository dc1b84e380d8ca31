#pragma once
// Cuts a byte stream into the chip's frames:
//
//   FD | len hi | len lo | command | [parameter] | [data ...]
//
// Bytes may arrive in any pieces. Bytes before a header are skipped, a
// length of 0 or beyond the chip's buffer is an error at once, and a frame
// that stays incomplete is an error when the owner says its time is up
// (expire()). The parser has no clock and no event loop of its own, so it
// can be driven byte by byte from a test or a fuzzer.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <vector>

namespace qav::sim {

class FrameParser {
public:
    // The chip keeps a 4096-byte frame buffer: 4093 bytes after the length.
    static constexpr int kDefaultMaxLength = 4093;

    struct Event {
        enum class Kind { Frame, Error };
        Kind kind = Kind::Frame;
        QByteArray bytes; // the whole frame, or the bytes thrown away with an error
        QString reason;   // empty for a frame
    };

    explicit FrameParser(int maxLength = kDefaultMaxLength);

    // Takes the next bytes of the stream and returns the frames and errors
    // they complete, in order.
    std::vector<Event> feed(QByteArrayView bytes);

    // The owner's time limit ran out: an incomplete frame becomes an error.
    // Returns nothing when no frame was in progress.
    std::vector<Event> expire();

    // True while a frame has begun (a header was seen) and is not complete.
    bool inFrame() const { return !pending_.isEmpty(); }
    // Bytes skipped while looking for a header, since construction.
    qint64 skippedBytes() const { return skipped_; }
    int maxLength() const { return maxLength_; }

    void reset();

private:
    int maxLength_;
    QByteArray pending_; // from the header on
    qint64 skipped_ = 0;
};

} // namespace qav::sim
