#pragma once
// Test helpers for reading the work log as an engineer does: GBK bytes of a
// text, the hex line and the whole entry of a sent frame, and the frames of a
// log read back from its hex lines. They write the log's format out on their
// own, so a test that uses them does not lean on the console's formatter.
//
// Header-only, so tests of any room can use them.

#include "common/system_code_pages.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace qav::test {

inline QByteArray gbk(const QString& text) {
    return systemGbk(text);
}

inline QString gbkText(const QByteArray& bytes) {
    return systemGbkText(bytes);
}

// "FD 00 01 02 ": every byte as two upper-case digits and a blank.
inline QString hexLine(const QByteArray& bytes, const QString& prefix = QString()) {
    QString s;
    for (const char c : bytes)
        s += prefix + QString::number(uchar(c) | 0x100, 16).right(2).toUpper() + QLatin1Char(' ');
    return s;
}

// The entry of the stop command, FD 00 01 02.
inline const QString kStopEntry = QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 02 \r\n");

// The two lines logged for a sent frame.
inline QString frameEntry(const QByteArray& frame, const QString& prefix = QString()) {
    return QStringLiteral("发出一帧，字节数  ") + QString::number(frame.size()) +
           QStringLiteral("\r\n----> ") + hexLine(frame, prefix) + QStringLiteral("\r\n");
}

// The whole text of a log, read through its lines.
template <typename Log> inline QString allText(const Log& log) {
    return log.text(0, log.size());
}

// The frames of a log, in order, read back from their hex lines.
inline QList<QByteArray> loggedFrames(const QString& log) {
    QList<QByteArray> frames;
    for (const QString& line : log.split(QStringLiteral("\r\n"))) {
        if (line.startsWith(QStringLiteral("----> ")))
            frames << QByteArray::fromHex(line.mid(6).remove(QStringLiteral("0x")).toLatin1());
    }
    return frames;
}

} // namespace qav::test
