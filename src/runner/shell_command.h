#pragma once
// A command line given by the user, run the way the system's shell runs it:
// /bin/sh -c on Linux (shell_command_posix.cpp), cmd /c on Windows
// (shell_command_win.cpp).

#include <QProcess>
#include <QString>

namespace qav::runner {

// Sets the process up to run the command. On Linux the command gets a
// process group of its own, so that killCommand() ends what it started too.
void prepareShellCommand(QProcess& process, const QString& command);

// Ends the command at once: on Linux its whole process group, on Windows
// the shell itself.
void killCommand(QProcess& process);

} // namespace qav::runner
