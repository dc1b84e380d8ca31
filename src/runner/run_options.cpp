#include "runner/run_options.h"

#include "tools/test_steps.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace qav::runner {

namespace {

struct NamedTest {
    const char* name;
    Test test;
};
constexpr std::array kTests{
    NamedTest{"crash-test", Test::CrashTest},
    NamedTest{"continuous-play", Test::ContinuousPlay},
    NamedTest{"interrupted-play", Test::InterruptedPlay},
    NamedTest{"script-123", Test::Script123},
    NamedTest{"script-45", Test::Script45},
    NamedTest{"speak", Test::Speak},
};

constexpr std::array kEncodings{"gb2312", "gbk", "big5", "utf16le", "utf16be"};
constexpr std::array kBauds{4800, 9600, 57600, 115200};

// Long enough for any run; the milliseconds still fit a 64-bit count.
constexpr double kLongestDurationMs = 1e15;

QString absoluteFrom(const QString& startDir, const QString& path) {
    return QDir::cleanPath(QDir(startDir).absoluteFilePath(path));
}

} // namespace

QString testName(Test test) {
    for (const auto& t : kTests)
        if (t.test == test)
            return QString::fromLatin1(t.name);
    return QString();
}

QString encodingName(int code) {
    if (code < 0 || code >= int(kEncodings.size()))
        return QString();
    return QString::fromLatin1(kEncodings[std::size_t(code)]);
}

std::optional<qint64> parseDuration(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^(\\d+(?:\\.\\d+)?)([smh])$"));
    const auto m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const double value = m.captured(1).toDouble();
    const QChar unit = m.captured(2).at(0);
    const double unitMs = unit == u's' ? 1e3 : unit == u'm' ? 60e3 : 3600e3;
    const double ms = std::round(value * unitMs);
    if (ms < 1 || ms > kLongestDurationMs)
        return std::nullopt;
    return qint64(ms);
}

std::optional<int> parseSeconds(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^\\d+(?:\\.\\d+)?$"));
    if (!form.match(text.trimmed()).hasMatch())
        return std::nullopt;
    const double ms = std::round(text.trimmed().toDouble() * 1e3);
    if (ms < 1 || ms > double(std::numeric_limits<int>::max()))
        return std::nullopt;
    return int(ms);
}

ParsedCommandLine parseCommandLine(const QStringList& arguments, const QString& startDir) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs a test of the QAV7120 console without a window.\n"
        "TEST: crash-test, continuous-play, interrupted-play, script-123, script-45 or speak."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("COMn (a COMn entry in the working folder, else "
                                                 "the n-th system port) or a device path; COM1."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption baud(QStringLiteral("baud"),
                                  QStringLiteral("4800, 9600, 57600 or 115200; 9600."),
                                  QStringLiteral("BAUD"));
    const QCommandLineOption usb(QStringLiteral("usb"),
                                 QStringLiteral("Use the USB bridge instead of a serial port."));
    const QCommandLineOption dir(QStringLiteral("dir"),
                                 QStringLiteral("The working folder; the current one."),
                                 QStringLiteral("DIR"));
    const QCommandLineOption encoding(QStringLiteral("encoding"),
                                      QStringLiteral("gb2312, gbk, big5, utf16le or utf16be; gbk."),
                                      QStringLiteral("ENCODING"));
    const QCommandLineOption text(QStringLiteral("text"),
                                  QStringLiteral("The send text from FILE (UTF-8 or GBK)."),
                                  QStringLiteral("FILE"));
    const QCommandLineOption say(QStringLiteral("say"), QStringLiteral("The send text itself."),
                                 QStringLiteral("TEXT"));
    const QCommandLineOption duration(
        QStringLiteral("duration"),
        QStringLiteral("How long the test runs: 90s, 30m, 24h. Without it, until stopped."),
        QStringLiteral("TIME"));
    const QCommandLineOption baseMs(QStringLiteral("base-ms"),
                                    QStringLiteral("Interrupted play's base delay; 1000."),
                                    QStringLiteral("MS"));
    const QCommandLineOption passes(QStringLiteral("passes"),
                                    QStringLiteral("Interrupted play's passes per cycle; 100."),
                                    QStringLiteral("N"));
    const QCommandLineOption silence(
        QStringLiteral("silence"),
        QStringLiteral("Ask the chip after this long without a byte from it; 60."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption linkTimeout(
        QStringLiteral("link-timeout"),
        QStringLiteral("Give up when a lost link is not back within TIME; 10m."),
        QStringLiteral("TIME"));
    const QCommandLineOption junit(QStringLiteral("junit"),
                                   QStringLiteral("Write a JUnit report to FILE."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption timing(QStringLiteral("timing"),
                                    QStringLiteral("Write the reply times of every frame to FILE "
                                                   "(CSV)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("No progress line on standard error."));
    parser.addOptions({port, baud, usb, dir, encoding, text, say, duration, baseMs, passes, silence,
                       linkTimeout, junit, timing, quiet});
    parser.addPositionalArgument(QStringLiteral("TEST"), QStringLiteral("The test to run."));

    ParsedCommandLine result;
    auto fail = [&result](const QString& why) {
        result.outcome = ParsedCommandLine::Outcome::Error;
        result.text = why;
        return result;
    };

    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        result.outcome = ParsedCommandLine::Outcome::Help;
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.outcome = ParsedCommandLine::Outcome::Version;
        return result;
    }
    // An option given twice would leave one of its values unused.
    for (const auto& option : parser.optionNames())
        if (parser.optionNames().count(option) > 1)
            return fail(QStringLiteral("--%1 is given more than once").arg(option));

    RunOptions& o = result.options;
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return fail(QStringLiteral("which test? crash-test, continuous-play, interrupted-play, "
                                   "script-123, script-45 or speak"));
    if (positional.size() > 1)
        return fail(QStringLiteral("one test at a time, not: %1").arg(positional.join(u' ')));
    bool known = false;
    for (const auto& t : kTests)
        if (positional.first() == QLatin1String(t.name)) {
            o.test = t.test;
            known = true;
        }
    if (!known)
        return fail(QStringLiteral("unknown test: %1").arg(positional.first()));

    o.usb = parser.isSet(usb);
    if (o.usb && (parser.isSet(port) || parser.isSet(baud)))
        return fail(QStringLiteral("--usb takes neither --port nor --baud"));
    if (o.usb && o.test == Test::CrashTest)
        return fail(QStringLiteral("crash-test runs on a serial port: the chip's idle reply runs "
                                   "each step, and the bridge does not pass it on"));
    if (parser.isSet(port)) {
        o.port = parser.value(port);
        static const QRegularExpression comForm(QStringLiteral("^COM(\\d+)$"),
                                                QRegularExpression::CaseInsensitiveOption);
        if (const auto m = comForm.match(o.port); m.hasMatch()) {
            o.comNumber = m.captured(1).toInt();
            if (o.comNumber < 1 || o.comNumber > 20)
                return fail(QStringLiteral("--port %1: COM1 to COM20").arg(o.port));
        } else if (o.port.isEmpty()) {
            return fail(QStringLiteral("--port: COMn or a device path"));
        } else {
            o.comNumber = 0;
            o.device = absoluteFrom(startDir, o.port);
        }
    }
    if (parser.isSet(baud)) {
        bool ok = false;
        o.baud = parser.value(baud).toInt(&ok);
        if (!ok || std::find(kBauds.begin(), kBauds.end(), o.baud) == kBauds.end())
            return fail(
                QStringLiteral("--baud %1: 4800, 9600, 57600 or 115200").arg(parser.value(baud)));
    }
    o.folder = absoluteFrom(startDir, parser.isSet(dir) ? parser.value(dir) : QString());
    if (parser.isSet(encoding)) {
        o.encoding = -1;
        for (int code = 0; code < int(kEncodings.size()); ++code)
            if (parser.value(encoding).compare(QLatin1String(kEncodings[std::size_t(code)]),
                                               Qt::CaseInsensitive) == 0)
                o.encoding = code;
        if (o.encoding < 0)
            return fail(QStringLiteral("--encoding %1: gb2312, gbk, big5, utf16le or utf16be")
                            .arg(parser.value(encoding)));
    }
    if (parser.isSet(text) && parser.isSet(say))
        return fail(QStringLiteral("--text and --say both give the send text; choose one"));
    if (parser.isSet(text)) {
        if (parser.value(text).isEmpty())
            return fail(QStringLiteral("--text: a file name"));
        o.textFile = absoluteFrom(startDir, parser.value(text));
    }
    if (parser.isSet(say)) {
        if (parser.value(say).isEmpty())
            return fail(QStringLiteral("--say: an empty text sends nothing"));
        o.say = parser.value(say);
    }
    const bool ownText =
        o.test == Test::CrashTest || o.test == Test::Script123 || o.test == Test::Script45;
    if (ownText && (parser.isSet(text) || parser.isSet(say)))
        return fail(QStringLiteral("%1 speaks its own texts; --text and --say are for speak, "
                                   "continuous-play and interrupted-play")
                        .arg(testName(o.test)));
    if (parser.isSet(duration)) {
        o.durationMs = parseDuration(parser.value(duration));
        if (!o.durationMs)
            return fail(QStringLiteral("--duration %1: a time such as 90s, 30m or 24h")
                            .arg(parser.value(duration)));
    }
    const bool interrupted = o.test == Test::InterruptedPlay;
    if (!interrupted && (parser.isSet(baseMs) || parser.isSet(passes)))
        return fail(QStringLiteral("--base-ms and --passes belong to interrupted-play"));
    if (parser.isSet(baseMs)) {
        const auto value = tools::readInterruptSetting(parser.value(baseMs));
        if (!value)
            return fail(QStringLiteral("--base-ms %1: a whole number from 0 to 32767")
                            .arg(parser.value(baseMs)));
        o.baseMs = *value;
    }
    if (parser.isSet(passes)) {
        const auto value = tools::readInterruptSetting(parser.value(passes));
        if (!value)
            return fail(QStringLiteral("--passes %1: a whole number from 0 to 32767")
                            .arg(parser.value(passes)));
        o.passes = *value;
    }
    if (parser.isSet(silence)) {
        o.silenceMs = parseSeconds(parser.value(silence));
        if (!o.silenceMs)
            return fail(QStringLiteral("--silence %1: seconds greater than 0, such as 60 or 0.5")
                            .arg(parser.value(silence)));
    }
    if (parser.isSet(linkTimeout)) {
        const auto value = parseDuration(parser.value(linkTimeout));
        if (!value)
            return fail(QStringLiteral("--link-timeout %1: a time such as 90s, 30m or 24h")
                            .arg(parser.value(linkTimeout)));
        o.linkTimeoutMs = *value;
    }
    if (parser.isSet(junit)) {
        if (parser.value(junit).isEmpty())
            return fail(QStringLiteral("--junit: a file name"));
        o.junitPath = absoluteFrom(startDir, parser.value(junit));
    }
    if (parser.isSet(timing)) {
        if (parser.value(timing).isEmpty())
            return fail(QStringLiteral("--timing: a file name"));
        o.timingPath = absoluteFrom(startDir, parser.value(timing));
    }
    if (!o.junitPath.isEmpty() && o.junitPath == o.timingPath)
        return fail(QStringLiteral("--junit and --timing name the same file"));
    o.quiet = parser.isSet(quiet);
    result.outcome = ParsedCommandLine::Outcome::Run;
    return result;
}

} // namespace qav::runner
