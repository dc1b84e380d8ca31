// qav7120-report: one page to look at for one or more captures.
#include "report/report.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace {

enum ExitCode {
    kWritten = 0,
    kUsage = 2,      // the command line
    kBadCapture = 3, // a capture missing, unreadable or not a capture
    kPageFailed = 4, // the page could not be written
};

void print(std::FILE* out, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), out);
    std::fflush(out);
}

int usage(const QString& why) {
    print(stderr, QStringLiteral("qav7120-report: %1\nTry 'qav7120-report --help'.\n").arg(why));
    return kUsage;
}

// Beside the first capture, named after it: LOG-capture-X.pcapng gives LOG-capture-X.html.
QString defaultPage(const QString& capture) {
    const QFileInfo info(capture);
    const QString stem = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.absoluteDir().filePath(stem + QStringLiteral(".html"));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qav7120-report"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QAV_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Makes one HTML page of the reply times, hangs and events of QAV7120 "
                       "captures (LOG-capture-*.pcapng), to open in any browser, offline."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption output(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Write the page to FILE; by default beside the first capture, named "
                       "after it with .html."),
        QStringLiteral("FILE"));
    parser.addOption(output);
    parser.addPositionalArgument(QStringLiteral("CAPTURE"),
                                 QStringLiteral("A capture; several give one row and one chart "
                                                "each."),
                                 QStringLiteral("CAPTURE..."));
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        print(stdout, parser.helpText());
        return kWritten;
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("qav7120-report %1\n").arg(QStringLiteral(QAV_VERSION)));
        return kWritten;
    }
    const QStringList captures = parser.positionalArguments();
    if (captures.isEmpty())
        return usage(QStringLiteral("which capture? Give one or more LOG-capture-*.pcapng files"));
    if (parser.values(output).size() > 1)
        return usage(QStringLiteral("--output is given more than once"));
    if (parser.isSet(output) && parser.value(output).isEmpty())
        return usage(QStringLiteral("--output: a file name"));
    const QString page = QDir::cleanPath(QDir::current().absoluteFilePath(
        parser.isSet(output) ? parser.value(output) : defaultPage(captures.first())));
    for (const QString& capture : captures)
        if (QFileInfo(capture).absoluteFilePath() == QFileInfo(page).absoluteFilePath())
            return usage(QStringLiteral("the page %1 would overwrite the capture %2")
                             .arg(QDir::toNativeSeparators(page), capture));

    const auto outcome = qav::report::writeReport(
        captures, page, QStringLiteral("qav7120-report %1").arg(QStringLiteral(QAV_VERSION)));
    for (const QString& notice : outcome.notices)
        print(stderr, QStringLiteral("qav7120-report: %1\n").arg(notice));
    using Fault = qav::report::ReportOutcome::Fault;
    if (outcome.fault != Fault::None) {
        print(stderr, QStringLiteral("qav7120-report: %1\n").arg(outcome.message));
        return outcome.fault == Fault::Capture ? kBadCapture : kPageFailed;
    }
    print(stdout, QDir::toNativeSeparators(page) + u'\n');
    return kWritten;
}
