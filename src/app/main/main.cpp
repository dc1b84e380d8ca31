#include "app/form1.h"
#include "link/hidapi_bridge.h"

#include <QApplication>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
}

// A terminate or interrupt signal closes the window as the close button does,
// so the port is closed and the work log exported; a second one ends at once.
void closeOnSignal(QWidget& window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(signalPipe[1], &byte, 1);
        static bool closing = false;
        if (closing)
            QApplication::exit(1);
        closing = true;
        window.close();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}
} // namespace
#endif

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qav7120-console"));

    // The bridge through hidapi; real message boxes.
    qav::app::Form1 form(std::make_unique<qav::link::HidapiBridge>());
    form.Form_Load();
    form.show();
#ifdef Q_OS_UNIX
    closeOnSignal(form);
#endif
    return QApplication::exec();
}
