#pragma once
// Standard error of the runner: the session's messages and the progress
// line. On a terminal the line is drawn in place and redrawn with every
// update; otherwise a plain line is written at most once a minute, so a CI
// log stays short. A message first clears a line drawn in place.

#include "session/message_sink.h"

#include <QString>
#include <cstdio>

namespace qav::runner {

class Terminal {
public:
    static constexpr qint64 kPlainLineEveryMs = 60'000;

    // out: where the lines go; onTerminal: draw in place.
    Terminal(std::FILE* out, bool onTerminal, bool progressShown);

    void message(const QString& text);
    // The progress line at elapsedMs into the run.
    void progress(const QString& line, qint64 elapsedMs);
    // The run is over: a line drawn in place keeps its place.
    void endProgress();

private:
    void write(const QString& text);

    std::FILE* out_;
    bool onTerminal_;
    bool shown_;
    bool drawn_ = false;
    qint64 lastPlainMs_ = -1;
};

// Messages of the session, written to standard error and acknowledged at
// once: nobody is there to press OK.
class TerminalMessageSink : public session::MessageSink {
public:
    explicit TerminalMessageSink(Terminal& terminal) : terminal_(terminal) {}
    void show(const QString& text, std::function<void()> afterOk) override {
        terminal_.message(text);
        if (afterOk)
            afterOk();
    }

private:
    Terminal& terminal_;
};

} // namespace qav::runner
