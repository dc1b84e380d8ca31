#include "synthesis/conversion_table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qav::synthesis {

QString ConversionTable::pathIn(const QString& folder) {
    return QDir(folder).filePath(QString::fromLatin1(kFileName));
}

std::optional<ConversionTable> ConversionTable::fromBytes(QByteArray bytes) {
    if (bytes.size() != kFileSize)
        return std::nullopt;
    return ConversionTable(std::move(bytes));
}

std::optional<ConversionTable> ConversionTable::load(const QString& folder) {
    // Only a plain file: a pipe of that name would hold the open until
    // something writes to it, and the window with it.
    if (!QFileInfo(pathIn(folder)).isFile())
        return std::nullopt;
    QFile file(pathIn(folder));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    if (file.size() != kFileSize)
        return std::nullopt;
    // One read of the whole file; the size check above is repeated on what
    // was actually read, in case the file changed in between.
    return fromBytes(file.read(kFileSize + 1));
}

} // namespace qav::synthesis
