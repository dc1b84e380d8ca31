// The link controls, the one-byte command buttons, the synthesise button and
// the encoding choice.
#include "app/form1.h"
#include "session/run_tests.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <array>

namespace qav::app {

void Form1::Combo1_Click() {
    session_->selectPort(QStringLiteral("COM%1").arg(Combo1->currentIndex() + 1));
}

void Form1::Combo2_Click() {
    // The entries of the baud list, in list order.
    const int index = Combo2->currentIndex();
    if (index < 0 || index >= int(session::kBaudRates.size()))
        return;
    session_->setLineSettings(
        QStringLiteral("%1,N,8,1").arg(session::kBaudRates[std::size_t(index)]));
}

// Called from code while the other option is selected, the handler selects
// its own option first, which runs it again: the window always shows the
// active link.
void Form1::Option3_Click() {
    if (!Option3->isChecked()) {
        Option3->setChecked(true);
        return;
    }
    session_->useUsbLink(false);
}

void Form1::Option4_Click() {
    if (!Option4->isChecked()) {
        Option4->setChecked(true);
        return;
    }
    session_->useUsbLink(true);
}

void Form1::Check1_Click() {
    session_->setRepliesDecoded(Check1->isChecked());
}

void Form1::Command7_Click() {
    session_->stop();
}
void Form1::Command8_Click() {
    sendCommand(protocol::Command::Pause);
}
void Form1::Command9_Click() {
    sendCommand(protocol::Command::Resume);
}
void Form1::Command28_Click() {
    sendCommand(protocol::Command::QueryStatus);
}
void Form1::Command5_Click() {
    sendCommand(protocol::Command::Standby);
}
void Form1::Command11_Click() {
    sendCommand(protocol::Command::WakeUp);
}
void Form1::Command12_Click() {
    sendCommand(protocol::Command::QueryVersion);
}

void Form1::sendCommand(protocol::Command command) {
    session_->sendFrame(protocol::commandFrame(command));
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
