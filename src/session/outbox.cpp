#include "session/outbox.h"

#include "session/links.h"
#include "session/message_gate.h"
#include "session/text_buffer.h"
#include "session/work_folder.h"
#include "synthesis/text_frame.h"

#include <QCoreApplication>

namespace qav::session {

Outbox::Outbox(WorkFolder& folder, Links& links, TextBuffer& text, MessageGate& gate,
               QObject* parent)
    : QObject(parent), folder_(folder), links_(links), text_(text), gate_(gate) {}

void Outbox::setEncoding(int code) {
    if (code >= int(protocol::Encoding::Gb2312) && code <= int(protocol::Encoding::Utf16Be))
        encoding_ = code;
}

void Outbox::send(QByteArrayView frame) {
    if (frame.isEmpty())
        return;
    folder_.log().appendFrame(frame);
    const QByteArray bytes = frame.toByteArray();
    emit frameSent(bytes);
    links_.dispatch(bytes);
}

Outbox::SelectionSend Outbox::sendSelection(protocol::Command command, std::uint8_t parameter) {
    emit focusSendText();
    if (text_.selLength() == 0) {
        text_.setSelStart(0);
        text_.setSelLength(text_.length());
    }
    const QString selected = text_.selectedText();
    if (selected.isEmpty())
        return SelectionSend::Empty;

    synthesis::TextFrameRequest request;
    request.command = command;
    request.parameter = parameter;
    request.encoding = protocol::Encoding(encoding_);
    request.chunkLimit = links_.chunkLimit();
    request.tableFolder =
        tableFolder_.isEmpty() ? QCoreApplication::applicationDirPath() : tableFolder_;
    const synthesis::TextFrame built = synthesis::buildTextFrame(selected, request);

    if (built.measure.shortened)
        text_.setSelLength(built.measure.length);
    if (built.status == synthesis::TextFrame::Status::TableMissing) {
        gate_.show(QString::fromUtf8(synthesis::kTableMissingMessage));
        return SelectionSend::TableMissing;
    }
    if (built.status != synthesis::TextFrame::Status::Ok)
        return SelectionSend::Empty;

    // One log entry for the whole frame, even when it leaves in two writes.
    send(built.frame);
    emit focusSendText();
    return SelectionSend::Sent;
}

} // namespace qav::session
