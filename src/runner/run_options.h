#pragma once
// The command line of qav7120-run: which test, on which link, in which
// folder, for how long, and where the reports go.
//
//   qav7120-run [options] TEST
//
// Relative paths are taken from the folder the program was started in, so
// they keep their meaning once the run has moved into its working folder.

#include "session/run_tests.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace qav::runner {

using Test = session::TestKind;

// "crash-test", "continuous-play", ... as the command line names them.
QString testName(Test test);

struct RunOptions {
    Test test = Test::Speak;
    // The serial port: COMn by the console's rule (comNumber), or a device
    // by its path (device, absolute). Ignored with usb.
    QString port = QStringLiteral("COM1");
    int comNumber = 1;
    QString device;
    int baud = session::kDefaultBaud;
    bool usb = false;
    QString folder;   // the working folder, absolute
    int encoding = 1; // the chip's code: 0 GB2312, 1 GBK, 2 BIG5, 3/4 UTF-16 LE/BE
    QString textFile; // --text, absolute; empty when not given
    std::optional<QString> say;
    std::optional<qint64> durationMs;
    int baseMs =
        session::kInterruptBaseMs; // interrupted play's two boxes, as the window starts them
    int passes = session::kInterruptPasses;
    std::optional<int> silenceMs;
    qint64 linkTimeoutMs = 10 * 60 * 1000;
    QString junitPath; // absolute; empty when not asked for
    QString timingPath;
    QString reportPath; // the report page of the run's capture
    bool quiet = false;
    bool resume = false;          // the crash test goes on where its result file ends
    QString onHang;               // run at each verdict and recovery; empty when not given
    int onHangTimeoutMs = 30'000; // after which the command is killed
};

struct ParsedCommandLine {
    enum class Outcome { Run, Help, Version, Error };
    Outcome outcome = Outcome::Error;
    RunOptions options;
    QString text; // the help text, or what is wrong
};

// arguments[0] is the program; startDir is where relative paths start.
ParsedCommandLine parseCommandLine(const QStringList& arguments, const QString& startDir);

// "90s", "30m", "24h", "1.5s": a positive time with its unit, in
// milliseconds (at least 1). Nothing for anything else.
std::optional<qint64> parseDuration(const QString& text);

// "1", "0.25": a positive number of seconds, in milliseconds (at least 1, at
// most what a timer holds). Nothing for anything else.
std::optional<int> parseSeconds(const QString& text);

// The encoding names of --encoding, by the chip's code.
QString encodingName(int code);

} // namespace qav::runner
