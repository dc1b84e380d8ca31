#include "runner/shell_command.h"

namespace qav::runner {

// cmd takes the rest of its line as the command; /s keeps the quotes inside
// it as they stand, and /d leaves out the user's AutoRun commands.
void prepareShellCommand(QProcess& process, const QString& command) {
    process.setProgram(QStringLiteral("cmd.exe"));
    process.setArguments({});
    process.setNativeArguments(QStringLiteral("/d /s /c \"%1\"").arg(command));
}

// Programs the command started in turn are not reached.
void killCommand(QProcess& process) {
    process.kill();
}

} // namespace qav::runner
