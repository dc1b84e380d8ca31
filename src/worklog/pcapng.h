#pragma once
// The blocks of the run's capture file, a pcapng file that Wireshark and
// tshark read (the dissector is packaging/wireshark/qav7120.lua):
//
//   Section Header Block         byte-order magic, version 1.0, length unknown (-1),
//                                shb_userappl
//   Interface Description Block  link type USER0 (147), no snap length,
//                                if_name, if_tsresol 6 (microseconds)
//   Enhanced Packet Block ...    one per event, interface 0, the time in
//                                microseconds since 1970; epb_flags gives the
//                                direction (01 inbound, 10 outbound) when there is one
//
// Every block is written little-endian, padded to 32 bits, its total length
// repeated at its end; options end with opt_endofopt.
//
// A packet's first byte says what the bytes after it are (PacketKind). Pure
// functions over bytes; CaptureFile writes them.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

namespace qav::worklog {

// The first byte of every captured packet. The dissector uses the same values.
enum class PacketKind : quint8 {
    FrameOut = 0x01,     // a whole frame as the console dispatched it (FD, length, command ...)
    SerialIn = 0x02,     // one chunk of bytes exactly as the serial port delivered it
    UsbReportOut = 0x03, // the 33-byte output report written, report ID first
    UsbReportIn = 0x04,  // the input report read, report ID first, byte 1 the reply
    Event = 0x05,        // the console's own event, as UTF-8 text; no direction
};

namespace pcapng {

enum class Direction : quint32 { None = 0, Inbound = 1, Outbound = 2 }; // epb_flags bits 0-1

inline constexpr quint32 kSectionHeaderType = 0x0A0D0D0A;
inline constexpr quint32 kInterfaceDescriptionType = 0x00000001;
inline constexpr quint32 kEnhancedPacketType = 0x00000006;
inline constexpr quint32 kByteOrderMagic = 0x1A2B3C4D;
inline constexpr quint16 kLinkTypeUser0 = 147;
inline constexpr quint8 kMicroseconds = 6; // if_tsresol: 10^-6 s
// The longest packet Wireshark reads (its WTAP_MAX_PACKET_SIZE_STANDARD); a
// longer one makes it stop reading the file there.
inline constexpr qsizetype kMaxCaptured = 262144;
// Of which the kind byte takes one.
inline constexpr qsizetype kMaxPacketData = kMaxCaptured - 1;

Direction directionOf(PacketKind kind);

QByteArray sectionHeaderBlock(QByteArrayView userApplication);
QByteArray interfaceDescriptionBlock(QByteArrayView name);
// Appends one Enhanced Packet Block to block: the kind byte and data, at
// micros since 1970 (UTC). Data beyond kMaxPacketData is left out; the
// block's original length still counts it, so readers see the packet as cut.
void appendEnhancedPacketBlock(QByteArray& block, quint64 micros, PacketKind kind,
                               QByteArrayView data);

} // namespace pcapng

// The capture that goes with a journal: "LOG-journal-20261207-153619-4242.txt"
// gives "LOG-capture-20261207-153619-4242.pcapng" in the same folder. Empty
// when the name is not a journal's.
QString capturePathForJournal(const QString& journalPath);

} // namespace qav::worklog
