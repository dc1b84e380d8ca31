#pragma once
// The one road out of the console: a frame is logged once, handed on once to
// the active link (which captures it as it leaves), and announced once, so
// the logged bytes are the sent bytes. The synthesis request builds its
// frame here from the send text: the selection (all of it when nothing is
// selected), cut to the chunk limit and converted to the chosen encoding;
// afterwards the selection covers exactly the text sent.

#include "protocol/frame.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <cstdint>

namespace qav::session {

class Links;
class MessageGate;
class TextBuffer;
class WorkFolder;

class Outbox : public QObject {
    Q_OBJECT
public:
    enum class SelectionSend { Sent, Empty, TableMissing };

    Outbox(WorkFolder& folder, Links& links, TextBuffer& text, MessageGate& gate,
           QObject* parent = nullptr);

    // Where the conversion table is looked for; the program's own folder when empty.
    void setTableFolder(const QString& folder) { tableFolder_ = folder; }
    void setEncoding(int code); // 0 .. 4
    int encoding() const { return encoding_; }

    void send(QByteArrayView frame);
    // The selection of the send text in a frame of this command and parameter.
    SelectionSend sendSelection(protocol::Command command, std::uint8_t parameter);
    // The synthesis request: the selection in the chosen encoding.
    SelectionSend synthesize() {
        return sendSelection(protocol::Command::Synthesize, std::uint8_t(encoding_));
    }

signals:
    // Every frame as it is logged and sent.
    void frameSent(const QByteArray& frame);
    // A synthesis request gives the send text the focus.
    void focusSendText();

private:
    WorkFolder& folder_;
    Links& links_;
    TextBuffer& text_;
    MessageGate& gate_;
    QString tableFolder_;
    int encoding_ = int(protocol::Encoding::Gbk);
};

} // namespace qav::session
