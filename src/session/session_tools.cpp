// The test tools: continuous play and its countdown, interrupted play and the
// two scripts on the step player, and the crash test. The sequences never
// block: the player runs a step, then waits on a timer for the next, so the
// window stays responsive and "停止" ends them at once.
#include "demo/demo_texts.h"
#include "session/console_session.h"
#include "session/send_text.h"
#include "tools/continuous_play.h"
#include "tools/crash_test.h"
#include "tools/step_player.h"
#include "tools/test_steps.h"

#include <QDir>

namespace qav::session {

namespace {
constexpr const char* kUnreadableCrashText = "无法读取测试文本文件：";

QString sequenceName(ConsoleSession::Sequence which) {
    switch (which) {
    case ConsoleSession::Sequence::InterruptedPlay:
        return QStringLiteral("打断重播");
    case ConsoleSession::Sequence::Script123:
        return QStringLiteral("内测123");
    case ConsoleSession::Sequence::Script45:
        return QStringLiteral("内测45");
    case ConsoleSession::Sequence::None:
        break;
    }
    return QString();
}
} // namespace

void ConsoleSession::beginStep(RunStep step) {
    step_ = std::move(step);
    emit stepStarted(step_);
}

// --- continuous play ---

bool ConsoleSession::startContinuousPlay(std::optional<double> seconds) {
    if (seconds) {
        run_.replayCount = *seconds;
        run_.countdown->start();
    }
    if (run_.replayCount <= 0) {
        showMessage(QString::fromUtf8(tools::kWholeNumberMessage));
        return false;
    }
    run_.continuousRounds = 1;
    beginStep({RunStep::Kind::ContinuousRound, QStringLiteral("连续播放 第 1 轮"),
               QStringLiteral("第 1 轮")});
    synthesize();
    run_.continueSynthesis = true;
    return true;
}

void ConsoleSession::countDown() {
    if (tools::countDown(run_.replayCount))
        return;
    run_.continueSynthesis = false;
    run_.countdown->stop();
    emit continuousPlayEnded();
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
        steps = tools::script45(chunkLimit_);
        break;
    case Sequence::None:
        break;
    }
    active_ = which;
    gate_.beginRun();
    const qsizetype length = steps.size();
    player_->start(steps, [this, which, length](const tools::TestStep& step) {
        const qint64 done = player_->stepsRun() - 1; // this one counted already
        const qint64 pass = done / std::max<qsizetype>(length, 1) + 1;
        const qint64 number = done % std::max<qsizetype>(length, 1) + 1;
        beginStep({RunStep::Kind::SequenceStep,
                   QStringLiteral("%1 第 %2 遍 第 %3 步 %4")
                       .arg(sequenceName(which))
                       .arg(pass)
                       .arg(number)
                       .arg(step.label),
                   QStringLiteral("第 %1 遍").arg(pass)});
        performStep(step);
    });
    if (!player_->isRunning())
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
    player_->stop();
}

void ConsoleSession::loadEnglishChineseText() {
    if (sendText_)
        sendText_->setText(demo::englishChineseDemoText());
}

// --- crash test ---

void ConsoleSession::crashStep() {
    const tools::CrashCounters before = run_.crash;
    const QString fileName = tools::crashTextFileName(
        before.textIndex >= 0 && before.textIndex < tools::kCrashTexts ? before.textIndex : 0);
    const tools::CrashTextRead read = tools::readCrashText(QDir(folder_).filePath(fileName),
                                                           tools::crashTextReadLimit(chunkLimit_));
    if (read.error) {
        // Once per file, not once per step: the test runs unattended.
        if (!unreadableCrashTexts_.contains(fileName)) {
            unreadableCrashTexts_.append(fileName);
            gate_.show(QString::fromUtf8(kUnreadableCrashText) + fileName, {}, MessageGate::Notice);
        }
    } else {
        unreadableCrashTexts_.removeAll(fileName);
    }

    const tools::CrashStep step = tools::planCrashStep(before, read.text);
    if (sendText_)
        sendText_->setText(step.sendText);
    // Written through to the system before the chip is given the text, so
    // the line survives a hang of the chip or the end of the console.
    writeCrashResult(step.resultGbk);

    beginStep({RunStep::Kind::CrashStep, QStringLiteral("死机测试 ") + step.name, step.unit});
    run_.crash = step.next;
    synthesize();
}

} // namespace qav::session
