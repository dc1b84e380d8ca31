// Fuzzes the emulator's frame parser with arbitrary byte streams cut into
// arbitrary pieces. Input layout: byte 0 picks the length limit, byte 1 seeds
// the piece sizes, the rest is the stream.
//
// Checked on every run:
//   - a frame starts with FD, its length field is its size - 3 and lies in
//     1 .. limit; an error never holds more bytes than a frame could;
//   - no byte is lost or made up: frames + errors + skipped + pending bytes
//     add up to the stream, and the events are the stream's bytes in order;
//   - the pieces do not matter: one piece, byte by byte and random pieces
//     give the same events;
//   - expire() leaves the parser out of frame, and only reports bytes that
//     were pending.
#include "frame_parser.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using qav::sim::FrameParser;
using Event = FrameParser::Event;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

int lengthField(const QByteArray& bytes) {
    return (std::uint8_t(bytes[1]) << 8) | std::uint8_t(bytes[2]);
}

struct Run {
    std::vector<Event> events;
    qint64 skipped = 0;
    bool inFrame = false;
    QByteArray pending; // what expire() gave back at the end
};

// Feeds `stream` in pieces whose sizes come from `next`, collects the events
// and expires the parser at the end.
template <typename NextSize> Run feedInPieces(const QByteArray& stream, int limit, NextSize next) {
    FrameParser parser(limit);
    Run run;
    qsizetype at = 0;
    while (at < stream.size()) {
        const qsizetype piece = std::min<qsizetype>(next(), stream.size() - at);
        for (Event& event : parser.feed(QByteArrayView(stream).sliced(at, piece)))
            run.events.push_back(std::move(event));
        at += piece;
    }
    run.skipped = parser.skippedBytes();
    run.inFrame = parser.inFrame();
    const auto expired = parser.expire();
    check(!parser.inFrame());
    check(expired.size() == (run.inFrame ? 1u : 0u));
    if (!expired.empty()) {
        const Event& e = expired.front();
        check(e.kind == Event::Kind::Error && !e.reason.isEmpty());
        check(!e.bytes.isEmpty() && std::uint8_t(e.bytes[0]) == 0xFD);
        // Incomplete: a short header, or fewer bytes than the length announces.
        check(e.bytes.size() < 3 || e.bytes.size() < 3 + lengthField(e.bytes));
        run.pending = e.bytes;
    }
    check(parser.expire().empty());
    return run;
}

void checkEvents(const Run& run, const QByteArray& stream, int limit) {
    qsizetype total = run.skipped + run.pending.size();
    // The events and the pending bytes appear in the stream in order, with
    // only skipped bytes between them.
    qsizetype at = 0;
    for (const Event& e : run.events) {
        check(!e.bytes.isEmpty() && std::uint8_t(e.bytes[0]) == 0xFD);
        if (e.kind == Event::Kind::Frame) {
            check(e.reason.isEmpty());
            check(e.bytes.size() >= 4);
            const int length = lengthField(e.bytes);
            check(length == e.bytes.size() - 3);
            check(length >= 1 && length <= limit);
        } else {
            // Errors at the header: exactly the header and a bad length.
            check(!e.reason.isEmpty());
            check(e.bytes.size() == 3);
            const int length = lengthField(e.bytes);
            check(length == 0 || length > limit);
        }
        // Skipped bytes hold no header, so each event starts at the next FD.
        const qsizetype found = stream.indexOf(char(0xFD), at);
        check(found >= at && stream.sliced(found).startsWith(e.bytes));
        at = found + e.bytes.size();
        total += e.bytes.size();
    }
    const qsizetype rest = stream.indexOf(char(0xFD), at);
    if (run.pending.isEmpty())
        check(rest < 0);
    else
        check(rest >= 0 && stream.sliced(rest) == run.pending);
    check(total == stream.size());
}

bool sameEvents(const Run& a, const Run& b) {
    if (a.events.size() != b.events.size() || a.skipped != b.skipped || a.pending != b.pending)
        return false;
    for (std::size_t k = 0; k < a.events.size(); ++k) {
        if (a.events[k].kind != b.events[k].kind || a.events[k].bytes != b.events[k].bytes ||
            a.events[k].reason != b.events[k].reason)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    // Small limits let the fuzzer reach "too long" with short inputs; the
    // chip's own limit is among them.
    static constexpr int kLimits[] = {
        FrameParser::kDefaultMaxLength, 1, 2, 5, 16, 255, 256, 0xFFFF};
    const int limit = kLimits[data[0] % std::size(kLimits)];
    std::uint32_t seed = data[1] * 2654435761u + 1;
    const QByteArray stream(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));

    const Run whole = feedInPieces(stream, limit, [&] { return stream.size(); });
    checkEvents(whole, stream, limit);

    const Run bytes = feedInPieces(stream, limit, [] { return qsizetype(1); });
    check(sameEvents(whole, bytes));

    const Run pieces = feedInPieces(stream, limit, [&] {
        seed = seed * 1103515245u + 12345u;
        return qsizetype(1 + (seed >> 16) % 9);
    });
    check(sameEvents(whole, pieces));
    return 0;
}
