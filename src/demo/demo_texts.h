#pragma once
// The built-in demonstration texts that the loader buttons put into the send
// text area. Each is returned whole, lines joined by CR LF, ready to be spoken.

#include <QString>

namespace qav::demo {

// English-Chinese demonstration: industry sentences in both languages, one
// example of each control tag, then mixed Chinese-English sentences.
// 113 lines, each ending with CR LF.
QString englishChineseDemoText();

// Chinese demonstration: the chip's Chinese text handling and its control tags.
// 158 lines; the last one has no CR LF after it. Longer than one chunk in GBK.
QString chineseDemoText();

// Every prompt-sound name the chip recognises in text, by group.
// 29 lines, the first empty, each ending with CR LF.
QString promptSoundCatalogue();

} // namespace qav::demo
