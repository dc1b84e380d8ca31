#pragma once
// Test helpers: text in the system's GBK and BIG5 code pages, straight from
// the system (ICU through Qt on Linux, the code pages 936 and 950 on
// Windows), to check the console's own conversions against. A character
// without a code is '?' on both.
//
// Header-only, so tests of any room can use them.

#include <QByteArray>
#include <QString>
#include <QStringView>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QStringDecoder>
#include <QStringEncoder>
#endif

namespace qav::test {

#ifdef Q_OS_WIN
inline QByteArray systemEncode(unsigned codePage, QStringView text) {
    const auto* units = reinterpret_cast<const wchar_t*>(text.utf16());
    const int size = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, units, int(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    QByteArray bytes(qMax(size, 0), '\0');
    ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, units, int(text.size()), bytes.data(),
                          size, nullptr, nullptr);
    return bytes;
}

inline QByteArray systemGbk(QStringView text) {
    return systemEncode(936, text);
}

inline QByteArray systemBig5(QStringView text) {
    return systemEncode(950, text);
}

inline QString systemGbkText(const QByteArray& bytes) {
    const int size =
        ::MultiByteToWideChar(936, 0, bytes.constData(), int(bytes.size()), nullptr, 0);
    QString text(qMax(size, 0), QChar());
    ::MultiByteToWideChar(936, 0, bytes.constData(), int(bytes.size()),
                          reinterpret_cast<wchar_t*>(text.data()), size);
    return text;
}
#else
inline QByteArray systemGbk(QStringView text) {
    return QStringEncoder("GBK").encode(text);
}

inline QByteArray systemBig5(QStringView text) {
    return QStringEncoder("Big5").encode(text);
}

inline QString systemGbkText(const QByteArray& bytes) {
    return QStringDecoder("GBK").decode(bytes);
}
#endif

} // namespace qav::test
