#pragma once
// Reads a capture (worklog/pcapng.h has the layout) packet by packet, from a
// file of any size in a fixed amount of memory.
//
// A capture may still be written, or its writer killed in the middle of a
// block: the reader takes every whole block and stops at the first that is
// cut off (Torn) or not laid out as a block (Damaged), and says where. It
// never reads past the blocks' own lengths, and a block longer than any
// writer makes is damage, not a reason to allocate. Sections of either byte
// order, several sections in one file, and other interfaces' packets (which
// are skipped) are read as Wireshark reads them.

#include "worklog/pcapng.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>
#include <optional>
#include <vector>

namespace qav::report {

struct CapturedPacket {
    qint64 micros = 0;             // since 1970, UTC
    worklog::PacketKind kind = {}; // the packet's first byte, whatever its value
    QByteArrayView data;           // after the kind byte; valid until the next call
};

class CaptureReader {
public:
    // How the blocks ended; None while there are more.
    enum class End { None, Complete, Torn, Damaged };
    // Larger blocks are taken as damage.
    static constexpr qsizetype kLargestBlock = 16 * 1024 * 1024;

    explicit CaptureReader(QIODevice& device) : device_(device) {}

    // The file starts as a capture does; what it is otherwise.
    std::optional<QString> start();
    // The next packet of our kind; false at the end (end() says which).
    bool next(CapturedPacket& packet);

    End end() const { return end_; }
    // Bytes of whole blocks read: where a torn or damaged file stops being read.
    qint64 wholeBytes() const { return wholeBytes_; }

private:
    struct Interface {
        bool ours = false; // link type USER0
        int decimals = 6;  // if_tsresol 10^-n
        int binary = -1;   // if_tsresol 2^-n, when given so
    };
    bool fill(qsizetype bytes); // at least this many unread bytes in the buffer
    quint32 u32(qsizetype at) const;
    quint16 u16(qsizetype at) const;
    bool readSectionHeader(qsizetype length);
    void readInterface(qsizetype length);
    bool readPacket(qsizetype length, CapturedPacket& packet);
    qint64 toMicros(const Interface& iface, quint64 stamp) const;
    bool stop(End end);

    QIODevice& device_;
    QByteArray buffer_;
    qsizetype at_ = 0;     // the first unread byte in buffer_
    qsizetype filled_ = 0; // bytes of buffer_ in use
    bool eof_ = false;
    bool swapped_ = false; // a big-endian section
    bool inSection_ = false;
    std::vector<Interface> interfaces_;
    End end_ = End::None;
    qint64 wholeBytes_ = 0;
};

} // namespace qav::report
