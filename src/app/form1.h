#pragma once
// The console's one window. Handlers keep the names of the controls they
// belong to; each reads its controls, calls the session, and writes the
// results back. What happens between the links and the subsystems is the
// session's. The handlers are spread over form1_*.cpp by concern.

#include "app/text_box.h"
#include "logview/work_log_view.h"
#include "session/console_session.h"

#include <QWidget>
#include <memory>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;

namespace qav::link {
class HidBridge;
} // namespace qav::link

namespace qav::app {

class Form1 : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Tonaria-QAV7120中英语音合成芯片-PC端演示程序  V1.3";
    // The size the window opens at, where the screen has room for it.
    static constexpr int kDefaultWidth = 1200;
    static constexpr int kDefaultHeight = 800;

    // bridge: the HID bridge behind the USB link (hidapi in the program, the
    // bridge emulator in tests). messages: where message boxes go; when null
    // the window shows real message boxes. options: the session's, as tests
    // and benchmarks set them; the program keeps the defaults.
    explicit Form1(std::unique_ptr<link::HidBridge> bridge = {},
                   std::unique_ptr<session::MessageSink> messages = {},
                   const session::ConsoleSession::Options& options = {}, QWidget* parent = nullptr);
    ~Form1() override;

    session::ConsoleSession& session() { return *session_; }
    const worklog::WorkLog& workLog() const { return session_->workLog(); }
    logview::WorkLogView& workLogView() { return *Text4; }
    TextBox& sendText() { return *text3_; } // Text3 as the engineer sees it

    // --- start-up and shut-down (form1_startup.cpp) ---
    void Form_Load();
    bool Form_Unload();                                  // false when the log could not be exported
    QString exportError() const { return exportError_; } // why, after Form_Unload
    void Command15_Click();
    void Text2_Change();
    void Check5_Click();
    void Command2_Click();

    // --- links, one-byte commands, synthesis (form1_link.cpp) ---
    void Combo1_Click();
    void Combo2_Click();
    void Option3_Click();
    void Option4_Click();
    void Check1_Click();
    void Command7_Click();  // stop
    void Command8_Click();  // pause
    void Command9_Click();  // resume
    void Command28_Click(); // status query
    void Command5_Click();  // standby
    void Command11_Click(); // wake-up
    void Command12_Click(); // version query
    void Command6_Click();
    void Combo5_Click();

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
    void Command17_Click();
    void Command31_Click();
    void Command32_Click();
    void Command10_Click();
    void Command13_Click();

    // --- test tools (form1_tools.cpp) ---
    void Command3_Click();
    void Command23_Click();
    void Command16_Click();
    void Command25_Click();
    void Command14_Click();
    void Command22_Click();

    // Controls, named as the engineer's documentation names them.
    QPlainTextEdit* Text3 = nullptr;       // send text area
    logview::WorkLogView* Text4 = nullptr; // work log
    QPlainTextEdit* Text5 = nullptr;       // hex send area
    QPlainTextEdit* Text2 = nullptr;       // continuous-play seconds
    QLineEdit* Text6 = nullptr;            // interrupted play: base milliseconds
    QLineEdit* Text7 = nullptr;            // interrupted play: passes per cycle
    QLineEdit* Text1 = nullptr;            // outside the client area, inert
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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // form1_layout.cpp
    void buildControls();
    QSize defaultSize() const;
    // Room kept for the window manager's frame around the window.
    static constexpr int kFrameAllowance = 16;
    static constexpr int kTitleAllowance = 48;
    QWidget* buildSendTextGroup();
    QWidget* buildHexGroup();
    QWidget* buildWorkLogGroup();
    QLayout* buildCommandGrid();
    QWidget* buildSettingsGroup();
    QWidget* buildSpeechGroup();
    QWidget* buildOtherGroup();
    QWidget* buildTestColumn();
    QWidget* buildOutsideClientArea();
    void connectControls();

    void showMessage(const QString& text) { session_->showMessage(text); }
    void sendCommand(protocol::Command command);
    // Text3 shows the session's send text, and the engineer's edits go into it.
    void mirrorSendText();
    void sendTag(const QByteArray& tag);
    void restoreBarsAndSend(const QByteArray& tag);
    void afterSelectionSend(); // Text3 focused, Command6 enabled

    std::unique_ptr<session::MessageSink> messages_;
    session::ConsoleSession* session_ = nullptr;
    std::unique_ptr<TextBox> text3_;
    QString exportError_;
    bool unloaded_ = false; // Form_Unload has run; the next close goes through
    // While false, a change of a speech-property bar sends nothing: the
    // panel's buttons put the bars back without a tag for each.
    bool sliderTagsEnabled = true;
    bool mirroring_ = false; // Text3 and the send text are being brought level
};

} // namespace qav::app
