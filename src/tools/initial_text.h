#pragma once
// The initial text file: GBK text put into the send text area at start-up.

#include <QString>
#include <optional>

namespace qav::tools {

// The file's text, read as GBK bytes. An absent file is created empty; only a
// plain file is opened (a pipe of that name would hold start-up until
// something writes to it). Nothing when there is no text to show.
std::optional<QString> readInitialText(const QString& path);

} // namespace qav::tools
