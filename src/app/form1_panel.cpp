// The speech-property panel, the hex send area, the demonstration loaders and
// the chip cache buttons.
#include "app/form1.h"
#include "demo/demo_texts.h"
#include "synthesis/tag_frames.h"
#include "tools/cache_frames.h"
#include "tools/hex_parse.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

namespace qav::app {

namespace {
using synthesis::Language;
} // namespace

// --- speech-property panel ---------------------------------------------------

void Form1::sendTag(const QByteArray& tag) {
    session_->sendFrame(synthesis::tagFrame(tag));
}

// Any move of a bar stops continuous play, also one that sends nothing.
void Form1::HScroll1_Change() {
    session_->interruptPlay();
    if (sliderTagsEnabled)
        sendTag(synthesis::scrollBarTag(synthesis::kVolumeTag, HScroll1->value()));
}

void Form1::HScroll2_Change() {
    session_->interruptPlay();
    if (sliderTagsEnabled)
        sendTag(synthesis::scrollBarTag(synthesis::kSpeedTag, HScroll2->value()));
}

void Form1::HScroll3_Change() {
    session_->interruptPlay();
    if (sliderTagsEnabled)
        sendTag(synthesis::scrollBarTag(synthesis::kToneTag, HScroll3->value()));
}

// A change of speaker leaves a running continuous play alone.
void Form1::Combo4_Click() {
    const int entry = Combo4->currentIndex();
    if (entry >= 0)
        sendTag(synthesis::speakerTag(entry));
}

// The language and reset buttons put the three bars back to their middle
// without a tag for each bar, then send their own tag alone.
void Form1::restoreBarsAndSend(const QByteArray& tag) {
    session_->interruptPlay();
    sliderTagsEnabled = false;
    HScroll1->setValue(synthesis::kScrollBarDefault);
    HScroll3->setValue(synthesis::kScrollBarDefault);
    HScroll2->setValue(synthesis::kScrollBarDefault);
    sliderTagsEnabled = true;
    sendTag(tag);
}

void Form1::Command18_Click() {
    restoreBarsAndSend(synthesis::languageTag(Language::Automatic));
}

void Form1::Command19_Click() {
    restoreBarsAndSend(synthesis::languageTag(Language::Chinese));
}

void Form1::Command21_Click() {
    restoreBarsAndSend(synthesis::languageTag(Language::English));
}

void Form1::Command34_Click() {
    restoreBarsAndSend(synthesis::resetTag());
}

// --- hex send area -----------------------------------------------------------

void Form1::Command29_Click() {
    session_->interruptPlay();
    const tools::HexSend send = tools::directHexFrame(TextBox(*Text5).text());
    if (!send.message.isEmpty())
        showMessage(send.message);
    else
        session_->sendFrame(send.frame);
}

void Form1::Command30_Click() {
    session_->interruptPlay();
    const int encoding = Combo5->currentIndex();
    const tools::HexSend send =
        tools::headerAddedHexFrame(TextBox(*Text5).text(), std::uint8_t(qMax(encoding, 0)));
    if (!send.message.isEmpty())
        showMessage(send.message);
    else
        session_->sendFrame(send.frame);
}

void Form1::Command1_Click() {
    Text5->clear();
}

// --- demonstration texts -------------------------------------------------------

// The loaders replace the send text and touch nothing else.
void Form1::Command17_Click() {
    session_->sendText().setText(demo::englishChineseDemoText());
}

void Form1::Command31_Click() {
    sendText().setText(demo::chineseDemoText());
}

void Form1::Command32_Click() {
    sendText().setText(demo::promptSoundCatalogue());
}

// --- chip cache ----------------------------------------------------------------

// Stores the selection in the chip's cache from the chosen segment on. The
// synthesise button stays disabled while the frame is built and sent.
void Form1::Command10_Click() {
    Command6->setEnabled(false);
    session_->storeInCache(tools::cacheSegment(Combo6->currentIndex()));
    afterSelectionSend();
}

void Form1::Command13_Click() {
    session_->interruptPlay();
    session_->sendFrame(tools::cachePlayFrame(Combo7->currentIndex(), session_->status().encoding));
}

} // namespace qav::app
