#pragma once
// How a run from a shell is interrupted: SIGINT and SIGTERM on Linux
// (interrupts_posix.cpp); Ctrl+C, Ctrl+Break and a closed console window on
// Windows (interrupts_win.cpp), which end the run as SIGINT does. The run
// then stops as at its end, with 128 + the signal; a second interrupt ends
// the program at once (the journal stays for the next start in the folder).

#include <cstdio>

namespace qav::runner {

class Runner;

void endOnInterrupts(Runner& runner);

// Whether the stream is a terminal, where the progress line is redrawn.
bool isTerminal(std::FILE* stream);

} // namespace qav::runner
