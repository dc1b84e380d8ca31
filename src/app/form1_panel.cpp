// The speech-property panel, the hex send area, the demonstration loaders and
// the chip cache buttons.
#include "app/form1.h"
#include "demo/demo_texts.h"
#include "link/frame_dispatcher.h"
#include "synthesis/tag_frames.h"
#include "synthesis/text_frame.h"
#include "tools/cache_frames.h"
#include "tools/hex_parse.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

namespace qav::app {

namespace {

using synthesis::Language;

// Every frame built here is an array of exactly its own bytes.
void sendFrame(Form1& form, const QByteArray& frame) {
    form.state().frameBuffer = frame;
    form.state().lastFrameIndex = int(frame.size()) - 1;
    form.LogAndDispatch(frame);
}

void sendTag(Form1& form, const QByteArray& tag) {
    sendFrame(form, synthesis::tagFrame(tag));
}

void scrollBarChanged(Form1& form, char letter, const QScrollBar& bar) {
    // Any move of a bar stops continuous play, also one that sends nothing.
    form.state().continueSynthesis = false;
    if (!form.state().sliderTagsEnabled)
        return;
    sendTag(form, synthesis::scrollBarTag(letter, bar.value()));
}

// The language and reset buttons put the three bars back to their middle
// without a tag for each bar, then send their own tag alone.
void restoreBarsAndSend(Form1& form, const QByteArray& tag) {
    ConsoleState& state = form.state();
    state.continueSynthesis = false;
    state.sliderTagsEnabled = false;
    form.HScroll1->setValue(synthesis::kScrollBarDefault);
    form.HScroll3->setValue(synthesis::kScrollBarDefault);
    form.HScroll2->setValue(synthesis::kScrollBarDefault);
    state.sliderTagsEnabled = true;
    sendTag(form, tag);
}

} // namespace

// --- speech-property panel ---------------------------------------------------

void Form1::HScroll1_Change() {
    scrollBarChanged(*this, synthesis::kVolumeTag, *HScroll1);
}

void Form1::HScroll2_Change() {
    scrollBarChanged(*this, synthesis::kSpeedTag, *HScroll2);
}

void Form1::HScroll3_Change() {
    scrollBarChanged(*this, synthesis::kToneTag, *HScroll3);
}

// A change of speaker leaves a running continuous play alone.
void Form1::Combo4_Click() {
    const int entry = Combo4->currentIndex();
    if (entry < 0)
        return;
    sendTag(*this, synthesis::speakerTag(entry));
}

void Form1::Command18_Click() {
    restoreBarsAndSend(*this, synthesis::languageTag(Language::Automatic));
}

void Form1::Command19_Click() {
    restoreBarsAndSend(*this, synthesis::languageTag(Language::Chinese));
}

void Form1::Command21_Click() {
    restoreBarsAndSend(*this, synthesis::languageTag(Language::English));
}

void Form1::Command34_Click() {
    restoreBarsAndSend(*this, synthesis::resetTag());
}

// --- hex send area -----------------------------------------------------------

void Form1::Command29_Click() {
    state_.continueSynthesis = false;
    const tools::HexSend send = tools::directHexFrame(TextBox(*Text5).text());
    if (!send.message.isEmpty()) {
        showMessage(send.message);
        return;
    }
    if (!send.frame.isEmpty())
        sendFrame(*this, send.frame);
}

void Form1::Command30_Click() {
    state_.continueSynthesis = false;
    const int encoding = Combo5->currentIndex();
    const tools::HexSend send =
        tools::headerAddedHexFrame(TextBox(*Text5).text(), std::uint8_t(qMax(encoding, 0)));
    if (!send.message.isEmpty()) {
        showMessage(send.message);
        return;
    }
    if (!send.frame.isEmpty())
        sendFrame(*this, send.frame);
}

void Form1::Command1_Click() {
    Text5->clear();
}

void Form1::SendFrameData(const QList<int>& values) {
    if (values.isEmpty())
        return;
    QByteArray frame(values.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < values.size(); ++i)
        frame[i] = char(values[i] & 0xFF);
    sendFrame(*this, frame);
}

// --- demonstration texts -------------------------------------------------------

// The loaders replace the send text and touch nothing else.
void Form1::Command17_Click() {
    sendText().setText(demo::englishChineseDemoText());
}

void Form1::Command31_Click() {
    sendText().setText(demo::chineseDemoText());
}

void Form1::Command32_Click() {
    sendText().setText(demo::promptSoundCatalogue());
}

// --- chip cache ----------------------------------------------------------------

// Stores the selection in the chip's cache from the chosen segment on. The
// text is cut, converted and split exactly as for synthesis; only the command
// and the parameter byte differ. The synthesise button stays disabled while
// the frame is built and sent.
void Form1::Command10_Click() {
    state_.continueSynthesis = false;
    Command6->setEnabled(false);
    SendSelectionFrame(protocol::Command::CacheStore, tools::cacheSegment(Combo6->currentIndex()));
}

void Form1::Command13_Click() {
    state_.continueSynthesis = false;
    sendFrame(*this, tools::cachePlayFrame(Combo7->currentIndex(), state_.encodingCode));
}

} // namespace qav::app
