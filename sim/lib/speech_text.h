#pragma once
// What the chip makes of a text: the bytes decoded in the frame's encoding,
// the control tags picked out of it, the speech properties they set, and how
// long speaking it takes.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QMap>
#include <QString>
#include <optional>

namespace qav::sim {

// The properties the control tags set. They outlast an utterance: the chip
// keeps them until another tag or [d] changes them.
struct SpeechProperties {
    int volume = 5;   // [v0..10]
    int rate = 5;     // [s0..10]
    int tone = 5;     // [t0..10]
    int speaker = 3;  // [m3], [m51..55]
    int language = 0; // [g0] automatic, [g1] Chinese, [g2] English
    // The other switches ([f*] [h*] [o*] [k*] [n*] [x*] [i*] [r*] [y*] [z*] [b*]),
    // by letter; absent means the chip's default.
    QMap<QChar, int> switches;

    bool operator==(const SpeechProperties&) const = default;
};

// One control tag found in a text, such as [v5], [d] or [=xing2].
struct ControlTag {
    QChar letter;
    QString argument; // digits, a pinyin syllable for '=', empty for 'd'
};

// A text cut into what is spoken and what steers the speaking, in order.
struct SpeechPiece {
    enum class Kind { Text, Tag };
    Kind kind = Kind::Text;
    QString text; // the spoken text, or the tag as written
    ControlTag tag;
};

QList<SpeechPiece> splitTags(const QString& text);

// Applies one tag. Values outside what the chip knows are ignored, as the
// chip ignores them. Returns the pause it asks for in milliseconds ([p*]),
// else 0.
int applyTag(SpeechProperties& properties, const ControlTag& tag);

// The text without its tags.
QString stripTags(const QString& text);

// Decodes text bytes in the encoding of a synthesis frame: 0 GB2312 and 1 GBK
// (both read as GBK), 2 BIG5, 3 UTF-16 little-endian, 4 UTF-16 big-endian.
// Returns nothing for an unknown encoding code.
std::optional<QString> decodeText(int encoding, QByteArrayView bytes);
QString encodingName(int encoding);

// The time in milliseconds the chip needs to speak a text, following its
// tags from the given properties on; the properties are left as the text's
// tags set them.
double speakingTimeMs(const QString& text, SpeechProperties& properties);

// True when the text holds Chinese (Han) characters.
bool hasHan(const QString& text);

} // namespace qav::sim
