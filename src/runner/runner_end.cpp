// The end of a run, whatever ends it: the chip is told to stop, the stop
// frame leaves, the log goes into LOG.txt, the reports are written and the
// summary printed. Also the progress line, drawn while the run goes on.
#include "report/report.h"
#include "report/run_analysis.h"
#include "runner/runner.h"
#include "session/console_session.h"

#include <QCoreApplication>
#include <QDir>

namespace qav::runner {

namespace {

QString seconds(qint64 ms) {
    return QString::number(double(ms) / 1000, 'f', 1) + QStringLiteral(" s");
}

QString milliseconds(const std::optional<qint64>& ms) {
    return ms ? QString::number(*ms) + QStringLiteral(" ms") : QStringLiteral("none");
}

QString hexCode(std::uint8_t code) {
    return QStringLiteral("%1").arg(code, 2, 16, QLatin1Char('0')).toUpper();
}
} // namespace

void Runner::endEarly(int exitCode, const QString& why) {
    ending_ = true;
    terminal_.message(why);
    emit ended(exitCode);
}

void Runner::interrupt(int signalNumber) {
    if (ending_)
        return;
    const QString name = signalNumber == 2    ? QStringLiteral("SIGINT")
                         : signalNumber == 15 ? QStringLiteral("SIGTERM")
                                              : QStringLiteral("signal %1").arg(signalNumber);
    if (!clock_.isValid()) { // before the run began: nothing to stop
        ending_ = true;
        emit ended(128 + signalNumber);
        return;
    }
    finish(128 + signalNumber, true, QStringLiteral("stopped by %1").arg(name));
}

// stopChip: "停止" goes out first, as the engineer would press it.
void Runner::finish(int exitCode, bool stopChip, const QString& why) {
    if (ending_)
        return;
    ending_ = true;
    exitCode_ = exitCode;
    if (!why.isEmpty())
        terminal_.message(why);
    if (exitCode == kLinkFailed && !options_.junitPath.isEmpty())
        junit_.addError(why, why);
    duration_.stop();
    linkWait_.stop();
    idleWait_.stop();
    if (stopChip)
        session_->endRun(); // runEnded() completes the run
    else
        complete();
}

void Runner::complete() {
    tick_.stop();
    QStringList written;
    bool fileProblem = false;
    const QDir folder(options_.folder);
    const QString capture = session_->status().capturePath;
    if (const auto error = session_->closeWorkFolder()) {
        terminal_.message(QString::fromUtf8(session::WorkFolder::kLogFile) + QStringLiteral(": ") +
                          *error);
        fileProblem = true;
    } else {
        written << folder.filePath(QString::fromUtf8(session::WorkFolder::kLogFile));
    }
    if (options_.test == Test::CrashTest)
        written << folder.filePath(QString::fromUtf8(session::WorkFolder::kCrashResultFile));

    matcher_.settleAll();
    if (csv_.isOpen()) {
        if (const auto error = csv_.close()) {
            terminal_.message(QStringLiteral("--timing %1: %2").arg(options_.timingPath, *error));
            fileProblem = true;
        } else {
            written << options_.timingPath;
        }
    }
    if (!options_.junitPath.isEmpty()) {
        if (const auto error = junit_.write(options_.junitPath, suite(), now())) {
            terminal_.message(QStringLiteral("--junit %1: %2").arg(options_.junitPath, *error));
            fileProblem = true;
        } else {
            written << options_.junitPath;
        }
    }
    if (!options_.reportPath.isEmpty()) {
        const auto report = capture.isEmpty()
                                ? report::ReportOutcome{report::ReportOutcome::Fault::Capture,
                                                        QStringLiteral("the run has no capture"),
                                                        {}}
                                : report::writeReport({capture}, options_.reportPath,
                                                      QCoreApplication::applicationName() + u' ' +
                                                          QCoreApplication::applicationVersion());
        if (report.fault != report::ReportOutcome::Fault::None) {
            terminal_.message(
                QStringLiteral("--report %1: %2").arg(options_.reportPath, report.message));
            fileProblem = true;
        } else {
            written << options_.reportPath;
        }
    }
    if (fileProblem && (exitCode_ == kPassed || exitCode_ == kChipHung))
        exitCode_ = kFileProblem;

    terminal_.endProgress();
    const QByteArray text = summary(written).toUtf8();
    std::fwrite(text.constData(), 1, std::size_t(text.size()), summaryOut_);
    std::fflush(summaryOut_);
    // The last word of a run still goes out: the program ends when the
    // commands under way have, each within its time limit.
    if (onHang_ && onHang_->running() > 0) {
        terminal_.message(QStringLiteral("waiting for %1 --on-hang command(s) to end, at most %2 s")
                              .arg(onHang_->running())
                              .arg(double(onHang_->timeoutMs()) / 1000));
        connect(onHang_.get(), &EventCommand::idle, this, [this] { emit ended(exitCode_); });
        return;
    }
    emit ended(exitCode_);
}

void Runner::showProgress() {
    if (!ending_)
        terminal_.progress(progressLine(), now());
}

QString Runner::progressLine() const {
    const qint64 elapsed = now();
    QString line = testName(options_.test) + QStringLiteral("  ") + report::clockText(elapsed);
    std::optional<qint64> total = options_.durationMs;
    if (total)
        line += QStringLiteral(" of %1, %2 left")
                    .arg(report::clockText(*total), report::clockText(*total - elapsed));
    else
        line += QStringLiteral(", until stopped");
    line += QStringLiteral("  steps %1  hangs %2").arg(steps_).arg(hangs_);
    if (lastReply_)
        line += QStringLiteral("  last reply %1 %2 ago")
                    .arg(hexCode(*lastReply_), seconds(elapsed - lastReplyMs_));
    if (const auto median = frameToIdle_.percentile(50))
        line += QStringLiteral("  frame-to-idle median %1").arg(milliseconds(median));
    return line;
}

QString Runner::summary(const QStringList& written) const {
    const qint64 elapsed = now();
    const qint64 openSilence = framesSent_ ? elapsed - lastChipMs_ : 0;
    QString s = QStringLiteral("qav7120-run %1: %2, exit %3\n")
                    .arg(testName(options_.test), seconds(elapsed))
                    .arg(exitCode_);
    if (!resumedAfter_.isEmpty())
        s += QStringLiteral("resumed after: %1\n").arg(resumedAfter_);
    s += QStringLiteral("steps: %1\n").arg(steps_);
    s += QStringLiteral("hangs: %1\n").arg(hangs_);
    for (const QString& line : hangLines_)
        s += QStringLiteral("  ") + line + u'\n';
    if (hangLines_.size() >= kHangLinesKept)
        s += QStringLiteral("  (the first %1 lines; the work log has them all)\n")
                 .arg(kHangLinesKept);
    s += QStringLiteral("longest silence: %1\n")
             .arg(seconds(std::max(longestSilenceMs_, openSilence)));
    s += QStringLiteral("frame-to-idle: median %1, 99th %2, max %3, of %4 texts\n")
             .arg(milliseconds(frameToIdle_.percentile(50)),
                  milliseconds(frameToIdle_.percentile(99)), milliseconds(frameToIdle_.max()))
             .arg(frameToIdle_.count());
    s += QStringLiteral("files written:\n");
    for (const QString& file : written)
        s += QStringLiteral("  ") + QDir::toNativeSeparators(file) + u'\n';
    return s;
}

JUnitReport::Suite Runner::suite() const {
    const qint64 elapsed = now();
    auto value = [](const std::optional<qint64>& v) {
        return v ? QString::number(*v) : QStringLiteral("none");
    };
    JUnitReport::Suite suite;
    suite.name = QStringLiteral("qav7120-run ") + testName(options_.test);
    suite.timestamp = startedAt_.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    suite.seconds = double(elapsed) / 1000;
    auto& p = suite.properties;
    if (options_.usb) {
        p.append({QStringLiteral("link"), QStringLiteral("usb bridge")});
    } else {
        p.append({QStringLiteral("link"), QStringLiteral("serial")});
        p.append({QStringLiteral("port"), options_.port});
        p.append({QStringLiteral("device"), device_});
        p.append({QStringLiteral("baud"), QString::number(options_.baud)});
    }
    p.append({QStringLiteral("encoding"), encodingName(options_.encoding)});
    p.append({QStringLiteral("start"), startedAt_.toString(Qt::ISODate)});
    p.append({QStringLiteral("duration_s"), QString::number(double(elapsed) / 1000, 'f', 3)});
    p.append({QStringLiteral("steps"), QString::number(steps_)});
    p.append({QStringLiteral("hangs"), QString::number(hangs_)});
    p.append({QStringLiteral("mean_time_between_hangs_s"),
              hangs_ > 0 ? QString::number(double(elapsed) / 1000 / double(hangs_), 'f', 3)
                         : QStringLiteral("none")});
    p.append({QStringLiteral("frame_to_idle_median_ms"), value(frameToIdle_.percentile(50))});
    p.append({QStringLiteral("frame_to_idle_p99_ms"), value(frameToIdle_.percentile(99))});
    return suite;
}

} // namespace qav::runner
