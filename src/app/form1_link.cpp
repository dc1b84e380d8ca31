// The link controls, the one-byte command buttons, the synthesise button and
// the encoding choice.
#include "app/form1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <array>

namespace qav::app {

namespace {
// Line settings for the entries of the baud list, in list order.
constexpr std::array<const char*, 4> kLineSettings = {"4800,N,8,1", "9600,N,8,1", "57600,N,8,1",
                                                      "115200,N,8,1"};
} // namespace

void Form1::Combo1_Click() {
    session_->selectPort(Combo1->currentIndex());
}

void Form1::Combo2_Click() {
    const int index = Combo2->currentIndex();
    if (index < 0 || index >= int(kLineSettings.size()))
        return;
    session_->setLineSettings(QString::fromLatin1(kLineSettings[std::size_t(index)]));
}

// Called from code while the other option is selected, the handler selects
// its own option first, which runs it again: the window always shows the
// active link.
void Form1::Option3_Click() {
    if (!Option3->isChecked()) {
        Option3->setChecked(true);
        return;
    }
    session_->chooseSerialLink();
}

void Form1::Option4_Click() {
    if (!Option4->isChecked()) {
        Option4->setChecked(true);
        return;
    }
    session_->chooseUsbLink();
}

void Form1::Check1_Click() {
    session_->setRepliesDecoded(Check1->isChecked());
}

void Form1::Command7_Click() {
    session_->stop();
}
void Form1::Command8_Click() {
    session_->sendCommand(protocol::Command::Pause);
}
void Form1::Command9_Click() {
    session_->sendCommand(protocol::Command::Resume);
}
void Form1::Command28_Click() {
    session_->sendCommand(protocol::Command::QueryStatus);
}
void Form1::Command5_Click() {
    session_->sendCommand(protocol::Command::Standby);
}
void Form1::Command11_Click() {
    session_->sendCommand(protocol::Command::WakeUp);
}
void Form1::Command12_Click() {
    session_->sendCommand(protocol::Command::QueryVersion);
}

void Form1::Command6_Click() {
    session_->synthesize();
    afterSelectionSend();
}

void Form1::afterSelectionSend() {
    text3_->setFocus();
    Command6->setEnabled(true);
}

void Form1::Combo5_Click() {
    session_->setEncoding(Combo5->currentIndex());
}

} // namespace qav::app
