#include "runner/shell_command.h"

#include <csignal>
#include <unistd.h>

namespace qav::runner {

void prepareShellCommand(QProcess& process, const QString& command) {
    process.setProgram(QStringLiteral("/bin/sh"));
    process.setArguments({QStringLiteral("-c"), command});
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

void killCommand(QProcess& process) {
    const qint64 pid = process.processId();
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    process.kill();
}

} // namespace qav::runner
