#include "synthesis/tag_frames.h"

#include "protocol/frame.h"

namespace qav::synthesis {

namespace {

constexpr std::uint8_t kTagEncoding = std::uint8_t(protocol::Encoding::Gbk);

QByteArray bracketed(char letter, int argument) {
    return '[' + QByteArray(1, letter) + QByteArray::number(argument) + ']';
}

} // namespace

QByteArray tagFrame(QByteArrayView tag) {
    // A tag is a handful of bytes; it always fits the length field.
    return *protocol::parameterFrame(protocol::Command::Synthesize, kTagEncoding, tag);
}

QByteArray scrollBarTag(char letter, int value) {
    return bracketed(letter, value - 1);
}

QByteArray speakerTag(int entry) {
    return entry <= 0 ? QByteArrayLiteral("[m3]") : bracketed('m', 50 + entry);
}

QByteArray languageTag(Language language) {
    return bracketed('g', int(language));
}

QByteArray resetTag() {
    return QByteArrayLiteral("[d]");
}

} // namespace qav::synthesis
