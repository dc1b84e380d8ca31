#pragma once
// Decoding of the chip's replies on the serial link. The chip answers with
// single bytes; each event's read is decoded here into work-log lines.

#include "protocol/frame.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

namespace qav::protocol {

// At most this many received bytes are decoded per receive event; the rest of
// what was read is dropped.
inline constexpr int kSerialRepliesPerEvent = 2;

// The version line carries at most this many of the bytes read. A version
// answer is a short string; a longer read is line noise after a stray 0x53,
// and tens of kilobytes of it in one line would hold up the log's text box.
inline constexpr int kSerialVersionMaxBytes = 256;

inline constexpr const char* kSerialReplyLeadIn = "<---- 返回：";
inline constexpr const char* kSerialVersionSeparator = "：";

// How long the decoder waits after bytes arrive before it reads them, so that
// the bytes of one answer are read together: the time 20 characters take on
// the line (10 bits each), at least 2 ms. The chip's status replies are single
// bytes, but the version answer is a string; at the default 9600 baud the wait
// is 21 ms, at 115200 baud 2 ms. A line speed that cannot be read counts as
// 9600 baud.
inline constexpr int kReplyPauseCharacters = 20;
int replyPauseMs(int baudRate);

struct SerialReplyLine {
    QString text;          // the whole line, CR LF included
    std::uint8_t code = 0; // the reply byte
    // A 0x4F: the idle actions follow this line.
    bool idle() const { return code == reply::kIdle; }
};

// The code text logged for a reply byte, or an empty string when the byte is
// not one the console recognises. 0x53 is the start of the version answer.
QString serialReplyCodeText(unsigned char byte);

// The lines for the bytes read in one event, in order. Each received byte is
// one character (the chip's replies are single bytes); only the first
// kSerialRepliesPerEvent of them are looked at, and unrecognised ones are
// skipped. The version line carries everything read in the event (up to
// kSerialVersionMaxBytes), shown through the GBK code page (the version text
// itself is ASCII).
QList<SerialReplyLine> decodeSerialReplies(const QByteArray& received, const QString& hexPrefix);

} // namespace qav::protocol
