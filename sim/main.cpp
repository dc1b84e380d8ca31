// qav7120-emulator: a QAV7120 on a pseudo-terminal. It links the line as COMn
// in a folder, answers the console's frames as the chip would, prints one
// trace line per frame and, with --speak, voices each utterance into a WAV file.

#include "chip_model.h"
#include "serial_line.h"
#include "speech_renderer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QStringList>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

// The longest hang --recover-after takes: its milliseconds fit a timer.
constexpr int kMaxRecoverSeconds = 2000000;

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void printLine(const QString& line) {
    const QByteArray utf8 = line.toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void printError(const QString& line) {
    std::fprintf(stderr, "qav7120-emulator: %s\n", line.toLocal8Bit().constData());
}

// SIGINT and SIGTERM end the event loop, so the link is removed on the way out.
bool installSignalHandlers(QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return false;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGHUP, &action, nullptr) == 0;
}

// The faults asked for, in one line for the start of the trace.
QString faultSummary(int hangAfter, int recoverAfterMs, int dropIdleEvery) {
    QStringList parts;
    if (hangAfter > 0) {
        QString hang = QStringLiteral("hangs after %1 synthesis frame%2")
                           .arg(hangAfter)
                           .arg(hangAfter == 1 ? "" : "s");
        if (recoverAfterMs > 0)
            hang +=
                QStringLiteral(", power cycle %1 s later, and again").arg(recoverAfterMs / 1000.0);
        parts << hang;
    }
    if (dropIdleEvery > 0)
        parts << QStringLiteral("one in %1 idle reports after an utterance or a stop lost")
                     .arg(dropIdleEvery);
    return parts.join(QStringLiteral("; "));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qav7120-emulator"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QAV_VERSION));

    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral(
        "Emulates a QAV7120 speech chip on a pseudo-terminal linked as COMn in a folder."));
    cli.addHelpOption();
    cli.addVersionOption();
    const QCommandLineOption dirOption(QStringLiteral("dir"),
                                       QStringLiteral("Folder in which to link COMn (default .)."),
                                       QStringLiteral("DIR"), QStringLiteral("."));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Serial port number n of COMn (default 1)."),
                                        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption scaleOption(
        QStringLiteral("time-scale"),
        QStringLiteral("Speak X times faster than the chip would (default 1)."),
        QStringLiteral("X"), QStringLiteral("1"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("frame-timeout"),
        QStringLiteral("Answer 0x45 to a frame still incomplete MS ms after its last byte "
                       "(default 500)."),
        QStringLiteral("MS"), QString::number(qav::sim::SerialLine::kDefaultFrameTimeoutMs));
    const QCommandLineOption speakOption(
        QStringLiteral("speak"), QStringLiteral("Write each utterance as a WAV file into DIR."),
        QStringLiteral("DIR"));
    const QCommandLineOption quietOption(QStringLiteral("quiet"),
                                         QStringLiteral("Print no trace, only the port."));
    const QCommandLineOption hangOption(
        QStringLiteral("hang-after"),
        QStringLiteral("Fault: hang after the N-th synthesis frame, answering nothing more."),
        QStringLiteral("N"));
    const QCommandLineOption recoverOption(
        QStringLiteral("recover-after"),
        QStringLiteral("Fault: power-cycle a hung chip SECONDS real seconds after it hung "
                       "(sends 0x4A); it hangs again N synthesis frames later."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption dropIdleOption(
        QStringLiteral("drop-idle-every"),
        QStringLiteral("Fault: leave out every N-th idle report 0x4F after an utterance or a "
                       "stop (not the answer to a status query)."),
        QStringLiteral("N"));
    cli.addOptions({dirOption, portOption, scaleOption, timeoutOption, speakOption, quietOption,
                    hangOption, recoverOption, dropIdleOption});
    cli.process(app);

    bool ok = false;
    const int port = cli.value(portOption).toInt(&ok);
    if (!ok || port < 1 || port > 255) {
        printError(QStringLiteral("--port wants a number from 1 to 255"));
        return 2;
    }
    const double scale = cli.value(scaleOption).toDouble(&ok);
    if (!ok || !(scale > 0) || !std::isfinite(scale)) {
        printError(QStringLiteral("--time-scale wants a number above 0"));
        return 2;
    }
    const int frameTimeout = cli.value(timeoutOption).toInt(&ok);
    if (!ok || frameTimeout < 1) {
        printError(QStringLiteral("--frame-timeout wants a number of milliseconds above 0"));
        return 2;
    }
    int hangAfter = 0;
    if (cli.isSet(hangOption)) {
        hangAfter = cli.value(hangOption).toInt(&ok);
        if (!ok || hangAfter < 1) {
            printError(QStringLiteral("--hang-after wants a number of synthesis frames from 1"));
            return 2;
        }
    }
    int recoverAfterMs = 0;
    if (cli.isSet(recoverOption)) {
        const double seconds = cli.value(recoverOption).toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > kMaxRecoverSeconds) {
            printError(QStringLiteral("--recover-after wants a number of seconds above 0, "
                                      "at most %1")
                           .arg(kMaxRecoverSeconds));
            return 2;
        }
        if (hangAfter == 0) {
            printError(QStringLiteral("--recover-after needs --hang-after"));
            return 2;
        }
        recoverAfterMs = std::max(1, int(std::lround(seconds * 1000)));
    }
    int dropIdleEvery = 0;
    if (cli.isSet(dropIdleOption)) {
        dropIdleEvery = cli.value(dropIdleOption).toInt(&ok);
        if (!ok || dropIdleEvery < 1) {
            printError(QStringLiteral("--drop-idle-every wants a number from 1"));
            return 2;
        }
    }
    const QString dir = cli.value(dirOption);
    if (!QDir(dir).exists()) {
        printError(QStringLiteral("no folder %1").arg(dir));
        return 2;
    }
    if (!installSignalHandlers(app)) {
        printError(QStringLiteral("cannot install signal handlers"));
        return 1;
    }

    qav::sim::ChipModel chip;
    chip.setTimeScale(scale);
    chip.setHangAfter(hangAfter);
    chip.setRecoverAfterMs(recoverAfterMs);
    chip.setDropIdleEvery(dropIdleEvery);
    const bool quiet = cli.isSet(quietOption);
    if (!quiet)
        QObject::connect(&chip, &qav::sim::ChipModel::traced, &printLine);

    qav::sim::SerialLine line(&chip);
    line.setFrameTimeoutMs(frameTimeout);
    if (!quiet)
        QObject::connect(&line, &qav::sim::SerialLine::lineEvent, [](const QString& text) {
            printLine(QStringLiteral("           -- %1").arg(text));
        });

    std::unique_ptr<qav::sim::SpeechRenderer> speaker;
    if (cli.isSet(speakOption)) {
        speaker = std::make_unique<qav::sim::SpeechRenderer>(cli.value(speakOption));
        QObject::connect(&chip, &qav::sim::ChipModel::utteranceBegan, speaker.get(),
                         &qav::sim::SpeechRenderer::render);
        QObject::connect(speaker.get(), &qav::sim::SpeechRenderer::rendered,
                         [quiet](int frame, const QString& path, double seconds) {
                             if (!quiet)
                                 printLine(QStringLiteral("           -- #%1 voiced: %2 (%3 s)")
                                               .arg(frame, 6, 10, QLatin1Char('0'))
                                               .arg(path)
                                               .arg(seconds, 0, 'f', 2));
                         });
        QObject::connect(
            speaker.get(), &qav::sim::SpeechRenderer::failed, [](int frame, const QString& reason) {
                printError(QStringLiteral("frame %1 not voiced: %2").arg(frame).arg(reason));
            });
    }

    QString error;
    if (!line.open(dir, port, &error)) {
        printError(error);
        return 1;
    }
    printLine(QStringLiteral("QAV7120 emulator serving %1 (%2), time scale %3")
                  .arg(line.linkPath(), line.slavePath())
                  .arg(scale));
    if (!quiet && (hangAfter > 0 || dropIdleEvery > 0))
        printLine(QStringLiteral("           -- faults: %1")
                      .arg(faultSummary(hangAfter, recoverAfterMs, dropIdleEvery)));

    const int status = app.exec();
    line.close();
    return status;
}
