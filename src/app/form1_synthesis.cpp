// The synthesis request, the encoding choice and the serial reply decoder.
#include "app/form1.h"
#include "link/frame_dispatcher.h"
#include "link/serial_port_service.h"
#include "protocol/serial_replies.h"
#include "synthesis/text_frame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace qav::app {

namespace {

// The line speed of a settings string such as "9600,N,8,1"; 0 when unreadable.
int baudRateOf(const QString& settings) {
    return settings.section(u',', 0, 0).toInt();
}

} // namespace

void Form1::Command6_Click() {
    state_.continueSynthesis = false;
    SendSelectionFrame(protocol::Command::Synthesize, std::uint8_t(state_.encodingCode));
}

// Speaks (or stores) the selection of Text3: selects the whole text when
// nothing is selected, cuts the selection to the chunk limit, converts it,
// logs the frame once and sends it in one or two pieces. Afterwards the
// selection covers exactly the text sent and the synthesise button is enabled.
void Form1::SendSelectionFrame(protocol::Command command, std::uint8_t parameter) {
    TextBox& text3 = *text3_;
    text3.setFocus();
    if (text3.selLength() == 0) {
        text3.setSelStart(0);
        text3.setSelLength(text3.length());
    }
    const QString selected = text3.selectedText();
    if (selected.isEmpty()) {
        Command6->setEnabled(true);
        return;
    }

    synthesis::TextFrameRequest request;
    request.command = command;
    request.parameter = parameter;
    request.encoding = protocol::Encoding(state_.encodingCode);
    request.chunkLimit = state_.chunkLimit;
    request.tableFolder =
        tableFolder_.isEmpty() ? QCoreApplication::applicationDirPath() : tableFolder_;
    const synthesis::TextFrame built = synthesis::buildTextFrame(selected, request);

    state_.textByteCount = built.measure.textByteCount;
    if (built.measure.shortened)
        text3.setSelLength(built.measure.length);
    if (built.status != synthesis::TextFrame::Status::Ok) {
        if (built.status == synthesis::TextFrame::Status::TableMissing)
            showMessage(QString::fromUtf8(synthesis::kTableMissingMessage));
        Command6->setEnabled(true);
        return;
    }

    const QByteArray& frame = built.frame;
    state_.frameBuffer = frame;
    state_.convertedFrameLength = int(frame.size());
    state_.lastFrameIndex = int(frame.size()) - 1;
    state_.frameByteCount = int(frame.size());
    // One log entry for the whole frame, even when it leaves in two writes.
    workLog_->appendFrame(frame);
    for (const QByteArray& piece : synthesis::splitFrame(frame))
        dispatcher_->dispatch(piece, int(piece.size()));

    text3.setFocus();
    Command6->setEnabled(true);
}

void Form1::Combo5_Click() {
    const int index = Combo5->currentIndex();
    if (index >= int(protocol::Encoding::Gb2312) && index <= int(protocol::Encoding::Utf16Be))
        state_.encodingCode = index;
}

void Form1::MSComm1_OnComm() {
    if (MSComm1->commEvent() != link::SerialPortService::EvReceive)
        return;
    if (!Check1->isChecked())
        return; // what arrived stays in the port until the box is ticked again
    if (!replyPause_) {
        replyPause_ = new QTimer(this);
        replyPause_->setSingleShot(true);
        replyPause_->setTimerType(Qt::PreciseTimer);
        connect(replyPause_, &QTimer::timeout, this, [this] {
            const QByteArray received = MSComm1->input();
            for (const auto& line : protocol::decodeSerialReplies(received, state_.hexPrefix)) {
                workLog_->append(line.text);
                if (line.idle)
                    OnSerialIdleReply();
            }
        });
    }
    // Bytes that arrive during the pause are read with the others.
    if (!replyPause_->isActive())
        replyPause_->start(protocol::replyPauseMs(baudRateOf(MSComm1->settings())));
}

void Form1::OnSerialIdleReply() {
    if (state_.crashTagStep > 0 || state_.crashTextIndex > 0 || state_.crashLoopIndex > 0)
        Command25_Click();
    if (state_.continueSynthesis) {
        Command6_Click();
        if (state_.replayCount > 0)
            state_.continueSynthesis = true;
    }
}

} // namespace qav::app
