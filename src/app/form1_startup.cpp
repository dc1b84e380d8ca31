// Opening and closing the window, the work log's own controls, and the
// handlers that only edit text boxes.
#include "app/form1.h"
#include "link/frame_dispatcher.h"
#include "link/serial_port_service.h"
#include "tools/continuous_play.h"
#include "tools/crash_test.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStringDecoder>
#include <algorithm>

namespace qav::app {

namespace {
constexpr const char* kInitialTextFile = "初始默认文本.txt";
constexpr const char* kCrashResultFile = "死机测试文本-测试结果.txt";
constexpr const char* kLogFile = "LOG.txt";
constexpr const char* kChunkLimitNotice =
    "字节：这是每次发送的最大文本字节长度（不含帧头的5字节）！长文本请在F320中直接测试！"
    "目前F320最多仅能缓存此字节数！大于此字节数需分包发送，但通讯握手需20ms，"
    "大于帧与帧之间的最短间隔时间8ms，不可测试！";
constexpr const char* kHexPrefix = "0x";
constexpr const char* kSettings9600 = "9600,N,8,1";
constexpr int kReceiveBufferSize = 2;
constexpr int kGbkIndex = 1;
constexpr int kBaud9600Index = 1;
constexpr int kPwmOutputIndex = 1;
} // namespace

void Form1::Form_Load() {
    // 1. The initial text, read as GBK bytes; an absent file is created empty.
    // Only a plain file is opened: a pipe of that name would hold start-up
    // until something writes to it.
    {
        QFile file(QString::fromUtf8(kInitialTextFile));
        if (!file.exists()) {
            file.open(QIODevice::WriteOnly);
        } else if (QFileInfo(file).isFile() && file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            QStringDecoder gbk("GBK");
            QString text = gbk.decode(bytes);
            // A file that ends inside a double-byte character: the decoder
            // keeps that last byte for input that never comes. Show it as
            // the other bytes that are not GBK are shown.
            if (tools::wholeGbkPrefix(bytes) < bytes.size())
                text += QChar::ReplacementCharacter;
            text3_->setText(text);
        }
    }

    // 2. The crash-test result file stays open, emptied, for the whole run
    // (not when something other than a plain file has that name).
    crashResultFile_ = std::make_unique<QFile>(QString::fromUtf8(kCrashResultFile));
    if ((crashResultFile_->exists() && !QFileInfo(*crashResultFile_).isFile()) ||
        !crashResultFile_->open(QIODevice::WriteOnly | QIODevice::Truncate))
        crashResultFile_.reset();

    // 3.-5. The link as chosen by the option buttons.
    state_.chunkLimitNotice = QString::fromUtf8(kChunkLimitNotice);
    if (Option3->isChecked()) {
        state_.useUsbLink = false;
        state_.chunkLimit = kSerialChunkLimit;
    }
    if (Option4->isChecked()) {
        state_.useUsbLink = true;
        state_.chunkLimit = kUsbChunkLimit;
        showMessage(QLatin1Char(' ') + QString::number(state_.chunkLimit) +
                    state_.chunkLimitNotice);
        FindTheHid();
    }
    dispatcher_->setUseUsbLink(state_.useUsbLink);

    // 6.-8.
    state_.hexPrefix.clear();
    workLog_->setHexPrefix(state_.hexPrefix);
    state_.continueSynthesis = false;
    Check2->setChecked(true);
    Check3->setChecked(true);
    state_.sliderTagsEnabled = true;

    // 9. Encoding GBK.
    Combo5->setCurrentIndex(kGbkIndex);
    Combo5_Click();

    // 10. Serial line defaults.
    Combo2->setCurrentIndex(kBaud9600Index);
    Combo2_Click();
    MSComm1->setSettings(QString::fromLatin1(kSettings9600));
    MSComm1->setInBufferSize(kReceiveBufferSize);

    // 11. Lists; COM1 is opened by its port selection.
    Combo3->setCurrentIndex(kPwmOutputIndex);
    Combo1->setCurrentIndex(0);
    const qsizetype messagesBefore = portMessagesShown_;
    Combo1_Click();
    Combo6->setCurrentIndex(0);
    Combo7->setCurrentIndex(0);

    // 12.
    state_.lastFrameIndex = 0;
    state_.frameHeader = 0xFD;

    // 13. A last try at the chosen port. The port selection above has already
    // said so when it failed; one message is enough.
    if (!MSComm1->portOpen()) {
        MSComm1->setCommPort(state_.serialPortNumber);
        if (!MSComm1->open() && portMessagesShown_ == messagesBefore)
            showPortMessage();
    }
}

bool Form1::Form_Unload() {
    if (MSComm1->portOpen())
        MSComm1->close();
    exportError_.clear();
    if (const auto error = workLog_->exportTo(QString::fromUtf8(kLogFile))) {
        exportError_ = *error;
        return false;
    }
    return true;
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
    state_.hexPrefix = Check5->isChecked() ? QString::fromLatin1(kHexPrefix) : QString();
    workLog_->setHexPrefix(state_.hexPrefix);
}

void Form1::Command2_Click() {
    workLog_->clear();
}

void Form1::LogAndDispatch(const QByteArray& frame) {
    const qsizetype count = std::clamp<qsizetype>(state_.lastFrameIndex + 1, 0, frame.size());
    workLog_->appendFrame(QByteArrayView(frame).first(count));
    dispatcher_->dispatch(frame, int(count));
}

} // namespace qav::app
