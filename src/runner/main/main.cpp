// qav7120-run: a test of the console from a shell, without a window.
#include "link/hidapi_bridge.h"
#include "runner/interrupts.h"
#include "runner/runner.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

namespace {

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

    qav::runner::Terminal terminal(stderr, qav::runner::isTerminal(stderr), !parsed.options.quiet);
    std::unique_ptr<qav::link::HidBridge> bridge;
    if (parsed.options.usb)
        bridge = std::make_unique<qav::link::HidapiBridge>();
    qav::runner::Runner runner(parsed.options, std::move(bridge), terminal, stdout);
    QObject::connect(&runner, &qav::runner::Runner::ended, &app,
                     [](int code) { QCoreApplication::exit(code); });
    qav::runner::endOnInterrupts(runner);
    QTimer::singleShot(0, &runner, &qav::runner::Runner::start);
    return QCoreApplication::exec();
}
