// Fuzzes the capture's Enhanced Packet Block builder. Input layout: byte 0 is
// the packet kind (any value), byte 1 how often the rest repeats (0xFF: past
// the longest packet Wireshark reads), the rest the packet's data. The block
// is appended after a few bytes already in the buffer.
//
// Checked on every run:
//   - the bytes before the block are untouched;
//   - the block is a multiple of 4 bytes, its type is 6 and its total length,
//     at its start and at its end, is its size;
//   - the captured length is the data plus the kind byte, at most 262144, and
//     the original length counts all of the data;
//   - the kind byte and the kept data follow, then zeros up to 32 bits;
//   - epb_flags (direction 1 or 2) and opt_endofopt follow exactly for the
//     kinds with a direction, and nothing for the others.
#include "worklog/pcapng.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace qav::worklog;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

quint32 le32(const QByteArray& b, qsizetype at) {
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | std::uint8_t(b[at + i]);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const auto kind = PacketKind(data[0]);
    const QByteArray piece(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));
    // 0xFF: past the longest packet Wireshark reads; otherwise up to 8 copies.
    const qsizetype copies = piece.isEmpty()   ? 1
                             : data[1] == 0xFF ? 300000 / piece.size() + 1
                                               : data[1] % 8 + 1;
    const QByteArray payload = piece.repeated(copies);

    const QByteArray before("\x11\x22\x33", 3);
    QByteArray buffer = before;
    pcapng::appendEnhancedPacketBlock(buffer, 0x0123456789ABCDEFull, kind, payload);
    check(buffer.startsWith(before));
    const QByteArray block = buffer.sliced(before.size());

    const qsizetype n = payload.size();
    const qsizetype captured = std::min<qsizetype>(n + 1, pcapng::kMaxCaptured);
    check(block.size() % 4 == 0);
    check(le32(block, 0) == pcapng::kEnhancedPacketType);
    check(le32(block, 4) == quint32(block.size()));
    check(le32(block, block.size() - 4) == quint32(block.size()));
    check(le32(block, 8) == 0);
    check(le32(block, 12) == 0x01234567u && le32(block, 16) == 0x89ABCDEFu);
    check(le32(block, 20) == quint32(captured));
    check(le32(block, 24) == quint32(n + 1));
    check(std::uint8_t(block[28]) == data[0]);
    check(std::memcmp(block.constData() + 29, payload.constData(), std::size_t(captured - 1)) == 0);
    const qsizetype padded = (captured + 3) / 4 * 4;
    for (qsizetype i = 28 + captured; i < 28 + padded; ++i)
        check(block[i] == 0);

    const qsizetype options = block.size() - 4 - (28 + padded);
    const auto direction = pcapng::directionOf(kind);
    if (direction == pcapng::Direction::None) {
        check(options == 0);
    } else {
        check(options == 12);
        check(le32(block, 28 + padded) == 0x00040002u); // epb_flags, 4 bytes
        check(le32(block, 28 + padded + 4) == quint32(direction));
        check(quint32(direction) == 1 || quint32(direction) == 2);
        check(le32(block, 28 + padded + 8) == 0);
    }
    return 0;
}
