#pragma once
// The console's one window. Handlers keep the names of the controls they
// belong to; each reads its controls, calls one subsystem, and writes the
// results back. The handlers are spread over form1_*.cpp by concern.

#include "app/console_state.h"
#include "app/message_sink.h"
#include "app/text_box.h"
#include "app/work_log.h"
#include "link/hid_bridge.h"
#include "protocol/frame.h"

#include <QWidget>
#include <memory>

class QFile;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTimer;

namespace qav::link {
class SerialPortService;
class FrameDispatcher;
class UsbPacketSender;
} // namespace qav::link

namespace qav::app {

class Form1 : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Tonaria-QAV7120中英语音合成芯片-PC端演示程序  V1.3";
    // Shown whenever a serial port cannot be opened or has gone away.
    static constexpr const char* kPortMessage =
        "串口不存在或被占用,若电脑没有串口，请使用USB转串口设备";

    // bridge: the HID bridge behind the USB link (hidapi in the program, the
    // bridge emulator in tests). messages: where message boxes go; when null
    // the window shows real message boxes.
    explicit Form1(std::unique_ptr<link::HidBridge> bridge = {},
                   std::unique_ptr<MessageSink> messages = {}, QWidget* parent = nullptr);
    ~Form1() override;

    ConsoleState& state() { return state_; }
    WorkLog& workLog() { return *workLog_; }
    TextBox& sendText() { return *text3_; } // Text3 as the engineer sees it
    link::SerialPortService& serialPort() { return *MSComm1; }
    link::FrameDispatcher& dispatcher() { return *dispatcher_; }
    MessageSink& messages() { return *messages_; }
    // The crash-test result file, open (truncated) from start-up to the end of
    // the run; null before Form_Load or when it could not be opened.
    QFile* crashResultFile() { return crashResultFile_.get(); }

    // --- start-up and shut-down (form1_startup.cpp) ---
    void Form_Load();
    bool Form_Unload();                                  // false when the log could not be exported
    QString exportError() const { return exportError_; } // why, after Form_Unload
    void Command15_Click();
    void Text2_Change();

    // --- work log (form1_startup.cpp) ---
    void Check5_Click();
    void Command2_Click();
    // Logs frame bytes 0 .. state().lastFrameIndex, then hands them to dispatch.
    void LogAndDispatch(const QByteArray& frame);

    // --- serial link and one-byte commands (form1_serial.cpp) ---
    void Combo1_Click();
    void Combo2_Click();
    void Option3_Click();
    void SendCommandFrame(std::uint8_t command); // one-byte command send
    void Command7_Click();                       // stop
    void Command8_Click();                       // pause
    void Command9_Click();                       // resume
    void Command28_Click();                      // status query
    void Command5_Click();                       // standby
    void Command11_Click();                      // wake-up
    void Command12_Click();                      // version query

    // --- synthesis and serial reply decoding (form1_synthesis.cpp) ---
    void Command6_Click();
    void Combo5_Click();
    void MSComm1_OnComm();
    void OnSerialIdleReply(); // the 0x4F actions: crash step, then continuous play
    // Where the conversion table is looked for; the program's own folder when empty.
    void setConversionTableFolder(const QString& folder) { tableFolder_ = folder; }

private:
    // Synthesis and cache store share this: cut, convert, log once, send.
    void SendSelectionFrame(protocol::Command command, std::uint8_t parameter);
    QString tableFolder_;
    QTimer* replyPause_ = nullptr; // the short wait before a serial reply is read

public:
    // --- USB link (form1_usb.cpp) ---
    void Option4_Click();
    bool FindTheHid();
    void PollBridgeReply();
    void Timer2_Timer();
    void SetUpUsbLink(); // wires the bridge, the packet sender and Timer2; run by the constructor
    link::UsbPacketSender& usbSender() { return *usbSender_; }

    // --- speech-property panel, hex area, demo texts, cache (form1_panel.cpp) ---
    void HScroll1_Change();
    void HScroll2_Change();
    void HScroll3_Change();
    void Combo4_Click();
    void Command18_Click();
    void Command19_Click();
    void Command21_Click();
    void Command34_Click();
    void Command29_Click();
    void Command30_Click();
    void Command1_Click();
    void SendFrameData(const QList<int>& values);
    void Command17_Click();
    void Command31_Click();
    void Command32_Click();
    void Command10_Click();
    void Command13_Click();

    // --- test tools (form1_tools.cpp) ---
    void Command3_Click();
    void Timer1_Timer();
    void Command23_Click();
    void Command16_Click();
    void Command25_Click();
    void Command14_Click();
    void Command22_Click();

    // Controls, named as the engineer's documentation names them.
    QPlainTextEdit* Text3 = nullptr; // send text area
    QPlainTextEdit* Text4 = nullptr; // work log
    QPlainTextEdit* Text5 = nullptr; // hex send area
    QPlainTextEdit* Text2 = nullptr; // continuous-play seconds
    QLineEdit* Text6 = nullptr;      // interrupted play: base milliseconds
    QLineEdit* Text7 = nullptr;      // interrupted play: passes per cycle
    QLineEdit* Text1 = nullptr;      // outside the client area, inert
    QCheckBox *Check1 = nullptr, *Check2 = nullptr, *Check3 = nullptr, *Check4 = nullptr,
              *Check5 = nullptr;
    QComboBox *Combo1 = nullptr, *Combo2 = nullptr, *Combo3 = nullptr, *Combo4 = nullptr,
              *Combo5 = nullptr, *Combo6 = nullptr, *Combo7 = nullptr;
    QRadioButton *Option3 = nullptr, *Option4 = nullptr;
    QScrollBar *HScroll1 = nullptr, *HScroll2 = nullptr, *HScroll3 = nullptr;
    QPushButton *Command1 = nullptr, *Command2 = nullptr, *Command3 = nullptr, *Command4 = nullptr,
                *Command5 = nullptr, *Command6 = nullptr, *Command7 = nullptr, *Command8 = nullptr,
                *Command9 = nullptr, *Command10 = nullptr, *Command11 = nullptr,
                *Command12 = nullptr, *Command13 = nullptr, *Command14 = nullptr,
                *Command15 = nullptr, *Command16 = nullptr, *Command17 = nullptr,
                *Command18 = nullptr, *Command19 = nullptr, *Command20 = nullptr,
                *Command21 = nullptr, *Command22 = nullptr, *Command23 = nullptr,
                *Command24 = nullptr, *Command25 = nullptr, *Command26 = nullptr,
                *Command27 = nullptr, *Command28 = nullptr, *Command29 = nullptr,
                *Command30 = nullptr, *Command31 = nullptr, *Command32 = nullptr,
                *Command34 = nullptr;
    link::SerialPortService* MSComm1 = nullptr;
    QTimer* Timer1 = nullptr; // continuous-play countdown
    QTimer* Timer2 = nullptr; // USB reply poll

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Test sequences (form1_tools.cpp): interrupted play and the two scripts,
    // one at a time, on a timer-driven step player.
    enum class TestSequence { None, InterruptedPlay, Script123, Script45 };
    // Builds the sequence's steps afresh; base and passes are interrupted play's.
    void startTestSequence(TestSequence which, int baseMs = 0, int passes = 0);
    void StopTestSequences();
    TestSequence activeSequence_ = TestSequence::None;
    QStringList unreadableCrashTexts_; // crash-test files already reported

private:
    void buildControls();   // form1_layout.cpp
    void connectControls(); // form1_layout.cpp
    void showMessage(const QString& text) { messages_->show(text); }
    void onSerialDeviceLost(); // form1_serial.cpp
    void showPortMessage();    // form1_serial.cpp

    ConsoleState state_;
    std::unique_ptr<MessageSink> messages_;
    std::unique_ptr<WorkLog> workLog_;
    std::unique_ptr<TextBox> text3_;
    std::unique_ptr<link::HidBridge> bridge_;
    link::FrameDispatcher* dispatcher_ = nullptr;
    std::unique_ptr<QFile> crashResultFile_;
    QString exportError_;
    int portMessagesShown_ = 0;
    bool unloaded_ = false; // Form_Unload has run; the next close goes through
    link::UsbPacketSender* usbSender_ = nullptr;
    QList<QByteArray> bridgeReports_; // delivered by the bridge, not yet decoded
};

} // namespace qav::app
