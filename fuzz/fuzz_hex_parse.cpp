// Fuzzes the hex send area's parse with arbitrary text. The input bytes are
// read twice: one character per byte, and as UTF-16 so that characters far
// outside ASCII reach the digit positions too.
#include "tools/hex_parse.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace qav::tools;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool isHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The parse restated the plain way: pairs at 0, 3, 6, ... while two
// characters are left; it fails when a pair holds a non-digit or when the
// text is a single character.
bool referenceParses(const QString& text, QByteArray& bytes) {
    const qsizetype length = text.size();
    if (length == 1)
        return false;
    for (qsizetype k = 0; 3 * k + 1 < length; ++k) {
        const QChar high = text[3 * k];
        const QChar low = text[3 * k + 1];
        if (!isHexDigit(high) || !isHexDigit(low))
            return false;
        bytes.append(QByteArray::fromHex(QString(QString(high) + low).toLatin1()));
    }
    return true;
}

void checkText(const QString& text) {
    const auto parsed = parseHexText(text);
    const qsizetype n = expectedHexByteCount(text.size());

    QByteArray reference;
    const bool referenceOk = referenceParses(text, reference);
    check(bool(parsed) == referenceOk);
    if (parsed) {
        check(parsed->size() == n);
        check(*parsed == reference);
    }

    // Deterministic: the same text gives the same answer.
    const auto again = parseHexText(text);
    check(bool(again) == bool(parsed) && (!parsed || *again == *parsed));

    // The send buttons agree with the parse; an error always has a message,
    // and a frame never has one.
    const HexSend direct = directHexFrame(text);
    if (text.isEmpty()) {
        check(direct.frame.isEmpty() && direct.message.isEmpty());
        return;
    }
    check(direct.frame.isEmpty() != direct.message.isEmpty());
    if (parsed)
        check(direct.frame == *parsed);

    const HexSend added = headerAddedHexFrame(text, 3);
    check(added.frame.isEmpty() != added.message.isEmpty());
    if (parsed && n <= kMaxHeaderAddedBytes) {
        check(added.frame.size() == n + 5);
        const int length = (std::uint8_t(added.frame[1]) << 8) | std::uint8_t(added.frame[2]);
        check(length == n + 2);
        check(std::uint8_t(added.frame[0]) == 0xFD && added.frame[3] == 0x01 &&
              added.frame[4] == 0x03);
        check(added.frame.mid(5) == *parsed);
    } else {
        check(added.frame.isEmpty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* chars = reinterpret_cast<const char*>(data);
    checkText(QString::fromLatin1(chars, qsizetype(size)));
    QString wide(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(wide.data(), data, size / 2 * sizeof(QChar));
    checkText(wide);
    return 0;
}
