#include "app/form1.h"

#include "app/message_box_sink.h"
#include "logview/work_log_view.h"

#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QTimer>

namespace qav::app {

namespace {
constexpr const char* kExportFailed = "工作记录未能导出到LOG.txt：";
} // namespace

Form1::Form1(std::unique_ptr<link::HidBridge> bridge,
             std::unique_ptr<session::MessageSink> messages,
             const session::ConsoleSession::Options& options, QWidget* parent)
    : QWidget(parent), messages_(std::move(messages)) {
    if (!messages_)
        messages_ = std::make_unique<MessageBoxSink>(this);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(kTitle));

    session_ = new session::ConsoleSession(*messages_, std::move(bridge), options, this);

    buildControls();
    text3_ = std::make_unique<TextBox>(*Text3);
    mirrorSendText();
    connect(session_, &session::ConsoleSession::focusSendText, this,
            [this] { text3_->setFocus(); });
    connectControls();
}

Form1::~Form1() {
    // The session goes first: it may still speak to the message sink while
    // it closes the port.
    session_->sendText().setListener({});
    delete session_;
    session_ = nullptr;
}

// The session owns the send text; Text3 shows it. What the session changes
// (a crash step's text, the selection a synthesis sent) is put into the box,
// and what the engineer types or selects goes into the session's text at once,
// so a reply-driven step never has to ask the window.
void Form1::mirrorSendText() {
    session_->sendText().setListener([this](bool textChanged) {
        if (mirroring_)
            return;
        const QScopedValueRollback guard(mirroring_, true);
        const session::TextBuffer& text = session_->sendText();
        if (textChanged)
            text3_->setText(text.text());
        text3_->setSelStart(text.selStart());
        text3_->setSelLength(text.selLength());
    });
    const auto edited = [this](bool textChanged) {
        if (mirroring_)
            return;
        const QScopedValueRollback guard(mirroring_, true);
        session::TextBuffer& text = session_->sendText();
        if (textChanged)
            text.setText(text3_->text());
        text.setSelStart(text3_->selStart());
        text.setSelLength(text3_->selLength());
    };
    connect(Text3, &QPlainTextEdit::textChanged, this, [edited] { edited(true); });
    connect(Text3, &QPlainTextEdit::selectionChanged, this, [edited] { edited(false); });
    connect(Text3, &QPlainTextEdit::cursorPositionChanged, this, [edited] { edited(false); });
}

void Form1::closeEvent(QCloseEvent* event) {
    session_->toggleSequence(session::ConsoleSession::Sequence::None);
    if (unloaded_) {
        event->accept();
        return;
    }
    unloaded_ = true;
    if (Form_Unload()) {
        event->accept();
        return;
    }
    // The log could not be saved: say why before the window goes, then close
    // for real once the message has been acknowledged.
    event->ignore();
    session_->showMessage(QString::fromUtf8(kExportFailed) + exportError_,
                          [this] { QTimer::singleShot(0, this, [this] { close(); }); });
}

} // namespace qav::app
