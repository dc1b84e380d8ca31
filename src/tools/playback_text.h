#pragma once
// The playback test text: three sample texts for the chip's text handling and
// the names of the five scripted tests. The scripts speak the sample texts
// as texts A, B and C.

#include <QString>
#include <QStringList>

namespace qav::tools {

// The fifteen lines, without line breaks.
QStringList playbackTestLines();

// The fifteen lines joined by CR LF, with no break after the last.
QString playbackTestText();

// Line 1: the three language tags applied to one web address.
QString sampleTextA();
// Line 3 without its closing quotation mark: 67 GBK bytes.
QString sampleTextB();
// Line 5: items for text normalisation.
QString sampleTextC();

} // namespace qav::tools
