#include "speech_text.h"

#include <QStringDecoder>
#include <cmath>

namespace qav::sim {

namespace {

// Time per spoken unit at the normal rate [s5].
constexpr double kHanMs = 230;         // one Chinese character
constexpr double kWordMs = 320;        // one English word
constexpr double kDigitMs = 200;       // one digit, read on its own
constexpr double kPunctuationMs = 150; // the pause after a punctuation mark

constexpr int kMaxTagArgument = 8;

bool isSwitchLetter(QChar c) {
    static const QString letters = QStringLiteral("fhoknxiryzb");
    return letters.contains(c);
}

bool isTagLetter(QChar c) {
    static const QString letters = QStringLiteral("vstmgdp=");
    return letters.contains(c) || isSwitchLetter(c);
}

bool allDigits(const QString& s) {
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

// Reads the tag that starts at text[at] ('['); returns its length or 0.
qsizetype readTag(const QString& text, qsizetype at, ControlTag& tag) {
    if (at + 2 >= text.size())
        return 0;
    const QChar letter = text[at + 1];
    if (!isTagLetter(letter))
        return 0;
    const qsizetype close = text.indexOf(u']', at + 2);
    if (close < 0 || close - at - 2 > kMaxTagArgument)
        return 0;
    const QString argument = text.mid(at + 2, close - at - 2);
    if (letter == u'd') {
        if (!argument.isEmpty())
            return 0;
    } else if (letter == u'=') {
        // a pinyin syllable with its tone digit
        if (argument.size() < 2 || !argument.back().isDigit())
            return 0;
        for (QChar c : argument)
            if (!(c.isDigit() || (c >= u'a' && c <= u'z')))
                return 0;
    } else if (!allDigits(argument)) {
        return 0;
    }
    tag = {letter, argument};
    return close - at + 1;
}

bool isHan(char32_t c) {
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x2FFFF);
}

double rateFactor(int rate) {
    // [s0] takes twice as long as [s5], [s10] half as long.
    return std::pow(2.0, (5 - rate) / 5.0);
}

double spokenTimeMs(const QString& text, int rate) {
    double units = 0;
    bool inWord = false;
    for (char32_t c : text.toUcs4()) {
        const bool latin = (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
        if (latin) {
            if (!inWord)
                units += kWordMs;
            inWord = true;
            continue;
        }
        inWord = false;
        if (isHan(c))
            units += kHanMs;
        else if (c >= U'0' && c <= U'9')
            units += kDigitMs;
        else if (QChar::isPunct(c))
            units += kPunctuationMs;
    }
    return units * rateFactor(rate);
}

} // namespace

QList<SpeechPiece> splitTags(const QString& text) {
    QList<SpeechPiece> pieces;
    QString run;
    qsizetype i = 0;
    while (i < text.size()) {
        ControlTag tag;
        const qsizetype length = text[i] == u'[' ? readTag(text, i, tag) : 0;
        if (length == 0) {
            run.append(text[i++]);
            continue;
        }
        if (!run.isEmpty())
            pieces.append({SpeechPiece::Kind::Text, std::exchange(run, {}), {}});
        pieces.append({SpeechPiece::Kind::Tag, text.mid(i, length), tag});
        i += length;
    }
    if (!run.isEmpty())
        pieces.append({SpeechPiece::Kind::Text, run, {}});
    return pieces;
}

int applyTag(SpeechProperties& p, const ControlTag& tag) {
    const QChar l = tag.letter;
    if (l == u'd') {
        p = SpeechProperties{};
        return 0;
    }
    if (l == u'=')
        return 0;
    bool ok = false;
    const int value = tag.argument.toInt(&ok);
    if (!ok)
        return 0;
    const auto inRange = [value](int lo, int hi) { return value >= lo && value <= hi; };
    if (l == u'v' && inRange(0, 10))
        p.volume = value;
    else if (l == u's' && inRange(0, 10))
        p.rate = value;
    else if (l == u't' && inRange(0, 10))
        p.tone = value;
    else if (l == u'm' && (value == 3 || inRange(51, 55)))
        p.speaker = value;
    else if (l == u'g' && inRange(0, 2))
        p.language = value;
    else if (l == u'p' && inRange(0, 60000))
        return value;
    else if (isSwitchLetter(l))
        p.switches[l] = value;
    return 0;
}

QString stripTags(const QString& text) {
    QString out;
    for (const SpeechPiece& piece : splitTags(text))
        if (piece.kind == SpeechPiece::Kind::Text)
            out += piece.text;
    return out;
}

std::optional<QString> decodeText(int encoding, QByteArrayView bytes) {
    QStringDecoder decoder;
    switch (encoding) {
    case 0:
    case 1:
        decoder = QStringDecoder("GBK", QStringDecoder::Flag::Stateless);
        break;
    case 2:
        decoder = QStringDecoder("Big5", QStringDecoder::Flag::Stateless);
        break;
    case 3:
        decoder = QStringDecoder(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
        break;
    case 4:
        decoder = QStringDecoder(QStringDecoder::Utf16BE, QStringDecoder::Flag::Stateless);
        break;
    default:
        return std::nullopt;
    }
    if (!decoder.isValid())
        return std::nullopt;
    QString text = decoder.decode(bytes);
    // A dangling half of a UTF-16 unit is shown, not swallowed.
    if ((encoding == 3 || encoding == 4) && bytes.size() % 2 != 0)
        text.append(QChar::ReplacementCharacter);
    return text;
}

QString encodingName(int encoding) {
    switch (encoding) {
    case 0:
        return QStringLiteral("GB2312");
    case 1:
        return QStringLiteral("GBK");
    case 2:
        return QStringLiteral("BIG5");
    case 3:
        return QStringLiteral("UTF-16LE");
    case 4:
        return QStringLiteral("UTF-16BE");
    default:
        return QStringLiteral("encoding %1").arg(encoding);
    }
}

double speakingTimeMs(const QString& text, SpeechProperties& properties) {
    double total = 0;
    for (const SpeechPiece& piece : splitTags(text)) {
        if (piece.kind == SpeechPiece::Kind::Tag)
            total += applyTag(properties, piece.tag);
        else
            total += spokenTimeMs(piece.text, properties.rate);
    }
    return total;
}

bool hasHan(const QString& text) {
    for (char32_t c : text.toUcs4())
        if (isHan(c))
            return true;
    return false;
}

} // namespace qav::sim
