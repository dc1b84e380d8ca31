#include "frame_parser.h"

#include "protocol/frame.h"

namespace qav::sim {

namespace {
constexpr char kHeader = char(protocol::kFrameHeader);
constexpr int kPrefix = 3; // header and the two length bytes

int lengthOf(const QByteArray& pending) {
    return (quint8(pending[1]) << 8) | quint8(pending[2]);
}
} // namespace

FrameParser::FrameParser(int maxLength) : maxLength_(maxLength) {}

void FrameParser::reset() {
    pending_.clear();
}

std::vector<FrameParser::Event> FrameParser::feed(QByteArrayView bytes) {
    std::vector<Event> events;
    qsizetype i = 0;
    const qsizetype n = bytes.size();
    while (i < n) {
        if (pending_.isEmpty()) {
            // Hunt for the next header; everything before it is noise.
            const qsizetype at = bytes.indexOf(kHeader, i);
            if (at < 0) {
                skipped_ += n - i;
                break;
            }
            skipped_ += at - i;
            pending_.append(kHeader);
            i = at + 1;
            continue;
        }
        if (pending_.size() < kPrefix) {
            pending_.append(bytes[i++]);
            if (pending_.size() == kPrefix) {
                const int length = lengthOf(pending_);
                if (length == 0 || length > maxLength_) {
                    events.push_back(
                        {Event::Kind::Error, pending_,
                         length == 0
                             ? QStringLiteral("length 0")
                             : QStringLiteral("length %1 exceeds %2").arg(length).arg(maxLength_)});
                    pending_.clear();
                }
            }
            continue;
        }
        const qsizetype want = kPrefix + lengthOf(pending_) - pending_.size();
        const qsizetype take = std::min(want, n - i);
        pending_.append(bytes.sliced(i, take));
        i += take;
        if (take == want) {
            events.push_back({Event::Kind::Frame, pending_, {}});
            pending_.clear();
        }
    }
    return events;
}

std::vector<FrameParser::Event> FrameParser::expire() {
    std::vector<Event> events;
    if (pending_.isEmpty())
        return events;
    QString reason;
    if (pending_.size() < kPrefix)
        reason = QStringLiteral("incomplete header");
    else
        reason = QStringLiteral("incomplete frame: %1 of %2 bytes")
                     .arg(pending_.size())
                     .arg(kPrefix + lengthOf(pending_));
    events.push_back({Event::Kind::Error, pending_, reason});
    pending_.clear();
    return events;
}

} // namespace qav::sim
