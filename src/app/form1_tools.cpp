// Test tools: continuous and interrupted play, the playback test text, the
// crash test and the two timing scripts. The session plays them; each
// sequence's button pressed again stops it, as do "停止" and closing the window.
#include "app/form1.h"
#include "tools/continuous_play.h"
#include "tools/playback_text.h"
#include "tools/test_steps.h"

#include <QLineEdit>
#include <QPlainTextEdit>

namespace qav::app {

using Sequence = session::ConsoleSession::Sequence;

void Form1::Command3_Click() {
    session_->startContinuousPlay(tools::readReplaySeconds(Text2->toPlainText()));
}

void Form1::Command16_Click() {
    text3_->setText(tools::playbackTestText());
}

void Form1::Command23_Click() {
    if (session_->status().sequence == Sequence::InterruptedPlay) {
        session_->toggleSequence(Sequence::None);
        return;
    }
    const auto base = tools::readInterruptSetting(Text6->text());
    const auto passes = tools::readInterruptSetting(Text7->text());
    if (!base || !passes) {
        showMessage(QString::fromUtf8(tools::kWholeNumberMessage));
        return;
    }
    session_->toggleSequence(Sequence::InterruptedPlay, *base, *passes);
}

void Form1::Command14_Click() {
    session_->toggleSequence(Sequence::Script123);
}

void Form1::Command22_Click() {
    session_->toggleSequence(Sequence::Script45);
}

void Form1::Command25_Click() {
    session_->crashStep();
}

} // namespace qav::app
