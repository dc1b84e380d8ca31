#include "runner/interrupts.h"
#include "runner/runner.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace qav::runner {

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int number) {
    const char byte = char(number);
    [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
}
} // namespace

void endOnInterrupts(Runner& runner) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &runner);
    QObject::connect(notifier, &QSocketNotifier::activated, &runner, [&runner] {
        char byte = 0;
        if (::read(signalPipe[1], &byte, 1) != 1)
            return;
        if (runner.isEnding()) {
            QCoreApplication::exit(128 + byte);
            return;
        }
        runner.interrupt(byte);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

bool isTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

} // namespace qav::runner
