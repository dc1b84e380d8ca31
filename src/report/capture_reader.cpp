#include "report/capture_reader.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace qav::report {

namespace {
constexpr qsizetype kReadChunk = 1024 * 1024;
constexpr quint32 kSwappedMagic = 0x4D3C2B1A;
constexpr qsizetype kBlockOverhead = 12; // type, length, length again
constexpr qsizetype kSectionFixed = 16;  // magic, version, section length
constexpr qsizetype kInterfaceFixed = 8; // link type, reserved, snap length
constexpr qsizetype kPacketFixed = 20;   // interface, time high and low, two lengths
constexpr quint16 kIfTsresol = 9;
constexpr quint8 kBinaryResolution = 0x80; // if_tsresol: 2^-n instead of 10^-n

constexpr qsizetype padded(qsizetype n) {
    return (n + 3) & ~qsizetype(3);
}
} // namespace

std::optional<QString> CaptureReader::start() {
    if (!fill(4))
        return filled_ == at_ ? QStringLiteral("the file is empty")
                              : QStringLiteral("not a pcapng capture: too short");
    if (u32(at_) != worklog::pcapng::kSectionHeaderType)
        return QStringLiteral("not a pcapng capture: it does not begin with a section header");
    return std::nullopt;
}

bool CaptureReader::fill(qsizetype bytes) {
    if (filled_ - at_ >= bytes)
        return true;
    if (at_ > 0) {
        std::memmove(buffer_.data(), buffer_.constData() + at_, std::size_t(filled_ - at_));
        filled_ -= at_;
        at_ = 0;
    }
    // A chunk at a time, but no more than a small file holds.
    qsizetype size = std::max(bytes, kReadChunk);
    if (!device_.isSequential())
        size =
            std::max(bytes, qsizetype(std::min<qint64>(size, filled_ + device_.bytesAvailable())));
    if (buffer_.size() < size)
        buffer_.resize(size);
    while (filled_ < bytes && !eof_) {
        const qint64 n = device_.read(buffer_.data() + filled_, buffer_.size() - filled_);
        if (n <= 0)
            eof_ = true;
        else
            filled_ += qsizetype(n);
    }
    return filled_ >= bytes;
}

quint32 CaptureReader::u32(qsizetype at) const {
    const char* p = buffer_.constData() + at;
    return swapped_ ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
}

quint16 CaptureReader::u16(qsizetype at) const {
    const char* p = buffer_.constData() + at;
    return swapped_ ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
}

bool CaptureReader::stop(End end) {
    end_ = end;
    return false;
}

bool CaptureReader::next(CapturedPacket& packet) {
    using namespace worklog::pcapng;
    while (end_ == End::None) {
        if (!fill(8))
            return stop(filled_ == at_ ? End::Complete : End::Torn);
        const quint32 type = u32(at_); // a section header's type reads the same both ways
        if (type == kSectionHeaderType) {
            if (!fill(kBlockOverhead))
                return stop(End::Torn);
            swapped_ = false;
            const quint32 magic = u32(at_ + 8);
            if (magic != kByteOrderMagic && magic != kSwappedMagic)
                return stop(End::Damaged);
            swapped_ = magic == kSwappedMagic;
        } else if (!inSection_) {
            return stop(End::Damaged);
        }
        const quint32 length = u32(at_ + 4);
        if (length < kBlockOverhead || length % 4 != 0 || length > quint32(kLargestBlock))
            return stop(End::Damaged);
        if (!fill(qsizetype(length)))
            return stop(End::Torn);
        if (u32(at_ + length - 4) != length)
            return stop(End::Damaged);

        bool found = false;
        switch (type) {
        case kSectionHeaderType:
            if (!readSectionHeader(length))
                return stop(End::Damaged);
            break;
        case kInterfaceDescriptionType:
            readInterface(length);
            break;
        case kEnhancedPacketType:
            if (length < kBlockOverhead + kPacketFixed)
                return stop(End::Damaged);
            found = readPacket(length, packet);
            if (end_ != End::None)
                return false;
            break;
        default: // other blocks say nothing we show
            break;
        }
        at_ += length;
        wholeBytes_ += length;
        if (found)
            return true;
    }
    return false;
}

bool CaptureReader::readSectionHeader(qsizetype length) {
    if (length < kBlockOverhead + kSectionFixed || u16(at_ + 12) != 1)
        return false;
    interfaces_.clear();
    inSection_ = true;
    return true;
}

void CaptureReader::readInterface(qsizetype length) {
    Interface iface;
    if (length >= kBlockOverhead + kInterfaceFixed) {
        iface.ours = u16(at_ + 8) == worklog::pcapng::kLinkTypeUser0;
        const qsizetype end = at_ + length - 4;
        for (qsizetype p = at_ + 8 + kInterfaceFixed; p + 4 <= end;) {
            const quint16 code = u16(p);
            const qsizetype size = u16(p + 2);
            if (code == 0 || p + 4 + padded(size) > end)
                break;
            if (code == kIfTsresol && size >= 1) {
                const auto value = quint8(buffer_.constData()[p + 4]);
                if (value & kBinaryResolution)
                    iface.binary = value & ~kBinaryResolution;
                else
                    iface.decimals = value;
            }
            p += 4 + padded(size);
        }
    }
    interfaces_.push_back(iface);
}

bool CaptureReader::readPacket(qsizetype length, CapturedPacket& packet) {
    const quint32 index = u32(at_ + 8);
    const quint32 captured = u32(at_ + 20);
    if (captured > quint32(length - kBlockOverhead - kPacketFixed)) {
        stop(End::Damaged);
        return false;
    }
    if (index >= interfaces_.size() || !interfaces_[index].ours || captured == 0)
        return false;
    const quint64 stamp = quint64(u32(at_ + 12)) << 32 | u32(at_ + 16);
    const qsizetype data = at_ + 8 + kPacketFixed;
    packet.micros = toMicros(interfaces_[index], stamp);
    packet.kind = worklog::PacketKind(quint8(buffer_.constData()[data]));
    packet.data = QByteArrayView(buffer_.constData() + data + 1, qsizetype(captured) - 1);
    return true;
}

qint64 CaptureReader::toMicros(const Interface& iface, quint64 stamp) const {
    if (iface.binary < 0 && iface.decimals == 6)
        return qint64(std::min<quint64>(stamp, quint64(std::numeric_limits<qint64>::max())));
    const long double perSecond =
        iface.binary >= 0 ? std::ldexp(1.0L, iface.binary) : std::pow(10.0L, iface.decimals);
    const long double micros = std::floor(static_cast<long double>(stamp) * 1e6L / perSecond);
    if (!(micros < 9e18L))
        return std::numeric_limits<qint64>::max();
    return qint64(micros);
}

} // namespace qav::report
