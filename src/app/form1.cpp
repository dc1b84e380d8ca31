#include "app/form1.h"

#include "app/message_box_sink.h"
#include "link/frame_dispatcher.h"
#include "link/serial_port_service.h"

#include <QCloseEvent>
#include <QFile>
#include <QPlainTextEdit>
#include <QTimer>

namespace qav::app {

namespace {
constexpr int kCountdownIntervalMs = 1000; // Timer1: continuous-play countdown
constexpr int kBridgePollIntervalMs = 1;   // Timer2: USB reply poll
constexpr const char* kExportFailed = "工作记录未能导出到LOG.txt：";
} // namespace

Form1::Form1(std::unique_ptr<link::HidBridge> bridge, std::unique_ptr<MessageSink> messages,
             QWidget* parent)
    : QWidget(parent), messages_(std::move(messages)), bridge_(std::move(bridge)) {
    if (!messages_)
        messages_ = std::make_unique<MessageBoxSink>(this);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(kTitle));

    MSComm1 = new link::SerialPortService(this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    dispatcher_ = new link::FrameDispatcher(*MSComm1, this);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kCountdownIntervalMs);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(kBridgePollIntervalMs);

    buildControls();
    workLog_ = std::make_unique<WorkLog>(Text4);
    text3_ = std::make_unique<TextBox>(*Text3);
    connectControls();
    SetUpUsbLink();
}

Form1::~Form1() {
    if (MSComm1->portOpen())
        MSComm1->close();
}

void Form1::closeEvent(QCloseEvent* event) {
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
    messages_->showThen(QString::fromUtf8(kExportFailed) + exportError_,
                        [this] { QTimer::singleShot(0, this, [this] { close(); }); });
}

} // namespace qav::app
