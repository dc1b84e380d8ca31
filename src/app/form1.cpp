#include "app/form1.h"

#include "app/message_box_sink.h"
#include "logview/work_log_view.h"

#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QTimer>

namespace qav::app {

namespace {
constexpr const char* kExportFailed = "工作记录未能导出到LOG.txt：";
} // namespace

Form1::Form1(std::unique_ptr<link::HidBridge> bridge,
             std::unique_ptr<session::MessageSink> messages, QWidget* parent)
    : QWidget(parent), messages_(std::move(messages)) {
    if (!messages_)
        messages_ = std::make_unique<MessageBoxSink>(this);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(kTitle));

    session_ = new session::ConsoleSession(*messages_, std::move(bridge), this);

    buildControls();
    text3_ = std::make_unique<TextBox>(*Text3);
    session_->setSendText(text3_.get());
    connect(session_, &session::ConsoleSession::focusSendText, this,
            [this] { text3_->setFocus(); });
    connectControls();
}

Form1::~Form1() {
    // The session goes first: it may still speak to the message sink and the
    // send text while it closes the port.
    session_->setSendText(nullptr);
    delete session_;
    session_ = nullptr;
}

void Form1::closeEvent(QCloseEvent* event) {
    session_->stopSequences();
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
