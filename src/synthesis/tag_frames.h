#pragma once
// Control tags as the speech-property panel sends them: each tag travels alone
// as the text of a synthesis frame, always in GBK (encoding code 1), whatever
// encoding the send text area uses. Tag characters are plain ASCII.

#include <QByteArray>
#include <QByteArrayView>

namespace qav::synthesis {

// Tag letters of the three scroll bars.
inline constexpr char kVolumeTag = 'v';
inline constexpr char kSpeedTag = 's';
inline constexpr char kToneTag = 't';

// The scroll bars run from 1 to 11 and start at 6; the tag argument is the
// value minus one, so the chip's default 5 sits in the middle.
inline constexpr int kScrollBarMinimum = 1;
inline constexpr int kScrollBarMaximum = 11;
inline constexpr int kScrollBarDefault = 6;

enum class Language { Automatic = 0, Chinese = 1, English = 2 };

// FD 00 len 01 01 <tag>: an array of exactly the frame's size.
QByteArray tagFrame(QByteArrayView tag);

// "[" letter (value - 1) "]", e.g. "[v10]" for the volume bar at 11.
QByteArray scrollBarTag(char letter, int value);

// Speaker list entry 0 is "[m3]", entries 1 to 3 are "[m51]" to "[m53]".
QByteArray speakerTag(int entry);

QByteArray languageTag(Language language); // "[g0]", "[g1]", "[g2]"
QByteArray resetTag();                     // "[d]"

} // namespace qav::synthesis
