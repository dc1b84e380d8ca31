#pragma once
// Decoding of the chip's replies on the serial link. The chip answers with
// single bytes; each event's read is decoded here into work-log lines.

#include <QByteArray>
#include <QList>
#include <QString>

namespace qav::protocol {

// At most this many received bytes are decoded per receive event; the rest of
// what was read is dropped.
inline constexpr int kSerialRepliesPerEvent = 2;

inline constexpr const char* kSerialReplyLeadIn = "<---- 返回：";
inline constexpr const char* kSerialVersionSeparator = "：";

struct SerialReplyLine {
    QString text;      // the whole line, CR LF included
    bool idle = false; // a 0x4F: the idle actions follow this line
};

// The code text logged for a reply byte, or an empty string when the byte is
// not one the console recognises. 0x53 is the start of the version answer.
QString serialReplyCodeText(unsigned char byte);

// The lines for the bytes read in one event, in order. Each received byte is
// one character (the chip's replies are single bytes); only the first
// kSerialRepliesPerEvent of them are looked at, and unrecognised ones are
// skipped. The version line carries everything read in the event, shown
// through the GBK code page (the version text itself is ASCII).
QList<SerialReplyLine> decodeSerialReplies(const QByteArray& received, const QString& hexPrefix);

} // namespace qav::protocol
