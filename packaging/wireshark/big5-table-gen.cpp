// Writes the BIG5 table of the Wireshark dissector (qav7120.lua), a Lua chunk
// that returns, for every lead byte with characters, the UTF-8 text of each
// of its 157 trail bytes, taken from the platform's Big5 code page (ICU
// windows-950, the one the console converts to):
//
//   big5-table-gen OUTPUT
//
//   return {
//   [0xA4]={"一","乙",...},
//   }
//
// Index i of a row is trail - 0x3F for trails 0x40 .. 0x7E and trail - 0xA1 + 64
// for 0xA1 .. 0xFE; "" where the pair is no character.

#include <QByteArray>
#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <cstdio>

namespace {

// A Lua string literal of UTF-8 bytes.
QByteArray luaString(const QByteArray& utf8) {
    QByteArray s = "\"";
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            s += '\\' + QByteArray(1, c);
        else if (b < 0x20 || b == 0x7F)
            s += '\\' + QByteArray::number(b);
        else
            s += c;
    }
    return s + '"';
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    QStringDecoder big5("Big5", QStringConverter::Flag::Stateless);
    QStringEncoder check("Big5", QStringConverter::Flag::Stateless);
    if (!big5.isValid() || !check.isValid()) {
        std::fprintf(stderr, "the Big5 code page is not available\n");
        return 1;
    }
    // windows-950 is the Big5 that has the euro sign at A3 E1.
    if (check.encode(QStringView(u"\u20AC")) != QByteArray("\xA3\xE1")) {
        std::fprintf(stderr, "the Big5 code page is not windows-950\n");
        return 1;
    }

    QByteArray out = "-- BIG5 (windows-950) to UTF-8 for qav7120.lua, made by big5-table-gen.\n"
                     "-- t[lead][i]: i = trail - 0x3F for trails 0x40 .. 0x7E, trail - 0xA1 + 64\n"
                     "-- for 0xA1 .. 0xFE; \"\" where the pair is no character.\n"
                     "return {\n";
    int characters = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        QByteArray row;
        int inRow = 0;
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail > 0x7E && trail < 0xA1)
                continue;
            const char pair[2] = {char(lead), char(trail)};
            const QString s = big5.decode(QByteArrayView(pair, 2));
            const bool one = s.size() == 1 || (s.size() == 2 && s[0].isHighSurrogate());
            const bool character = one && !s.contains(QChar::ReplacementCharacter);
            if (!row.isEmpty())
                row += ',';
            row += character ? luaString(s.toUtf8()) : QByteArray("\"\"");
            inRow += character;
        }
        if (inRow == 0)
            continue;
        out += "[0x" + QByteArray::number(lead, 16).toUpper() + "]={" + row + "},\n";
        characters += inRow;
    }
    out += "}\n";

    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(out) != out.size()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %d BIG5 characters\n", argv[1], characters);
    return 0;
}
