// Fuzzes both reply decoders. Input layout: byte 0 picks the hex prefix
// (bit 0), the rest is what one serial receive event read; the same bytes go
// one by one through the USB decoder, and the first four, as a line speed,
// through the reply pause.
//
// Checked on every run:
//   serial - at most two lines, one per recognised byte among the first two,
//            in order; each line is the lead-in, the prefix, the byte's code
//            text and CR LF; the idle flag is set exactly for 0x4F; the
//            version line carries the read, up to its length limit;
//   USB    - one byte gives at most one line: "<-0x" and the byte in upper
//            case hex for a known byte, the fixed line for 0xAD, nothing for
//            the acknowledgement 0x5E and unknown bytes;
//   pause  - at least 2 ms and never negative, whatever the line speed.
#include "protocol/frame.h"
#include "protocol/serial_replies.h"
#include "protocol/usb_replies.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace qav::protocol;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool serialKnown(std::uint8_t b) {
    return b == 0x41 || b == 0x45 || b == 0x4A || b == 0x4E || b == 0x4F || b == 0x53;
}

bool usbKnown(std::uint8_t b) {
    if (b == 0x53) // the version answer has no way over the bridge
        return false;
    return serialKnown(b) || b == 0xAA || b == 0xAB || b == 0xAC;
}

void checkSerial(const QByteArray& received, const QString& prefix) {
    const auto lines = decodeSerialReplies(received, prefix);
    check(lines.size() <= kSerialRepliesPerEvent);
    const QString leadIn = QString::fromUtf8(kSerialReplyLeadIn) + prefix;

    qsizetype next = 0;
    const qsizetype looked = std::min<qsizetype>(received.size(), kSerialRepliesPerEvent);
    for (qsizetype i = 0; i < looked; ++i) {
        const auto b = std::uint8_t(received[i]);
        const QString code = serialReplyCodeText(b);
        check(code.isEmpty() != serialKnown(b));
        if (code.isEmpty())
            continue;
        check(next < lines.size());
        const SerialReplyLine& line = lines[next++];
        check(line.idle() == (b == reply::kIdle));
        check(line.text.startsWith(leadIn + code));
        check(line.text.endsWith(QStringLiteral("\r\n")));
        // The code text starts with two hex digits and two blanks.
        check(code.size() > 4 && code.mid(2, 2) == QStringLiteral("  "));
        const QString tail = line.text.mid(leadIn.size() + code.size());
        if (b == reply::kVersion) {
            QStringDecoder gbk("GBK", QStringConverter::Flag::Stateless);
            const QString version = gbk.decode(received.left(kSerialVersionMaxBytes));
            check(tail ==
                  QString::fromUtf8(kSerialVersionSeparator) + version + QStringLiteral("\r\n"));
        } else {
            check(tail == QStringLiteral("\r\n"));
        }
    }
    check(next == lines.size());
}

void checkUsb(std::uint8_t b) {
    const auto line = usbReplyLine(b);
    check(bool(line) == (usbKnown(b) || b == reply::kHardwarePlaying));
    if (!line)
        return;
    check(!line->isEmpty() && !line->contains(u'\r') && !line->contains(u'\n'));
    if (b == reply::kHardwarePlaying) {
        check(*line == QString::fromUtf8("<-硬件查询，QAV7120处于播音状态"));
        return;
    }
    const QString hex = QString::number(b, 16).toUpper().rightJustified(2, u'0');
    check(line->startsWith(QStringLiteral("<-0x") + hex));
    // The status texts the two links share read the same after the code.
    const QString serial = serialReplyCodeText(b);
    if (!serial.isEmpty())
        check(line->mid(4) == serial);
    else
        check(line->size() > 6 && line->at(6) != u' ');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const QString prefix = (data[0] & 1) ? QStringLiteral("0x") : QString();
    const QByteArray received(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    checkSerial(received, prefix);
    for (char byte : received)
        checkUsb(std::uint8_t(byte));

    if (received.size() >= 4) {
        std::int32_t baud;
        std::memcpy(&baud, received.constData(), sizeof baud);
        const int pause = replyPauseMs(baud);
        check(pause >= 2);
        if (baud > 0 && baud <= 115200)
            check(pause == std::max(2, (200000 + baud - 1) / baud));
    }
    return 0;
}
