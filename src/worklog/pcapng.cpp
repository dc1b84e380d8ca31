#include "worklog/pcapng.h"

#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <limits>

namespace qav::worklog {

namespace pcapng {

namespace {
constexpr quint16 kOptEndOfOpt = 0;
constexpr quint16 kShbUserAppl = 4;
constexpr quint16 kIfName = 2;
constexpr quint16 kIfTsresol = 9;
constexpr quint16 kEpbFlags = 2;
constexpr qsizetype kBlockOverhead = 12;   // type, total length, total length again
constexpr qsizetype kPacketFixed = 20;     // interface, time high and low, two lengths
constexpr qsizetype kFlagsOptions = 8 + 4; // epb_flags with its value, opt_endofopt

constexpr qsizetype padded(qsizetype n) {
    return (n + 3) & ~qsizetype(3);
}

char* put16(char* p, quint16 v) {
    p[0] = char(v & 0xFF);
    p[1] = char(v >> 8);
    return p + 2;
}

char* put32(char* p, quint32 v) {
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
    return p + 4;
}

char* putOption(char* p, quint16 code, QByteArrayView value) {
    p = put16(p, code);
    p = put16(p, quint16(value.size()));
    if (!value.isEmpty())
        std::memcpy(p, value.data(), std::size_t(value.size()));
    std::memset(p + value.size(), 0, std::size_t(padded(value.size()) - value.size()));
    return p + padded(value.size());
}

qsizetype optionSize(QByteArrayView value) {
    return 4 + padded(value.size());
}

// A block of the type with the given body size; body() fills it in.
template <class Fill> QByteArray block(quint32 type, qsizetype bodySize, Fill body) {
    const qsizetype total = kBlockOverhead + bodySize;
    QByteArray bytes(total, Qt::Uninitialized);
    char* p = put32(bytes.data(), type);
    p = put32(p, quint32(total));
    p = body(p);
    put32(p, quint32(total));
    return bytes;
}

// Option values are at most 65535 bytes long.
QByteArrayView optionValue(QByteArrayView value) {
    return value.first(std::min<qsizetype>(value.size(), 0xFFFC));
}
} // namespace

Direction directionOf(PacketKind kind) {
    switch (kind) {
    case PacketKind::FrameOut:
    case PacketKind::UsbReportOut:
        return Direction::Outbound;
    case PacketKind::SerialIn:
    case PacketKind::UsbReportIn:
        return Direction::Inbound;
    case PacketKind::Event:
        break;
    }
    return Direction::None;
}

QByteArray sectionHeaderBlock(QByteArrayView userApplication) {
    const QByteArrayView app = optionValue(userApplication);
    return block(kSectionHeaderType, 16 + optionSize(app) + 4, [&](char* p) {
        p = put32(p, kByteOrderMagic);
        p = put16(p, 1); // version 1.0
        p = put16(p, 0);
        p = put32(p, 0xFFFFFFFF); // section length -1: not given
        p = put32(p, 0xFFFFFFFF);
        p = putOption(p, kShbUserAppl, app);
        return putOption(p, kOptEndOfOpt, {});
    });
}

QByteArray interfaceDescriptionBlock(QByteArrayView name) {
    const QByteArrayView ifName = optionValue(name);
    const char resolution = char(kMicroseconds);
    return block(kInterfaceDescriptionType, 8 + optionSize(ifName) + 8 + 4, [&](char* p) {
        p = put16(p, kLinkTypeUser0);
        p = put16(p, 0);
        p = put32(p, 0); // snap length: none
        p = putOption(p, kIfName, ifName);
        p = putOption(p, kIfTsresol, QByteArrayView(&resolution, 1));
        return putOption(p, kOptEndOfOpt, {});
    });
}

void appendEnhancedPacketBlock(QByteArray& out, quint64 micros, PacketKind kind,
                               QByteArrayView data) {
    const qsizetype kept = std::min(data.size(), kMaxPacketData);
    const qsizetype captured = 1 + kept;
    const quint64 original =
        std::min<quint64>(quint64(data.size()) + 1, std::numeric_limits<quint32>::max());
    const Direction direction = directionOf(kind);
    const qsizetype options = direction == Direction::None ? 0 : kFlagsOptions;
    const qsizetype total = kBlockOverhead + kPacketFixed + padded(captured) + options;

    const qsizetype at = out.size();
    out.resize(at + total);
    char* p = out.data() + at;
    p = put32(p, kEnhancedPacketType);
    p = put32(p, quint32(total));
    p = put32(p, 0); // interface 0
    p = put32(p, quint32(micros >> 32));
    p = put32(p, quint32(micros & 0xFFFFFFFF));
    p = put32(p, quint32(captured));
    p = put32(p, quint32(original));
    *p++ = char(kind);
    if (kept > 0)
        std::memcpy(p, data.data(), std::size_t(kept));
    p += kept;
    const qsizetype padding = padded(captured) - captured;
    std::memset(p, 0, std::size_t(padding));
    p += padding;
    if (direction != Direction::None) {
        p = put16(p, kEpbFlags);
        p = put16(p, 4);
        p = put32(p, quint32(direction));
        p = put32(p, kOptEndOfOpt); // code 0, length 0
    }
    put32(p, quint32(total));
}

} // namespace pcapng

QString capturePathForJournal(const QString& journalPath) {
    static const QLatin1String journalPrefix("LOG-journal-"), journalSuffix(".txt");
    static const QLatin1String capturePrefix("LOG-capture-"), captureSuffix(".pcapng");
    const QString name = QFileInfo(journalPath).fileName();
    if (!name.startsWith(journalPrefix) || !name.endsWith(journalSuffix) ||
        name.size() == journalPrefix.size() + journalSuffix.size())
        return {};
    const QString stem = name.sliced(journalPrefix.size(),
                                     name.size() - journalPrefix.size() - journalSuffix.size());
    return journalPath.first(journalPath.size() - name.size()) + capturePrefix + stem +
           captureSuffix;
}

} // namespace qav::worklog
