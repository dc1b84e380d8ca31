// The serial link: port and line-settings choice, the link choice, a port
// that goes away, and the one-byte command buttons.
#include "app/form1.h"
#include "link/frame_dispatcher.h"
#include "link/serial_port_service.h"
#include "protocol/frame.h"

#include <QComboBox>
#include <array>

namespace qav::app {

namespace {
constexpr int kPortCount = 20;
// Line settings for the entries of the baud list, in list order.
constexpr std::array<const char*, 4> kLineSettings = {"4800,N,8,1", "9600,N,8,1", "57600,N,8,1",
                                                      "115200,N,8,1"};
} // namespace

void Form1::showPortMessage() {
    ++portMessagesShown_;
    showMessage(QString::fromUtf8(kPortMessage));
}

void Form1::Combo1_Click() {
    const int index = Combo1->currentIndex();
    if (index < 0 || index >= kPortCount) {
        showPortMessage();
        return;
    }
    state_.continueSynthesis = false;
    if (MSComm1->portOpen())
        MSComm1->close();
    state_.serialPortNumber = index + 1;
    MSComm1->setCommPort(state_.serialPortNumber);
    if (!MSComm1->open())
        showPortMessage();
}

void Form1::Combo2_Click() {
    const int index = Combo2->currentIndex();
    if (index < 0 || index >= int(kLineSettings.size()))
        return;
    MSComm1->setSettings(QString::fromLatin1(kLineSettings[std::size_t(index)]));
}

void Form1::Option3_Click() {
    state_.chunkLimit = kSerialChunkLimit;
    state_.useUsbLink = false;
    dispatcher_->setUseUsbLink(false);
}

// The adapter was pulled out or the device went away while open: the service
// has closed the port; say so once. A later port selection opens it again.
void Form1::onSerialDeviceLost() {
    showPortMessage();
}

void Form1::SendCommandFrame(std::uint8_t command) {
    QByteArray frame(4, '\0');
    frame[0] = char(state_.frameHeader);
    frame[1] = 0x00;
    frame[2] = 0x01;
    frame[3] = char(command);
    state_.lastFrameIndex = 3;
    LogAndDispatch(frame);
}

void Form1::Command7_Click() {
    StopTestSequences(); // interrupted play and the scripts end here too
    state_.continueSynthesis = false;
    SendCommandFrame(std::uint8_t(protocol::Command::Stop));
}
void Form1::Command8_Click() {
    SendCommandFrame(std::uint8_t(protocol::Command::Pause));
}
void Form1::Command9_Click() {
    SendCommandFrame(std::uint8_t(protocol::Command::Resume));
}
void Form1::Command28_Click() {
    SendCommandFrame(std::uint8_t(protocol::Command::QueryStatus));
}
void Form1::Command5_Click() {
    SendCommandFrame(std::uint8_t(protocol::Command::Standby));
}
void Form1::Command11_Click() {
    SendCommandFrame(std::uint8_t(protocol::Command::WakeUp));
}
void Form1::Command12_Click() {
    SendCommandFrame(std::uint8_t(protocol::Command::QueryVersion));
}

} // namespace qav::app
