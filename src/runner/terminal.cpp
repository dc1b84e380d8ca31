#include "runner/terminal.h"

namespace qav::runner {

namespace {
constexpr const char* kClearLine = "\r\x1b[K";
}

Terminal::Terminal(std::FILE* out, bool onTerminal, bool progressShown)
    : out_(out), onTerminal_(onTerminal), shown_(progressShown) {}

void Terminal::write(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), out_);
    std::fflush(out_);
}

void Terminal::message(const QString& text) {
    if (drawn_)
        write(QString::fromLatin1(kClearLine));
    drawn_ = false;
    write(QStringLiteral("qav7120-run: ") + text + u'\n');
}

void Terminal::progress(const QString& line, qint64 elapsedMs) {
    if (!shown_)
        return;
    if (onTerminal_) {
        write(QString::fromLatin1(kClearLine) + line);
        drawn_ = true;
        return;
    }
    if (lastPlainMs_ >= 0 && elapsedMs - lastPlainMs_ < kPlainLineEveryMs)
        return;
    lastPlainMs_ = elapsedMs;
    write(line + u'\n');
}

void Terminal::endProgress() {
    if (drawn_)
        write(QStringLiteral("\n"));
    drawn_ = false;
}

} // namespace qav::runner
