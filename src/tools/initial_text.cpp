#include "tools/initial_text.h"

#include "synthesis/gbk_text.h"

#include <QFile>
#include <QFileInfo>

namespace qav::tools {

std::optional<QString> readInitialText(const QString& path) {
    QFile file(path);
    if (!file.exists()) {
        file.open(QIODevice::WriteOnly);
        return std::nullopt;
    }
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    QString text = synthesis::fromGbk(bytes);
    // A file that ends inside a double-byte character: the decoder keeps that
    // last byte for input that never comes. Show it as the other bytes that
    // are not GBK are shown.
    if (synthesis::wholeGbkPrefix(bytes) < bytes.size())
        text += QChar::ReplacementCharacter;
    return text;
}

} // namespace qav::tools
