#pragma once
// The work log's text as it is kept on disk and in LOG.txt: GBK bytes. Every
// character is one code of one or two bytes (a character GBK has no code for
// is '?', as the system's GBK encoder writes it), so the bytes decode to
// exactly one character per code and offsets can be counted in either.

#include "synthesis/gbk_text.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace qav::worklog {

using synthesis::isGbkLead;

// Appends the GBK codes of text to out; returns the number of codes written.
qint64 encodeLogText(QStringView text, QByteArray& out);

// The characters of GBK bytes that hold whole codes.
QString decodeLogText(const char* data, qsizetype size);

} // namespace qav::worklog
