#pragma once
// Literal bytes written as hex digits, for comparing with what the code produced.

#include <QByteArray>

namespace qav::test {

inline QByteArray hex(const char* digits) {
    return QByteArray::fromHex(digits);
}

} // namespace qav::test
