// Opening and closing the window, the work log's own controls, and the
// handlers that only edit text boxes.
#include "app/form1.h"
#include "tools/continuous_play.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <algorithm>

namespace qav::app {

namespace {
constexpr int kGbkIndex = 1;
constexpr int kBaud9600Index = 1;
constexpr int kPwmOutputIndex = 1;
} // namespace

// Start-up: the run's records in the current folder, the initial text, the
// link the option buttons choose, the encoding, the line and COM1.
void Form1::Form_Load() {
    session_->openWorkFolder(QDir::currentPath());
    session_->loadInitialText();

    if (Option3->isChecked())
        session_->useUsbLink(false);
    if (Option4->isChecked())
        session_->useUsbLink(true);

    session_->setHexPrefixShown(false);
    session_->interruptPlay();
    Check2->setChecked(true);
    Check3->setChecked(true);
    sliderTagsEnabled = true;

    Combo5->setCurrentIndex(kGbkIndex);
    Combo5_Click();
    Combo2->setCurrentIndex(kBaud9600Index);
    Combo2_Click();

    // COM1 is opened by its port selection, which says so when it fails.
    Combo3->setCurrentIndex(kPwmOutputIndex);
    Combo1->setCurrentIndex(0);
    Combo1_Click();
    Combo6->setCurrentIndex(0);
    Combo7->setCurrentIndex(0);
}

bool Form1::Form_Unload() {
    const auto error = session_->closeWorkFolder();
    exportError_ = error.value_or(QString());
    return !error;
}

void Form1::Command15_Click() {
    text3_->setText(QString());
}

void Form1::Text2_Change() {
    const QString text = Text2->toPlainText();
    const bool digitsOnly =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (digitsOnly)
        return;
    showMessage(QString::fromUtf8(tools::kWholeNumberMessage));
    Text2->setPlainText(QString());
}

void Form1::Check5_Click() {
    session_->setHexPrefixShown(Check5->isChecked());
}

void Form1::Command2_Click() {
    session_->clearWorkLog();
}

} // namespace qav::app
