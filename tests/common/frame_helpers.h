#pragma once
// Frames the link tests send: a synthesis frame with a text of a given
// length, its letters running a to z so that a cut or a swap shows.

#include "protocol/frame.h"

#include <QByteArray>

namespace qav::test {

inline QByteArray synthesisFrame(int textBytes) {
    QByteArray text(textBytes, 'a');
    for (int i = 0; i < textBytes; ++i)
        text[i] = char('a' + i % 26);
    return *protocol::parameterFrame(protocol::Command::Synthesize, 1, text);
}

} // namespace qav::test
