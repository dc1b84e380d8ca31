// The test tools: continuous play and its countdown, interrupted play and the
// two scripts on the step player, and the crash test. The sequences never
// block: the player runs a step, then waits on a timer for the next, so the
// window stays responsive and "停止" ends them at once.
#include "demo/demo_texts.h"
#include "session/console_session.h"
#include "session/send_text.h"
#include "tools/continuous_play.h"
#include "tools/crash_test.h"
#include "tools/test_steps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <utility>

namespace qav::session {

namespace {
constexpr const char* kUnreadableCrashText = "无法读取测试文本文件：";
constexpr const char* kResultFileNotOpened = "死机测试结果文件未能打开：";
constexpr const char* kResultFileNotWritten = "死机测试结果未能写入文件：";
constexpr const char* kRunGoesOn = "测试继续进行，工作记录照常记录每一步。";
constexpr const char* kNotAFile = "not a plain file";
} // namespace

// --- continuous play ---

bool ConsoleSession::startContinuousPlay(std::optional<double> seconds) {
    if (seconds) {
        state_.replayCount = *seconds;
        countdown_.start();
    }
    if (state_.replayCount <= 0) {
        showMessage(QString::fromUtf8(tools::kWholeNumberMessage));
        return false;
    }
    synthesize();
    state_.continueSynthesis = true;
    return true;
}

void ConsoleSession::countDown() {
    if (!tools::countDown(state_.replayCount)) {
        state_.continueSynthesis = false;
        countdown_.stop();
    }
}

// --- interrupted play and the scripts ---

void ConsoleSession::toggleSequence(Sequence which, int baseMs, int passes) {
    if (which == Sequence::None || which == active_) {
        stopSequences();
        return;
    }
    tools::StepList steps;
    switch (which) {
    case Sequence::InterruptedPlay:
        steps = tools::interruptedPlayCycle(baseMs, passes);
        break;
    case Sequence::Script123:
        steps = tools::script123();
        break;
    case Sequence::Script45:
        steps = tools::script45(state_.chunkLimit);
        break;
    case Sequence::None:
        break;
    }
    active_ = which;
    gate_.beginRun();
    player_.start(steps, [this](const tools::TestStep& step) { performStep(step); });
    if (!player_.isRunning())
        stopSequences();
}

void ConsoleSession::performStep(const tools::TestStep& step) {
    switch (step.action) {
    case tools::StepAction::SendFrame:
        sendFrame(step.frame);
        break;
    case tools::StepAction::Synthesize:
        synthesize();
        break;
    case tools::StepAction::LoadEnglishChineseText:
        loadEnglishChineseText();
        break;
    }
}

void ConsoleSession::stopSequences() {
    if (active_ != Sequence::None)
        gate_.endRun();
    active_ = Sequence::None;
    player_.stop();
}

void ConsoleSession::loadEnglishChineseText() {
    if (sendText_)
        sendText_->setText(demo::englishChineseDemoText());
}

// --- crash test ---

bool ConsoleSession::openCrashResultFile(const QString& path) {
    // Not when something other than a plain file has that name. Unbuffered:
    // each line goes to the system as it is written, and a failure shows.
    // Why it could not be opened is said at the first crash step.
    crashResults_ = std::make_unique<QFile>(path);
    crashResultsProblem_.clear();
    crashResultsWriteReported_ = false;
    const QFileInfo info(*crashResults_);
    QString reason;
    if (info.exists() && !info.isFile())
        reason = info.isDir() ? qt_error_string(EISDIR) : QString::fromLatin1(kNotAFile);
    else if (!crashResults_->open(QIODevice::WriteOnly | QIODevice::Truncate |
                                  QIODevice::Unbuffered))
        reason = crashResults_->errorString();
    if (reason.isEmpty())
        return true;
    crashResultsProblem_ = QString::fromUtf8(kResultFileNotOpened) + path + QStringLiteral("，") +
                           reason + QLatin1Char('\n') + QString::fromUtf8(kRunGoesOn);
    crashResults_.reset();
    return false;
}

void ConsoleSession::crashStep() {
    const tools::CrashCounters before = state_.crash;
    const QString fileName = tools::crashTextFileName(
        before.textIndex >= 0 && before.textIndex < tools::kCrashTexts ? before.textIndex : 0);
    const tools::CrashTextRead read = tools::readCrashText(
        QDir::current().filePath(fileName), tools::crashTextReadLimit(state_.chunkLimit));
    if (read.error) {
        // Once per file, not once per step: the test runs unattended.
        if (!unreadableCrashTexts_.contains(fileName)) {
            unreadableCrashTexts_.append(fileName);
            showMessage(QString::fromUtf8(kUnreadableCrashText) + fileName);
        }
    } else {
        unreadableCrashTexts_.removeAll(fileName);
    }

    const tools::CrashStep step = tools::planCrashStep(before, read.text);
    if (sendText_)
        sendText_->setText(step.sendText);

    // Written through to the system before the chip is given the text, so
    // the line survives a hang of the chip or the end of the console. A file
    // that could not be opened, or a line that could not be written, is said
    // once a run: the test goes on unattended.
    if (!crashResultsProblem_.isEmpty())
        showMessage(std::exchange(crashResultsProblem_, QString()));
    if (crashResults_ && crashResults_->isOpen()) {
        const QByteArray& line = step.resultGbk;
        qint64 done = 0;
        for (qint64 n = 0; done < line.size(); done += n) {
            n = crashResults_->write(line.constData() + done, line.size() - done);
            if (n <= 0)
                break; // the reason is the file's error now
        }
        const bool written = done == line.size() && crashResults_->flush();
        if (!written && !crashResultsWriteReported_) {
            crashResultsWriteReported_ = true;
            showMessage(QString::fromUtf8(kResultFileNotWritten) + crashResults_->fileName() +
                        QStringLiteral("，") + crashResults_->errorString() + QLatin1Char('\n') +
                        QString::fromUtf8(kRunGoesOn));
        }
    }

    state_.crash = step.next;
    synthesize();
}

} // namespace qav::session
