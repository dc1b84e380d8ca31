// The start of a run and what the session says while it goes on.
#include "runner/runner.h"

#include "link/hid_bridge.h"
#include "protocol/frame.h"
#include "session/console_session.h"
#include "session/crash_results.h"
#include "session/run_step.h"
#include "synthesis/conversion_table.h"
#include "synthesis/gbk_text.h"
#include "tools/crash_test.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <limits>

namespace qav::runner {

namespace {
// Continuous play without --duration: the window's duration box as it starts.
constexpr int kProgressEveryMs = 1000;

// A folder, or the folder a file is written into, where files can be made.
std::optional<QString> writableTarget(const QString& path, const QString& option) {
    const QFileInfo file(path);
    const QFileInfo dir(file.absolutePath());
    if (file.isDir())
        return QStringLiteral("%1 %2 is a folder").arg(option, path);
    if (!dir.isDir() || !dir.isWritable())
        return QStringLiteral("%1 %2: cannot write into %3")
            .arg(option, path, QDir::toNativeSeparators(dir.filePath()));
    if (file.exists() && !file.isWritable())
        return QStringLiteral("%1 %2 cannot be written").arg(option, path);
    return std::nullopt;
}

session::ConsoleSession::Options sessionOptions(const RunOptions& run) {
    session::ConsoleSession::Options options;
    if (run.silenceMs)
        options.silenceMs = *run.silenceMs;
    return options;
}
} // namespace

Runner::Runner(RunOptions options, std::unique_ptr<link::HidBridge> bridge, Terminal& terminal,
               std::FILE* summaryOut, QObject* parent)
    : QObject(parent), options_(std::move(options)), terminal_(terminal), summaryOut_(summaryOut),
      sink_(terminal), bridge_(std::move(bridge)),
      matcher_([this](const FrameTiming& t) { onSettled(t); }) {
    if (!options_.onHang.isEmpty())
        onHang_ =
            std::make_unique<EventCommand>(options_.onHang, options_.onHangTimeoutMs, terminal_);
    duration_.setSingleShot(true);
    linkWait_.setSingleShot(true);
    idleWait_.setSingleShot(true);
    tick_.setInterval(kProgressEveryMs);
    connect(&duration_, &QTimer::timeout, this, [this] { armDuration(); });
    connect(&linkWait_, &QTimer::timeout, this, [this] {
        finish(kLinkFailed, false,
               QStringLiteral("the link was lost and did not come back within %1 s")
                   .arg(double(options_.linkTimeoutMs) / 1000));
    });
    connect(&idleWait_, &QTimer::timeout, this, [this] { finish(passedOrHung(), true); });
    connect(&tick_, &QTimer::timeout, this, [this] { showProgress(); });
}

Runner::~Runner() = default;

bool Runner::usesSendText() const {
    return !session::testRules(options_.test).ownTexts;
}

// Everything the test reads must be there, and everything it writes must be
// writable, before the run touches the working folder.
std::optional<QString> Runner::checkFiles() {
    const QFileInfo folder(options_.folder);
    if (!folder.isDir())
        return QStringLiteral("the working folder %1 does not exist").arg(options_.folder);
    if (!folder.isWritable())
        return QStringLiteral("the working folder %1 cannot be written").arg(options_.folder);
    if (!options_.junitPath.isEmpty())
        if (auto why = writableTarget(options_.junitPath, QStringLiteral("--junit")))
            return why;
    if (!options_.timingPath.isEmpty())
        if (auto why = writableTarget(options_.timingPath, QStringLiteral("--timing")))
            return why;
    if (!options_.reportPath.isEmpty())
        if (auto why = writableTarget(options_.reportPath, QStringLiteral("--report")))
            return why;
    if (options_.test == Test::CrashTest) {
        QStringList missing;
        for (int i = 0; i < tools::kCrashTexts; ++i) {
            const QFileInfo text(QDir(options_.folder).filePath(tools::crashTextFileName(i)));
            if (!text.isFile() || !text.isReadable())
                missing << text.fileName();
        }
        if (!missing.isEmpty())
            return QStringLiteral("the crash test needs %1 to %2 in %3; missing or unreadable: %4")
                .arg(tools::crashTextFileName(0), tools::crashTextFileName(tools::kCrashTexts - 1),
                     options_.folder, missing.join(QStringLiteral(", ")));
        if (options_.resume)
            if (auto why = readResume())
                return why;
    }
    if (usesSendText())
        if (auto why = readSendText())
            return why;
    // BIG5 and UTF-16 are converted through the table beside the program.
    const bool converted = options_.encoding >= int(protocol::Encoding::Big5);
    if (converted && options_.test != Test::Script123 &&
        !synthesis::ConversionTable::load(QCoreApplication::applicationDirPath()))
        return QStringLiteral("--encoding %1 needs the conversion table %2, missing or damaged")
            .arg(encodingName(options_.encoding),
                 synthesis::ConversionTable::pathIn(QCoreApplication::applicationDirPath()));
    // Last, so that a run refused for another reason leaves no files behind.
    if (!options_.junitPath.isEmpty())
        if (auto why = junit_.open(QStringLiteral("qav7120.") + testName(options_.test)))
            return QStringLiteral("--junit: no spool file: %1").arg(*why);
    if (!options_.timingPath.isEmpty())
        if (auto why = csv_.open(options_.timingPath))
            return QStringLiteral("--timing %1: %2").arg(options_.timingPath, *why);
    return std::nullopt;
}

// --resume: the crash test goes on after the result file's last step line,
// and the run's counts go on from the file's. A file with nothing of a crash
// test in it is left alone.
std::optional<QString> Runner::readResume() {
    const QString file =
        QDir(options_.folder).filePath(QString::fromUtf8(session::WorkFolder::kCrashResultFile));
    const QString path = QDir::toNativeSeparators(file);
    session::CrashProgress progress;
    if (const auto why = session::CrashResults::readProgress(file, kHangLinesKept, progress))
        return QStringLiteral("--resume: %1: %2").arg(path, *why);
    if (!progress.next &&
        (progress.otherLines > 0 || progress.hangs > 0 || !progress.verdicts.isEmpty()))
        return QStringLiteral("--resume: %1 has no step line of a crash test; it is left as it is")
            .arg(path);
    if (progress.tornBytes > 0)
        terminal_.message(QStringLiteral("--resume: the last line of %1 was cut off (%2 bytes) "
                                         "and is dropped; the test goes on after the line "
                                         "before it")
                              .arg(path)
                              .arg(progress.tornBytes));
    if (!progress.next) {
        terminal_.message(
            QStringLiteral("--resume: no step in %1 yet; the test starts at step 1").arg(path));
        return std::nullopt;
    }
    crashResume_ = session::SessionOptions::CrashResume{*progress.next, progress.wholeBytes};
    resumedAfter_ = progress.lastStep;
    steps_ = progress.steps;
    hangs_ = progress.hangs;
    hangLines_ = progress.verdicts;
    terminal_.message(QStringLiteral("--resume: going on after step %1, %2")
                          .arg(progress.steps)
                          .arg(progress.lastStep));
    return std::nullopt;
}

// The send text of --say or --text; without them the initial text file of
// the working folder, read later as the window reads it. A text file is
// taken as UTF-8 when it is valid UTF-8, else as GBK, the window's files.
std::optional<QString> Runner::readSendText() {
    if (options_.say) {
        sendText_ = *options_.say;
        return std::nullopt;
    }
    if (options_.textFile.isEmpty()) {
        const QFileInfo initial(
            QDir(options_.folder)
                .filePath(QString::fromUtf8(session::WorkFolder::kInitialTextFile)));
        if (!initial.isFile() || !initial.isReadable() || initial.size() == 0)
            return QStringLiteral("no text to send: %1 is missing or empty; give --text or --say")
                .arg(initial.filePath());
        return std::nullopt;
    }
    QFile file(options_.textFile);
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("--text %1: %2")
            .arg(options_.textFile,
                 file.exists() ? file.errorString() : QStringLiteral("no such file"));
    const QByteArray bytes = file.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    sendText_ = utf8.decode(bytes);
    if (utf8.hasError())
        sendText_ = synthesis::fromGbk(bytes);
    if (sendText_.isEmpty())
        return QStringLiteral("--text %1 is empty").arg(options_.textFile);
    return std::nullopt;
}

void Runner::start() {
    startedAt_ = QDateTime::currentDateTime();
    clock_.start();
    if (const auto why = checkFiles())
        return endEarly(kFileProblem, *why);
    // The window works in the current folder: its ports (COMn entries) are
    // looked for there.
    if (!QDir::setCurrent(options_.folder))
        return endEarly(kFileProblem,
                        QStringLiteral("cannot work in the folder %1").arg(options_.folder));

    session::SessionOptions sessionSetup = sessionOptions(options_);
    sessionSetup.crashResume = crashResume_;
    session_ = std::make_unique<session::ConsoleSession>(sink_, std::move(bridge_), sessionSetup);
    session_->openWorkFolder(options_.folder);
    if (usesSendText() && sendText_.isEmpty())
        session_->loadInitialText();
    else if (usesSendText())
        session_->sendText().setText(sendText_);
    session_->setHexPrefixShown(false);
    session_->setEncoding(options_.encoding);
    connectSession();
    tick_.start();
    if (!openLink())
        return finish(kLinkFailed, false, QStringLiteral("the link could not be opened"));
    device_ = session_->status().portName;
    if (usesSendText() && session_->sendText().length() == 0)
        return finish(kFileProblem, false, QStringLiteral("no text to send"));
    startTest();
}

bool Runner::openLink() {
    if (options_.usb) {
        session_->useUsbLink(true);
        return session_->status().linkOpen;
    }
    session_->useUsbLink(false);
    session_->setLineSettings(QStringLiteral("%1,N,8,1").arg(options_.baud));
    return session_->selectPort(
        options_.comNumber > 0 ? QStringLiteral("COM%1").arg(options_.comNumber) : options_.device);
}

void Runner::connectSession() {
    using S = session::ConsoleSession;
    S* s = session_.get();
    connect(s, &S::frameSent, this, &Runner::onFrameSent);
    connect(s, &S::replyLogged, this, &Runner::onReply);
    connect(s, &S::stepStarted, this, &Runner::onStep);
    connect(s, &S::chipHangRecorded, this, &Runner::onHang);
    connect(s, &S::chipRecoveryRecorded, this, &Runner::onRecovery);
    connect(s, &S::linkLost, this, [this] {
        if (!ending_)
            linkWait_.start(
                int(std::min<qint64>(options_.linkTimeoutMs, std::numeric_limits<int>::max())));
    });
    connect(s, &S::linkBack, this, [this] { linkWait_.stop(); });
    connect(s, &S::runEnded, this, [this] { complete(); });
    connect(s, &S::spoken, this, [this] {
        if (!ending_)
            finish(passedOrHung(), false);
    });
    connect(s, &S::continuousPlayEnded, this, [this] {
        // The round under way plays out; its idle reply ends the run.
        continuousEnded_ = true;
        idleWait_.start(sessionOptions(options_).silenceMs);
    });
}

void Runner::startTest() {
    using Sequence = session::ConsoleSession::Sequence;
    switch (options_.test) {
    case Test::CrashTest:
        if (crashResume_) {
            // The earlier run's hangs stay failures of this one.
            junit_.beginCase(QStringLiteral("before the resume: steps 1 to %1").arg(steps_), 0);
            for (const QString& line : std::as_const(hangLines_)) {
                if (session::CrashResults::isHangLine(line))
                    junit_.addFailure(line, line + QStringLiteral("\n(before the resume)"));
                else
                    junit_.recovered(line);
            }
        }
        session_->crashStep();
        break;
    case Test::ContinuousPlay:
        if (!session_->startContinuousPlay(options_.durationMs ? double(*options_.durationMs) / 1000
                                                               : session::kReplaySeconds))
            return finish(kUsage, false, QStringLiteral("continuous play did not start"));
        break;
    case Test::InterruptedPlay:
        session_->toggleSequence(Sequence::InterruptedPlay, options_.baseMs, options_.passes);
        break;
    case Test::Script123:
        session_->toggleSequence(Sequence::Script123);
        break;
    case Test::Script45:
        session_->toggleSequence(Sequence::Script45);
        break;
    case Test::Speak:
        ++steps_;
        stepName_ = QString::fromUtf8(kSpeakStep);
        junit_.beginCase(stepName_, now());
        if (session_->speak() != session::ConsoleSession::SelectionSend::Sent)
            return finish(kFileProblem, false, QStringLiteral("the text could not be sent"));
        break;
    }
    if (options_.test != Test::ContinuousPlay && options_.durationMs) {
        deadlineMs_ = now() + *options_.durationMs;
        armDuration();
    }
}

// One timer holds at most about 24 days; a longer run is timed in turns.
void Runner::armDuration() {
    const qint64 left = deadlineMs_ - now();
    if (left > 0) {
        duration_.start(int(std::min<qint64>(left, std::numeric_limits<int>::max() / 2)));
        return;
    }
    if (options_.test == Test::Speak) {
        junit_.addFailure(QStringLiteral("no idle reply within --duration"),
                          QStringLiteral("no idle reply within --duration\n") +
                              recent_.lines().join(u'\n'));
        return finish(kChipHung, true, QStringLiteral("no idle reply within --duration"));
    }
    finish(passedOrHung(), true);
}

void Runner::onFrameSent(const QByteArray& frame) {
    if (!framesSent_) {
        framesSent_ = true;
        lastChipMs_ = now();
    }
    matcher_.frameSent(frame, stepName_, QDateTime::currentDateTime(), now());
    recent_.frame(QDateTime::currentMSecsSinceEpoch(), frame);
}

void Runner::onReply(std::uint8_t code) {
    const qint64 t = now();
    matcher_.reply(code, t);
    recent_.reply(QDateTime::currentMSecsSinceEpoch(), code);
    longestSilenceMs_ = std::max(longestSilenceMs_, t - lastChipMs_);
    lastChipMs_ = t;
    lastReply_ = code;
    lastReplyMs_ = t;
    if (ending_ || code != protocol::reply::kIdle)
        return;
    // Continuous play's last round ends at its idle reply.
    if (continuousEnded_)
        finish(passedOrHung(), false);
}

void Runner::onStep(const session::RunStep& step) {
    ++steps_;
    stepName_ = step.name;
    if (step.unit != unit_ || !junit_.hasCase()) {
        unit_ = step.unit;
        junit_.beginCase(unit_, now());
    }
}

void Runner::onHang(const QString& line) {
    ++hangs_;
    // A single synthesis has no step after it to go on with.
    if (options_.test == Test::Speak)
        QTimer::singleShot(0, this,
                           [this] { finish(kChipHung, true, QStringLiteral("the chip hung")); });
    if (hangLines_.size() < kHangLinesKept)
        hangLines_ << line;
    junit_.addFailure(line, line + QStringLiteral("\nthe last frames before it:\n") +
                                recent_.lines().join(u'\n'));
    announce(QStringLiteral("hang"), line);
}

void Runner::onRecovery(const QString& line) {
    if (hangLines_.size() < kHangLinesKept)
        hangLines_ << line;
    junit_.recovered(line);
    announce(QStringLiteral("recovered"), line);
}

// --on-hang: the word goes out now; the run does not wait for it.
void Runner::announce(const QString& event, const QString& line) {
    if (!onHang_)
        return;
    onHang_->run({
        {QStringLiteral("QAV7120_EVENT"), event},
        {QStringLiteral("QAV7120_LINE"), line},
        {QStringLiteral("QAV7120_TEST"), testName(options_.test)},
        {QStringLiteral("QAV7120_PORT"), options_.usb ? QStringLiteral("USB") : options_.port},
        {QStringLiteral("QAV7120_DEVICE"), device_},
        {QStringLiteral("QAV7120_STEP"), QString::number(steps_)},
        {QStringLiteral("QAV7120_STEP_NAME"), stepName_},
        {QStringLiteral("QAV7120_HANGS"), QString::number(hangs_)},
        {QStringLiteral("QAV7120_CAPTURE"),
         QDir::toNativeSeparators(session_->status().capturePath)},
        {QStringLiteral("QAV7120_FOLDER"), QDir::toNativeSeparators(options_.folder)},
    });
}

void Runner::onSettled(const FrameTiming& timing) {
    csv_.write(timing);
    using protocol::Command;
    const bool spoken = timing.command == std::uint8_t(Command::Synthesize) ||
                        timing.command == std::uint8_t(Command::CachePlay);
    if (spoken && timing.msToIdle)
        frameToIdle_.add(*timing.msToIdle);
}

} // namespace qav::runner
