#include "worklog/log_codec.h"

#include "synthesis/gbk_text.h"

#include <array>
#include <memory>

namespace qav::worklog {

namespace {

constexpr int kTrailFirst = 0x40;
constexpr int kTrailCount = 0xFF - kTrailFirst;
using PairTable = std::array<char16_t, (0xFF - 0x81) * kTrailCount>;

// The character of every lead and trail pair and of every single byte, from
// the system's GBK decoder; built on first use.
struct DecodeTables {
    std::array<char16_t, 0x100> single{};
    PairTable pairs{};
};

const DecodeTables& decodeTables() {
    static const auto tables = [] {
        auto t = std::make_unique<DecodeTables>();
        for (int b = 0; b < 0x100; ++b) {
            const char c = char(b);
            const QString s =
                b < 0x80 ? QString(QChar(b)) : synthesis::fromGbk(QByteArrayView(&c, 1));
            t->single[std::size_t(b)] = s.size() == 1 ? s[0].unicode() : char16_t(0xFFFD);
        }
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = kTrailFirst; trail <= 0xFE; ++trail) {
                const char pair[2] = {char(lead), char(trail)};
                const QString s = synthesis::fromGbk(QByteArrayView(pair, 2));
                t->pairs[std::size_t((lead - 0x81) * kTrailCount + trail - kTrailFirst)] =
                    s.size() == 1 ? s[0].unicode() : char16_t(0xFFFD);
            }
        }
        return t;
    }();
    return *tables;
}

// The GBK code of every BMP code unit but the surrogates, lead byte high,
// from the same table as the synthesis measures text by; built on first use.
const std::array<std::uint16_t, 0x10000>& encodeTable() {
    static const auto table = [] {
        auto codes = std::make_unique<std::array<std::uint16_t, 0x10000>>();
        for (char32_t u = 0; u < 0x10000; ++u) {
            const QChar c{char16_t(u)};
            const synthesis::GbkCode code = synthesis::gbkCharAt(QStringView(&c, 1), 0).code;
            (*codes)[u] = std::uint16_t(code.lead << 8 | code.trail);
        }
        return codes;
    }();
    return *table;
}

} // namespace

qint64 encodeLogText(QStringView text, QByteArray& out) {
    const qsizetype start = out.size();
    out.resize(start + text.size() * 2); // at most two bytes a code unit
    char* p = out.data() + start;
    qint64 codes = 0;
    qsizetype i = 0;
    const std::array<std::uint16_t, 0x10000>* table = nullptr;
    while (i < text.size()) {
        const char16_t u = text[i].unicode();
        ++codes;
        if (u < 0x80) { // nearly all of a log is ASCII
            *p++ = char(u);
            ++i;
            continue;
        }
        if (!QChar::isSurrogate(u)) {
            if (!table)
                table = &encodeTable();
            const std::uint16_t code = (*table)[u];
            if (code > 0xFF)
                *p++ = char(code >> 8);
            *p++ = char(code & 0xFF);
            ++i;
            continue;
        }
        const synthesis::GbkChar c = synthesis::gbkCharAt(text, i);
        if (c.code.isDouble())
            *p++ = char(c.code.lead);
        *p++ = char(c.code.trail);
        i += c.units;
    }
    out.resize(p - out.constData());
    return codes;
}

QString decodeLogText(const char* data, qsizetype size) {
    QString text(size, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    char16_t* const begin = out;
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    const DecodeTables* tables = nullptr;
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            *out++ = b;
            ++p;
            continue;
        }
        if (!tables)
            tables = &decodeTables();
        if (isGbkLead(b) && p + 1 < end && p[1] >= kTrailFirst && p[1] != 0xFF) {
            *out++ = tables->pairs[std::size_t((b - 0x81) * kTrailCount + p[1] - kTrailFirst)];
            p += 2;
        } else {
            *out++ = isGbkLead(b) ? char16_t(0xFFFD) : tables->single[b];
            p += isGbkLead(b) && p + 1 < end ? 2 : 1;
        }
    }
    text.truncate(out - begin);
    return text;
}

} // namespace qav::worklog
