#include "runner/interrupts.h"
#include "runner/runner.h"

#include <QCoreApplication>
#include <QPointer>
#include <csignal>
#include <io.h>
#include <windows.h>

namespace qav::runner {

namespace {
QPointer<Runner> interrupted;

// Called on a thread of the system's: the run is ended on its own thread.
BOOL WINAPI onConsoleControl(DWORD type) {
    Runner* runner = interrupted.data();
    if (!runner)
        return FALSE;
    QMetaObject::invokeMethod(
        runner,
        [runner] {
            if (runner->isEnding())
                QCoreApplication::exit(128 + SIGINT);
            else
                runner->interrupt(SIGINT);
        },
        Qt::QueuedConnection);
    // A closed console window ends the process as soon as this returns: wait
    // here while the run ends and the program returns its exit code.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        ::Sleep(10000);
    return TRUE;
}
} // namespace

void endOnInterrupts(Runner& runner) {
    interrupted = &runner;
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

bool isTerminal(std::FILE* stream) {
    return ::_isatty(::_fileno(stream)) != 0;
}

} // namespace qav::runner
