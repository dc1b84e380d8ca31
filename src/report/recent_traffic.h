#pragma once
// The last frames and replies before a moment, as a hang's report shows them:
//
//   03:12:45.120 -> FD 00 0C 01 01 C4 E3 BA C3 … (120 bytes)
//   03:12:45.161 <- 41
//
// Kept raw in a ring and worded only when asked, so that a night's million
// frames cost no text each.

#include <QByteArrayView>
#include <QStringList>
#include <array>
#include <cstdint>

namespace qav::report {

class RecentTraffic {
public:
    static constexpr qsizetype kKept = 8;
    static constexpr qsizetype kHexBytesShown = 16;

    // msSinceEpoch: when it was sent or came, shown in local time.
    void frame(qint64 msSinceEpoch, QByteArrayView frame);
    void reply(qint64 msSinceEpoch, std::uint8_t code);
    // Oldest first.
    QStringList lines() const;

private:
    struct Entry {
        qint64 ms = 0;
        std::array<char, kHexBytesShown> head{};
        qsizetype size = 0; // of the frame; 1 for a reply
        bool reply = false;
    };
    Entry& push(qint64 ms);

    std::array<Entry, kKept> ring_{};
    qsizetype next_ = 0;
    qsizetype count_ = 0;
};

} // namespace qav::report
