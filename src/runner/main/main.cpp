// qav7120-run: a test of the console from a shell, without a window.
#include "link/hidapi_bridge.h"
#include "runner/runner.h"

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int number) {
    const char byte = char(number);
    [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
}

// SIGINT and SIGTERM end the run as its end would, with 128 + the signal;
// a second one ends the program at once (the journal stays for the next
// start in the folder).
void endOnSignals(qav::runner::Runner& runner) {
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

void print(std::FILE* out, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), out);
    std::fflush(out);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qav7120-run"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QAV_VERSION));

    using qav::runner::ParsedCommandLine;
    const ParsedCommandLine parsed =
        qav::runner::parseCommandLine(QCoreApplication::arguments(), QDir::currentPath());
    switch (parsed.outcome) {
    case ParsedCommandLine::Outcome::Help:
        print(stdout, parsed.text);
        return 0;
    case ParsedCommandLine::Outcome::Version:
        print(stdout, QStringLiteral("qav7120-run %1\n").arg(QStringLiteral(QAV_VERSION)));
        return 0;
    case ParsedCommandLine::Outcome::Error:
        print(stderr,
              QStringLiteral("qav7120-run: %1\nTry 'qav7120-run --help'.\n").arg(parsed.text));
        return qav::runner::Runner::kUsage;
    case ParsedCommandLine::Outcome::Run:
        break;
    }

    qav::runner::Terminal terminal(stderr, ::isatty(STDERR_FILENO) == 1, !parsed.options.quiet);
    std::unique_ptr<qav::link::HidBridge> bridge;
    if (parsed.options.usb)
        bridge = std::make_unique<qav::link::HidapiBridge>();
    qav::runner::Runner runner(parsed.options, std::move(bridge), terminal, stdout);
    QObject::connect(&runner, &qav::runner::Runner::ended, &app,
                     [](int code) { QCoreApplication::exit(code); });
    endOnSignals(runner);
    QTimer::singleShot(0, &runner, &qav::runner::Runner::start);
    return QCoreApplication::exec();
}
