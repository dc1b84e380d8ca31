// Builds the conversion table "GBKToBig5AndUnicode.dat" from the platform's
// code pages, at build time.
//
//   gbk-table-gen OUTPUT [ST_CHARACTERS_TXT]
//
// Layout: one 4-byte record for every lead byte 0x81 .. 0xFE and trail byte
// 0x40 .. 0xFE (24066 records, 96264 bytes, no header), record index
// (lead - 0x81) * 191 + (trail - 0x40); bytes 0-1 hold the BIG5 code
// little-endian (BIG5 trail byte first), bytes 2-3 the UTF-16 code unit
// little-endian.
//
// What a record holds:
// - Unicode: the code unit the GBK code page (ICU windows-936-2000, through
//   QStringDecoder "GBK") gives the pair. The user-defined area of GBK keeps
//   its private-use code points.
// - BIG5: the code ICU's Big5 (windows-950) gives that character, taken only
//   when it decodes back to the same character, so no best-fit substitute
//   slips in. A simplified character without a BIG5 code of its own is
//   turned into its traditional form with OpenCC's character table
//   (STCharacters, first candidate first) and takes that form's code: 欢 is
//   written as 歡 (C5 77). Private-use characters are not looked up, since
//   the user-defined areas of the two code pages do not correspond.
// - Where there is still no BIG5 code: the BIG5 full-width question mark
//   A1 48, so the chip says something neutral rather than a wrong character.
// - A pair that is not a GBK character (trail 0x7F, unassigned codes):
//   BIG5 A1 48 and U+FF1F, the full-width question mark in both columns.
//   Text converted from GBK never produces such a pair.
//
// The OpenCC table is given as the text dump of STCharacters.ocd2 (lines
// "simplified<TAB>traditional[ traditional...]"); without it the generator
// still runs and such characters get A1 48.

#include "protocol/code_page.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QStringList>
#include <cstdio>

namespace {

using namespace qav::protocol;

constexpr char16_t kFullWidthQuestion = 0xFF1F;
constexpr std::uint8_t kBig5QuestionLead = 0xA1, kBig5QuestionTrail = 0x48;

QHash<char16_t, QList<char16_t>> readTraditionalForms(const QString& path) {
    QHash<char16_t, QList<char16_t>> forms;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return forms;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const qsizetype tab = line.indexOf(u'\t');
        if (tab != 1)
            continue; // characters outside the BMP have no GBK code anyway
        QList<char16_t> candidates;
        for (const QString& t : line.mid(tab + 1).split(u' ', Qt::SkipEmptyParts))
            if (t.size() == 1)
                candidates.append(t[0].unicode());
        forms.insert(line[0].unicode(), candidates);
    }
    return forms;
}

// The code pages the table is built from.
struct CodePages {
    bool usable() const {
        return codePageAvailable(CodePage::Gbk) && codePageAvailable(CodePage::Big5);
    }

    QString gbk(QByteArrayView bytes) const { return decodeCodePage(CodePage::Gbk, bytes); }

    // The BIG5 code of a character, when it round-trips; -1 otherwise.
    int big5Of(char16_t u) {
        const QChar c{u};
        const QByteArray b = encodeCodePage(CodePage::Big5, QStringView(&c, 1));
        if (b.size() != 2)
            return -1;
        const QString back = decodeCodePage(CodePage::Big5, b);
        if (back.size() != 1 || back[0].unicode() != u)
            return -1;
        return std::uint8_t(b[0]) << 8 | std::uint8_t(b[1]);
    }
};

struct Counts {
    int direct = 0, traditional = 0, none = 0, invalid = 0;
};

// The BIG5 code for a GBK character: its own, or its traditional form's;
// -1 when there is none.
int big5For(char16_t unicode, CodePages& pages, const QHash<char16_t, QList<char16_t>>& forms,
            Counts& counts) {
    if (QChar::isSurrogate(unicode) || QChar(unicode).category() == QChar::Other_PrivateUse)
        return -1;
    if (const int code = pages.big5Of(unicode); code >= 0) {
        ++counts.direct;
        return code;
    }
    for (char16_t t : forms.value(unicode)) {
        if (const int code = pages.big5Of(t); code >= 0) {
            ++counts.traditional;
            return code;
        }
    }
    return -1;
}

QByteArray buildTable(CodePages& pages, const QHash<char16_t, QList<char16_t>>& forms,
                      Counts& counts) {
    QByteArray table;
    table.reserve(24066 * 4);
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const char pair[2] = {char(lead), char(trail)};
            const QString s = pages.gbk(QByteArrayView(pair, 2));
            char16_t unicode = kFullWidthQuestion;
            int code = -1;
            if (s.size() == 1 && s[0].unicode() != 0xFFFD) {
                unicode = s[0].unicode();
                code = big5For(unicode, pages, forms, counts);
                if (code < 0)
                    ++counts.none;
            } else {
                ++counts.invalid;
            }
            if (code < 0)
                code = kBig5QuestionLead << 8 | kBig5QuestionTrail;
            table.append(char(code & 0xFF));
            table.append(char(code >> 8));
            table.append(char(unicode & 0xFF));
            table.append(char(unicode >> 8));
        }
    }
    return table;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT [ST_CHARACTERS_TXT]\n", argv[0]);
        return 2;
    }
    CodePages pages;
    if (!pages.usable()) {
        std::fprintf(stderr, "GBK or Big5 code page not available\n");
        return 1;
    }
    // windows-950 is the Big5 that has the euro sign at A3 E1.
    if (encodeCodePage(CodePage::Big5, QStringView(u"\u20AC")) != QByteArray("\xA3\xE1")) {
        std::fprintf(stderr, "the Big5 code page is not windows-950\n");
        return 1;
    }
    QHash<char16_t, QList<char16_t>> forms;
    if (argc > 2)
        forms = readTraditionalForms(QString::fromLocal8Bit(argv[2]));
    if (argc > 2 && forms.isEmpty()) {
        std::fprintf(stderr, "no traditional forms read from %s\n", argv[2]);
        return 1;
    }

    Counts counts;
    const QByteArray table = buildTable(pages, forms, counts);
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(table) != table.size()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %d records; BIG5 direct %d, via traditional form %d, none %d; "
                "not GBK %d\n",
                argv[1], int(table.size() / 4), counts.direct, counts.traditional, counts.none,
                counts.invalid);
    return 0;
}
