// Test tools: continuous and interrupted play, the playback test text, the
// crash test and the two timing scripts. The sequences run on a timer-driven
// step player, so the window stays responsive and each can be stopped: by
// its button pressed again, by "停止", or by closing the window.
#include "app/form1.h"
#include "tools/continuous_play.h"
#include "tools/crash_test.h"
#include "tools/playback_text.h"
#include "tools/step_player.h"
#include "tools/test_steps.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <functional>

namespace qav::app {

namespace {

constexpr const char* kUnreadableCrashText = "无法读取测试文本文件：";
constexpr const char* kSequencePlayerName = "testSequencePlayer";
constexpr const char* kCloseWatchName = "testSequenceCloseWatch";

// Stops the test sequences when the window is asked to close.
class CloseWatch : public QObject {
public:
    CloseWatch(QObject* window, std::function<void()> onClose)
        : QObject(window), onClose_(std::move(onClose)) {
        setObjectName(QString::fromLatin1(kCloseWatchName));
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close && watched == parent())
            onClose_();
        return false;
    }

private:
    std::function<void()> onClose_;
};

// The window's one step player; a test may put its own in place first (same
// object name) to play the sequences under a time scale.
tools::StepPlayer* sequencePlayer(QObject* window) {
    const QString name = QString::fromLatin1(kSequencePlayerName);
    auto* player = window->findChild<tools::StepPlayer*>(name, Qt::FindDirectChildrenOnly);
    if (!player) {
        player = new tools::StepPlayer(window);
        player->setObjectName(name);
    }
    return player;
}

QList<int> frameValues(const QByteArray& frame) {
    QList<int> values;
    values.reserve(frame.size());
    for (const char b : frame)
        values.append(static_cast<unsigned char>(b));
    return values;
}

} // namespace

// --- continuous play ---

void Form1::Command3_Click() {
    if (const auto seconds = tools::readReplaySeconds(Text2->toPlainText())) {
        state_.replayCount = *seconds;
        Timer1->start();
    }
    if (state_.replayCount > 0) {
        Command6_Click();
        state_.continueSynthesis = true;
    } else {
        showMessage(QString::fromUtf8(tools::kWholeNumberMessage));
    }
}

void Form1::Timer1_Timer() {
    if (!tools::countDown(state_.replayCount)) {
        state_.continueSynthesis = false;
        Timer1->stop();
    }
}

void Form1::Command16_Click() {
    text3_->setText(tools::playbackTestText());
}

// --- interrupted play and the scripts ---

void Form1::Command23_Click() {
    if (activeSequence_ == TestSequence::InterruptedPlay) {
        StopTestSequences();
        return;
    }
    const auto base = tools::readInterruptSetting(Text6->text());
    const auto passes = tools::readInterruptSetting(Text7->text());
    if (!base || !passes) {
        showMessage(QString::fromUtf8(tools::kWholeNumberMessage));
        return;
    }
    startTestSequence(TestSequence::InterruptedPlay, *base, *passes);
}

void Form1::Command14_Click() {
    if (activeSequence_ == TestSequence::Script123) {
        StopTestSequences();
        return;
    }
    startTestSequence(TestSequence::Script123);
}

void Form1::Command22_Click() {
    if (activeSequence_ == TestSequence::Script45) {
        StopTestSequences();
        return;
    }
    startTestSequence(TestSequence::Script45);
}

void Form1::startTestSequence(TestSequence which, int baseMs, int passes) {
    tools::StepList steps;
    switch (which) {
    case TestSequence::InterruptedPlay:
        steps = tools::interruptedPlayCycle(baseMs, passes);
        break;
    case TestSequence::Script123:
        steps = tools::script123();
        break;
    case TestSequence::Script45:
        steps = tools::script45(state_.chunkLimit);
        break;
    case TestSequence::None:
        break;
    }
    if (!findChild<QObject*>(QString::fromLatin1(kCloseWatchName), Qt::FindDirectChildrenOnly))
        new CloseWatch(this, [this] { StopTestSequences(); });
    activeSequence_ = which;
    sequencePlayer(this)->start(steps, [this](const tools::TestStep& step) {
        switch (step.action) {
        case tools::StepAction::SendFrame:
            SendFrameData(frameValues(step.frame));
            break;
        case tools::StepAction::Synthesize:
            Command6_Click();
            break;
        case tools::StepAction::LoadEnglishChineseText:
            Command17_Click();
            break;
        }
    });
    if (!sequencePlayer(this)->isRunning())
        activeSequence_ = TestSequence::None;
}

void Form1::StopTestSequences() {
    activeSequence_ = TestSequence::None;
    if (auto* player = findChild<tools::StepPlayer*>(QString::fromLatin1(kSequencePlayerName),
                                                     Qt::FindDirectChildrenOnly))
        player->stop();
}

// --- crash test ---

void Form1::Command25_Click() {
    const tools::CrashCounters before{state_.crashTagStep, state_.crashTextIndex,
                                      state_.crashLoopIndex};
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
    text3_->setText(step.sendText);

    // Written through to the system before the chip is given the text, so
    // the line survives a hang of the chip or the end of the console.
    if (QFile* results = crashResultFile(); results && results->isOpen()) {
        results->write(step.resultGbk);
        results->flush();
    }

    state_.crashTagStep = step.next.tagStep;
    state_.crashTextIndex = step.next.textIndex;
    state_.crashLoopIndex = step.next.loopIndex;
    Command6_Click();
}

} // namespace qav::app
