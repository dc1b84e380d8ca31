#include "runner/run_options.h"

#include "link/serial_link.h"
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

constexpr std::array kEncodings{"gb2312", "gbk", "big5", "utf16le", "utf16be"};

constexpr int kPortCount = link::SerialLink::kPortCount;

// Long enough for any run; the milliseconds still fit a 64-bit count.
constexpr double kLongestDurationMs = 1e15;

QString absoluteFrom(const QString& startDir, const QString& path) {
    return QDir::cleanPath(QDir(startDir).absoluteFilePath(path));
}

} // namespace

QString testName(Test test) {
    return QString::fromLatin1(session::testRules(test).name);
}

namespace {
// "4800, 9600, 57600 or 115200".
QString baudList() {
    QStringList bauds;
    for (const int baud : session::kBaudRates)
        bauds << QString::number(baud);
    const QString last = bauds.takeLast();
    return bauds.join(QLatin1String(", ")) + QLatin1String(" or ") + last;
}
} // namespace

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

namespace {

struct OptionRow {
    const char* name;
    const char* help;
    const char* valueName; // none for a switch
};
constexpr std::array kOptions{
    OptionRow{"port",
              "COMn (a COMn entry in the working folder, else the n-th system port) or a "
              "device path; COM1.",
              "PORT"},
    OptionRow{"baud", "4800, 9600, 57600 or 115200; 9600.", "BAUD"},
    OptionRow{"usb", "Use the USB bridge instead of a serial port.", nullptr},
    OptionRow{"dir", "The working folder; the current one.", "DIR"},
    OptionRow{"encoding", "gb2312, gbk, big5, utf16le or utf16be; gbk.", "ENCODING"},
    OptionRow{"text", "The send text from FILE (UTF-8 or GBK).", "FILE"},
    OptionRow{"say", "The send text itself.", "TEXT"},
    OptionRow{"duration", "How long the test runs: 90s, 30m, 24h. Without it, until stopped.",
              "TIME"},
    OptionRow{"base-ms", "Interrupted play's base delay; 1000.", "MS"},
    OptionRow{"passes", "Interrupted play's passes per cycle; 100.", "N"},
    OptionRow{"silence", "Ask the chip after this long without a byte from it; 60.", "SECONDS"},
    OptionRow{"link-timeout", "Give up when a lost link is not back within TIME; 10m.", "TIME"},
    OptionRow{"junit", "Write a JUnit report to FILE.", "FILE"},
    OptionRow{"timing", "Write the reply times of every frame to FILE (CSV).", "FILE"},
    OptionRow{"report", "Write the report page of the run's capture to FILE (HTML).", "FILE"},
    OptionRow{"quiet", "No progress line on standard error.", nullptr},
    OptionRow{"resume",
              "crash-test: go on with the step after the last one in the result file, and "
              "append to it.",
              nullptr},
    OptionRow{"on-hang",
              "Run COMMAND at each hang verdict and recovery (/bin/sh -c; cmd /c on Windows), "
              "with QAV7120_EVENT, QAV7120_LINE and more in its environment.",
              "COMMAND"},
    OptionRow{"on-hang-timeout", "Kill an --on-hang command still running after TIME; 30s.",
              "TIME"},
};

// Reads the options of a parsed command line into RunOptions; each step
// gives what is wrong, or nothing.
class OptionReader {
public:
    OptionReader(const QCommandLineParser& parser, const QString& startDir, RunOptions& options)
        : p_(parser), startDir_(startDir), o_(options) {}

    using Fault = std::optional<QString>;
    Fault test();
    Fault link();
    Fault text();
    Fault times();
    Fault reports();
    Fault resume();
    Fault onHang();

private:
    bool isSet(const char* name) const { return p_.isSet(QLatin1String(name)); }
    QString value(const char* name) const { return p_.value(QLatin1String(name)); }
    Fault path(const char* name, QString& into) const;
    Fault interruptSetting(const char* name, int& into) const;

    const QCommandLineParser& p_;
    const QString& startDir_;
    RunOptions& o_;
};

OptionReader::Fault OptionReader::test() {
    const QStringList positional = p_.positionalArguments();
    if (positional.isEmpty())
        return QStringLiteral("which test? %1").arg(session::testNames());
    if (positional.size() > 1)
        return QStringLiteral("one test at a time, not: %1").arg(positional.join(u' '));
    if (const session::TestRules* rules = session::testNamed(positional.first())) {
        o_.test = rules->kind;
        return std::nullopt;
    }
    return QStringLiteral("unknown test: %1").arg(positional.first());
}

OptionReader::Fault OptionReader::link() {
    o_.usb = isSet("usb");
    if (o_.usb && (isSet("port") || isSet("baud")))
        return QStringLiteral("--usb takes neither --port nor --baud");
    if (o_.usb && session::testRules(o_.test).serialOnly)
        return QStringLiteral("%1 runs on a serial port: the chip's idle reply runs "
                              "each step, and the bridge does not pass it on")
            .arg(testName(o_.test));
    if (isSet("port")) {
        o_.port = value("port");
        static const QRegularExpression comForm(QStringLiteral("^COM(\\d+)$"),
                                                QRegularExpression::CaseInsensitiveOption);
        if (const auto m = comForm.match(o_.port); m.hasMatch()) {
            o_.comNumber = m.captured(1).toInt();
            if (o_.comNumber < 1 || o_.comNumber > kPortCount)
                return QStringLiteral("--port %1: COM1 to COM%2").arg(o_.port).arg(kPortCount);
        } else if (o_.port.isEmpty()) {
            return QStringLiteral("--port: COMn or a device path");
        } else {
            o_.comNumber = 0;
            o_.device = absoluteFrom(startDir_, o_.port);
        }
    }
    if (isSet("baud")) {
        bool ok = false;
        o_.baud = value("baud").toInt(&ok);
        const auto& bauds = session::kBaudRates;
        if (!ok || std::find(bauds.begin(), bauds.end(), o_.baud) == bauds.end())
            return QStringLiteral("--baud %1: %2").arg(value("baud"), baudList());
    }
    o_.folder = absoluteFrom(startDir_, isSet("dir") ? value("dir") : QString());
    return std::nullopt;
}

OptionReader::Fault OptionReader::text() {
    if (isSet("encoding")) {
        o_.encoding = -1;
        for (int code = 0; code < int(kEncodings.size()); ++code)
            if (value("encoding")
                    .compare(QLatin1String(kEncodings[std::size_t(code)]), Qt::CaseInsensitive) ==
                0)
                o_.encoding = code;
        if (o_.encoding < 0)
            return QStringLiteral("--encoding %1: gb2312, gbk, big5, utf16le or utf16be")
                .arg(value("encoding"));
    }
    if (isSet("text") && isSet("say"))
        return QStringLiteral("--text and --say both give the send text; choose one");
    if (const Fault fault = path("text", o_.textFile))
        return fault;
    if (isSet("say")) {
        if (value("say").isEmpty())
            return QStringLiteral("--say: an empty text sends nothing");
        o_.say = value("say");
    }
    if (session::testRules(o_.test).ownTexts && (isSet("text") || isSet("say")))
        return QStringLiteral("%1 speaks its own texts; --text and --say are for speak, "
                              "continuous-play and interrupted-play")
            .arg(testName(o_.test));
    return std::nullopt;
}

OptionReader::Fault OptionReader::times() {
    if (isSet("duration")) {
        o_.durationMs = parseDuration(value("duration"));
        if (!o_.durationMs)
            return QStringLiteral("--duration %1: a time such as 90s, 30m or 24h")
                .arg(value("duration"));
    }
    if (o_.test != Test::InterruptedPlay && (isSet("base-ms") || isSet("passes")))
        return QStringLiteral("--base-ms and --passes belong to interrupted-play");
    if (const Fault fault = interruptSetting("base-ms", o_.baseMs))
        return fault;
    if (const Fault fault = interruptSetting("passes", o_.passes))
        return fault;
    if (isSet("silence")) {
        o_.silenceMs = parseSeconds(value("silence"));
        if (!o_.silenceMs)
            return QStringLiteral("--silence %1: seconds greater than 0, such as 60 or 0.5")
                .arg(value("silence"));
    }
    if (isSet("link-timeout")) {
        const auto ms = parseDuration(value("link-timeout"));
        if (!ms)
            return QStringLiteral("--link-timeout %1: a time such as 90s, 30m or 24h")
                .arg(value("link-timeout"));
        o_.linkTimeoutMs = *ms;
    }
    return std::nullopt;
}

OptionReader::Fault OptionReader::reports() {
    if (const Fault fault = path("junit", o_.junitPath))
        return fault;
    if (const Fault fault = path("timing", o_.timingPath))
        return fault;
    if (const Fault fault = path("report", o_.reportPath))
        return fault;
    const std::array<std::pair<const char*, const QString*>, 3> files{
        {{"junit", &o_.junitPath}, {"timing", &o_.timingPath}, {"report", &o_.reportPath}}};
    for (std::size_t i = 0; i < files.size(); ++i)
        for (std::size_t j = i + 1; j < files.size(); ++j)
            if (!files[i].second->isEmpty() && *files[i].second == *files[j].second)
                return QStringLiteral("--%1 and --%2 name the same file")
                    .arg(QLatin1String(files[i].first), QLatin1String(files[j].first));
    o_.quiet = isSet("quiet");
    return std::nullopt;
}

OptionReader::Fault OptionReader::resume() {
    o_.resume = isSet("resume");
    if (o_.resume && o_.test != Test::CrashTest)
        return QStringLiteral("--resume goes on with a crash test; %1 has no result file")
            .arg(testName(o_.test));
    return std::nullopt;
}

OptionReader::Fault OptionReader::onHang() {
    if (isSet("on-hang")) {
        o_.onHang = value("on-hang");
        if (o_.onHang.trimmed().isEmpty())
            return QStringLiteral("--on-hang: a command to run");
    }
    if (isSet("on-hang-timeout")) {
        if (!isSet("on-hang"))
            return QStringLiteral("--on-hang-timeout belongs to --on-hang");
        const auto ms = parseDuration(value("on-hang-timeout"));
        if (!ms || *ms > std::numeric_limits<int>::max())
            return QStringLiteral("--on-hang-timeout %1: a time such as 30s or 5m")
                .arg(value("on-hang-timeout"));
        o_.onHangTimeoutMs = int(*ms);
    }
    return std::nullopt;
}

// A file named by the option, made absolute; left alone when not given.
OptionReader::Fault OptionReader::path(const char* name, QString& into) const {
    if (!isSet(name))
        return std::nullopt;
    if (value(name).isEmpty())
        return QStringLiteral("--%1: a file name").arg(QLatin1String(name));
    into = absoluteFrom(startDir_, value(name));
    return std::nullopt;
}

OptionReader::Fault OptionReader::interruptSetting(const char* name, int& into) const {
    if (!isSet(name))
        return std::nullopt;
    const auto setting = tools::readInterruptSetting(value(name));
    if (!setting)
        return QStringLiteral("--%1 %2: a whole number from 0 to 32767")
            .arg(QLatin1String(name), value(name));
    into = *setting;
    return std::nullopt;
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList& arguments, const QString& startDir) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs a test of the QAV7120 console without a window.\nTEST: %1.")
            .arg(session::testNames()));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    for (const OptionRow& option : kOptions)
        parser.addOption(
            option.valueName
                ? QCommandLineOption(QLatin1String(option.name), QLatin1String(option.help),
                                     QLatin1String(option.valueName))
                : QCommandLineOption(QLatin1String(option.name), QLatin1String(option.help)));
    parser.addPositionalArgument(QStringLiteral("TEST"), QStringLiteral("The test to run."));

    ParsedCommandLine result;
    if (!parser.parse(arguments)) {
        result.text = parser.errorText();
        return result;
    }
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
        if (parser.optionNames().count(option) > 1) {
            result.text = QStringLiteral("--%1 is given more than once").arg(option);
            return result;
        }
    OptionReader read(parser, startDir, result.options);
    for (auto step :
         {&OptionReader::test, &OptionReader::link, &OptionReader::text, &OptionReader::times,
          &OptionReader::reports, &OptionReader::resume, &OptionReader::onHang})
        if (const auto fault = (read.*step)()) {
            result.text = *fault;
            return result;
        }
    result.outcome = ParsedCommandLine::Outcome::Run;
    return result;
}

} // namespace qav::runner
