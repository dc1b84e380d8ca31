#pragma once
// The system's code pages for the chip's text: GBK (the code page 936 of
// Windows, ICU's windows-936-2000) and BIG5 (950). The one place text meets
// them: the synthesis, the work log and the reply decoder all convert here. On Linux through Qt's
// ICU converters (code_page_icu.cpp), on Windows through the system's own conversion calls
// (code_page_win.cpp); the same bytes on both.
//
// Encoding writes '?' for a character the code page has no code for, and
// never a look-alike; decoding gives U+FFFD for bytes that start no code,
// and leaves out a lead byte cut off at the end.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace qav::protocol {

enum class CodePage { Gbk, Big5 };

QByteArray encodeCodePage(CodePage page, QStringView text);
QString decodeCodePage(CodePage page, QByteArrayView bytes);
// Whether the system converts the code page at all.
bool codePageAvailable(CodePage page);

} // namespace qav::protocol
