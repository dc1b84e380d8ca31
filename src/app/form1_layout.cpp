// The window's controls: captions, list entries, start values, group boxes and
// which of them the stored layout keeps hidden; and the wiring of each control
// to its handler.
#include "app/form1.h"
#include "link/serial_link.h"
#include "session/run_tests.h"
#include "synthesis/tag_frames.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace qav::app {

namespace {

// Group-box captions.
constexpr const char* kFrame6 = "发送文本--（PC默认为GBK编码格式）";
constexpr const char* kFrame11 = "TTS属性";
constexpr const char* kFrame16 =
    "发送编码--（用户自已自由定义要发送的16进制编码）（可测试任意编码格式）"
    "（格式严格匹配，格式为：2位16进制数值+1个空格符）";
constexpr const char* kFrame10 = "工作记录：";
constexpr const char* kFrame8 = "其它";
constexpr const char* kFrame4 = "系统设置";
constexpr const char* kFrame15 = "输出方式选择";

// Start texts.
constexpr const char* kText5Start =
    "FD 00 1E 01 01 BB B6 D3 AD B9 DB BF B4 D3 EF D2 F4 BA CF B3 C9 CF B5 CD B3 B5 C4 "
    "D1 DD CA BE A3 A1\n";

QString u(const char* text) {
    return QString::fromUtf8(text);
}

// What assistive technology reads: the caption or the label beside the control
// as a person sees it, without a trailing colon.
QString spoken(const QString& caption) {
    QString s = caption;
    while (s.endsWith(QChar(u'：')) || s.endsWith(QChar(u':')))
        s.chop(1);
    return s;
}

template <class W> W* name(W* w, const char* objectName, const QString& caption) {
    w->setObjectName(QString::fromLatin1(objectName));
    w->setAccessibleName(spoken(caption));
    w->setAccessibleDescription(QString::fromLatin1(objectName));
    return w;
}

QPushButton* button(const char* objectName, const char* caption) {
    return name(new QPushButton(u(caption)), objectName, u(caption));
}

QCheckBox* checkBox(const char* objectName, const char* caption) {
    return name(new QCheckBox(u(caption)), objectName, u(caption));
}

QComboBox* comboBox(const char* objectName, const char* label, const QStringList& entries) {
    auto* c = name(new QComboBox, objectName, u(label));
    c->addItems(entries);
    return c;
}

QLabel* label(const char* caption, const char* objectName = nullptr) {
    auto* l = new QLabel(u(caption));
    if (objectName)
        l->setObjectName(QString::fromLatin1(objectName));
    return l;
}

QScrollBar* scrollBar(const char* objectName, const char* label) {
    auto* s = name(new QScrollBar(Qt::Horizontal), objectName, u(label));
    s->setRange(synthesis::kScrollBarMinimum, synthesis::kScrollBarMaximum);
    s->setSingleStep(1);
    s->setPageStep(1);
    s->setValue(synthesis::kScrollBarDefault);
    s->setMinimumWidth(160);
    return s;
}

QGroupBox* group(const char* objectName, const char* caption) {
    return name(new QGroupBox(u(caption)), objectName, u(caption));
}

QPlainTextEdit* textArea(const char* objectName, const QString& spokenName) {
    auto* t = name(new QPlainTextEdit, objectName, spokenName);
    t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return t;
}

QLineEdit* lineEdit(const char* objectName, const char* label, const char* start) {
    auto* e = name(new QLineEdit(u(start)), objectName, u(label));
    e->setMaximumWidth(90);
    return e;
}

QStringList numbered(const char* format, int first, int last) {
    QStringList list;
    for (int i = first; i <= last; ++i)
        list << QString::asprintf(format, i);
    return list;
}

} // namespace

QWidget* Form1::buildSendTextGroup() {
    auto* frame6 = group("Frame6", kFrame6);
    Text3 = textArea("Text3", u(kFrame6));
    Check2 = checkBox("Check2", "按姓名处理");
    Check3 = checkBox("Check3", "读标点符号");
    Check4 = checkBox("Check4", "1读成\"幺\"");
    Command20 = button("Command20", "插入");
    Command24 = button("Command24", "");
    Command24->setMinimumWidth(40);
    auto* v = new QVBoxLayout(frame6);
    v->addWidget(Text3, 1);
    auto* row = new QHBoxLayout;
    row->addWidget(Check2);
    row->addWidget(Check3);
    row->addWidget(Check4);
    row->addStretch(1);
    row->addWidget(Command20);
    row->addWidget(Command24);
    v->addLayout(row);
    return frame6;
}

QWidget* Form1::buildHexGroup() {
    auto* frame16 = group("Frame16", kFrame16);
    Text5 = textArea("Text5", u(kFrame16));
    Text5->setPlainText(u(kText5Start));
    Text5->setMaximumHeight(80);
    Command29 = button("Command29", "直接播放");
    Command30 = button("Command30", "添加命令头播放(自动)");
    Command1 = button("Command1", "清空发送区");
    auto* label13 = label("编码选择：", "Label13");
    Combo5 = comboBox("Combo5", "编码选择：",
                      {u("GB2312"), u("GBK"), u("BIG5"), u("Unicode小头"), u("Unicode大头")});
    auto* g = new QGridLayout(frame16);
    g->addWidget(Text5, 0, 0, 3, 1);
    g->addWidget(Command29, 0, 1);
    g->addWidget(Command30, 1, 1);
    g->addWidget(Command1, 2, 1);
    g->addWidget(label13, 0, 2);
    g->addWidget(Combo5, 1, 2);
    g->setColumnStretch(0, 1);
    return frame16;
}

QWidget* Form1::buildWorkLogGroup() {
    auto* frame10 = group("Frame10", kFrame10);
    Text4 = name(new logview::WorkLogView(session_->workLog()), "Text4", u(kFrame10));
    Check5 = checkBox("Check5", "加\"0x\"显示");
    auto* v = new QVBoxLayout(frame10);
    v->addWidget(Text4, 1);
    v->addWidget(Check5);
    return frame10;
}

// The link choice, the synthesise button and the one-byte commands.
QLayout* Form1::buildCommandGrid() {
    Option3 = name(new QRadioButton(u("串口")), "Option3", u("串口"));
    Option4 = name(new QRadioButton(u("内部USB(SPI)")), "Option4", u("内部USB(SPI)"));
    Option3->setChecked(true);
    Option4->setHidden(true);
    Command6 = button("Command6", "合成");
    Command6->setMinimumHeight(44);
    // Ctrl+Enter speaks from the keyboard, without leaving the text.
    Command6->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    Command7 = button("Command7", "停止");
    Command8 = button("Command8", "暂停");
    Command9 = button("Command9", "恢复");
    Command28 = button("Command28", "查询");
    Command5 = button("Command5", "STANDBY");
    Command11 = button("Command11", "唤醒");
    Command12 = button("Command12", "内部版本查询");
    Command12->setHidden(true);
    Command15 = button("Command15", "清空");
    Check1 = checkBox("Check1", "回传解释");
    Check1->setChecked(true);

    auto* commands = new QGridLayout;
    auto* linkRow = new QHBoxLayout;
    linkRow->addWidget(Option3);
    linkRow->addWidget(Option4);
    linkRow->addStretch(1);
    linkRow->addWidget(Check1);
    commands->addLayout(linkRow, 0, 0, 1, 4);
    commands->addWidget(Command6, 1, 0, 1, 2);
    commands->addWidget(Command7, 1, 2);
    commands->addWidget(Command15, 1, 3);
    commands->addWidget(Command8, 2, 0);
    commands->addWidget(Command9, 2, 1);
    commands->addWidget(Command28, 2, 2);
    commands->addWidget(Command5, 2, 3);
    commands->addWidget(Command11, 3, 0);
    commands->addWidget(Command12, 3, 1);
    commands->addWidget(label("背景音乐:", "Label5"), 3, 2, 1, 2);
    return commands;
}

QWidget* Form1::buildSettingsGroup() {
    auto* frame4 = group("Frame4", kFrame4);
    Combo1 = comboBox("Combo1", "端口号", numbered("COM%d", 1, link::SerialLink::kPortCount));
    QStringList bauds;
    for (const int baud : session::kBaudRates)
        bauds << u("波特率") + QString::number(baud);
    Combo2 = comboBox("Combo2", "波特率", bauds);
    Command27 = button("Command27", "同时发送");
    auto* frame15 = group("Frame15", kFrame15);
    Combo3 = comboBox("Combo3", kFrame15, {u("DA输出"), u("PWM 输出(默认)")});
    Command26 = button("Command26", "输出方式设置");
    auto* h = new QHBoxLayout(frame15);
    h->addWidget(Combo3, 1);
    h->addWidget(Command26);
    auto* g = new QGridLayout(frame4);
    g->addWidget(label("端口号", "Label9"), 0, 0);
    g->addWidget(Combo1, 0, 1);
    g->addWidget(label("波特率", "Label10"), 0, 2);
    g->addWidget(Combo2, 0, 3);
    g->addWidget(Command27, 1, 0, 1, 4);
    g->addWidget(frame15, 2, 0, 1, 4);
    g->setColumnStretch(1, 1);
    g->setColumnStretch(3, 1);
    return frame4;
}

QWidget* Form1::buildSpeechGroup() {
    auto* frame11 = group("Frame11", kFrame11);
    Combo4 = comboBox("Combo4", "发音人", {u("林悦"), u("周航"), u("程欣"), u("韩默")});
    auto* speakerLabel = label("发音人");
    Combo4->setHidden(true);
    speakerLabel->setHidden(true);
    HScroll1 = scrollBar("HScroll1", "音量");
    HScroll2 = scrollBar("HScroll2", "语速");
    HScroll3 = scrollBar("HScroll3", "语调");
    Command34 = button("Command34", "控制标记恢复默认值[d]");
    Command18 = button("Command18", "自动");
    Command19 = button("Command19", "中文");
    Command21 = button("Command21", "英文");
    auto* g = new QGridLayout(frame11);
    g->addWidget(speakerLabel, 0, 0);
    g->addWidget(Combo4, 0, 1, 1, 3);
    g->addWidget(label("音量"), 1, 0);
    g->addWidget(HScroll1, 1, 1, 1, 3);
    g->addWidget(label("语调"), 2, 0);
    g->addWidget(HScroll3, 2, 1, 1, 3);
    g->addWidget(label("语速"), 3, 0);
    g->addWidget(HScroll2, 3, 1, 1, 3);
    g->addWidget(Command34, 4, 0, 1, 4);
    g->addWidget(label("语种"), 5, 0);
    g->addWidget(Command18, 5, 1);
    g->addWidget(Command19, 5, 2);
    g->addWidget(Command21, 5, 3);
    return frame11;
}

QWidget* Form1::buildOtherGroup() {
    auto* frame8 = group("Frame8", kFrame8);
    Command2 = button("Command2", "清空--工作记录");
    Command17 = button("Command17", "载入--英中演示");
    Command31 = button("Command31", "载入--中文演示");
    Command32 = button("Command32", "载入----提示音");
    Command31->setHidden(true);
    auto* g = new QGridLayout(frame8);
    g->addWidget(Command2, 0, 0);
    g->addWidget(Command17, 0, 1);
    g->addWidget(Command31, 1, 0);
    g->addWidget(Command32, 1, 1);
    return frame8;
}

// The test column, kept hidden as the stored layout has it.
QWidget* Form1::buildTestColumn() {
    auto* testColumn = new QWidget;
    testColumn->setObjectName(QStringLiteral("testColumn"));
    Command25 = button("Command25", "1-死机测试");
    Command14 = button("Command14", "2-内测123");
    Command22 = button("Command22", "3-内测45");
    Command16 = button("Command16", "文本");
    Command3 = button("Command3", "4-连续播放文本框内容");
    Text2 = textArea("Text2", u("4-连续播放文本框内容"));
    // Digits and a line break, as the box starts.
    Text2->setPlainText(QString::number(session::kReplaySeconds) + QLatin1Char('\n'));
    Text2->setMaximumHeight(48);
    Command23 = button("Command23", "5-打断重播文本框");
    Text6 =
        lineEdit("Text6", "基础毫秒", QByteArray::number(session::kInterruptBaseMs).constData());
    Text7 =
        lineEdit("Text7", "每循环遍", QByteArray::number(session::kInterruptPasses).constData());
    Command10 = button("Command10", "缓存存储");
    Command13 = button("Command13", "缓存播放");
    Combo6 = comboBox("Combo6", "起始区段", numbered("%d", 0, 15));
    Combo7 = comboBox("Combo7", "重播次数", numbered("%02d", 1, 15));
    auto* g = new QGridLayout(testColumn);
    int r = 0;
    for (QWidget* w : {static_cast<QWidget*>(Command25), static_cast<QWidget*>(Command14),
                       static_cast<QWidget*>(Command22), static_cast<QWidget*>(Command16),
                       static_cast<QWidget*>(Command3), static_cast<QWidget*>(Text2),
                       static_cast<QWidget*>(Command23)})
        g->addWidget(w, r++, 0, 1, 2);
    const auto labelled = [&](const char* caption, QWidget* w) {
        g->addWidget(label(caption), r, 0);
        g->addWidget(w, r++, 1);
    };
    labelled("基础毫秒", Text6);
    labelled("每循环遍", Text7);
    g->addWidget(Command10, r++, 0, 1, 2);
    g->addWidget(Command13, r++, 0, 1, 2);
    labelled("起始区段", Combo6);
    labelled("重播次数", Combo7);
    g->setRowStretch(r, 1);
    for (QWidget* w : testColumn->findChildren<QWidget*>())
        w->setHidden(true);
    testColumn->setHidden(true);
    return testColumn;
}

// Outside the client area: never seen.
QWidget* Form1::buildOutsideClientArea() {
    auto* offscreen = new QWidget;
    offscreen->setObjectName(QStringLiteral("outsideClientArea"));
    Text1 = lineEdit("Text1", "每", "");
    Command4 = button("Command4", "重复播放--测试用");
    auto* h = new QHBoxLayout(offscreen);
    h->addWidget(label("每"));
    h->addWidget(Text1);
    h->addWidget(label("秒"));
    h->addWidget(Command4);
    for (QWidget* w : offscreen->findChildren<QWidget*>())
        w->setHidden(true);
    offscreen->setHidden(true);
    return offscreen;
}

void Form1::buildControls() {
    auto* left = new QVBoxLayout;
    left->addWidget(buildSendTextGroup(), 3);
    left->addWidget(buildHexGroup(), 0);
    left->addWidget(buildWorkLogGroup(), 4);

    auto* right = new QVBoxLayout;
    right->addLayout(buildCommandGrid());
    right->addWidget(buildSettingsGroup());
    right->addWidget(buildSpeechGroup());
    right->addWidget(buildOtherGroup());
    right->addStretch(1);

    auto* top = new QHBoxLayout(this);
    top->addLayout(left, 3);
    top->addLayout(right, 1);
    top->addWidget(buildTestColumn());
    top->addWidget(buildOutsideClientArea());
    resize(defaultSize());
}

// 1200 x 800, or less on a smaller screen: the whole window, frame included,
// fits the screen's free area (a laptop's 1366 x 768 less its panels).
QSize Form1::defaultSize() const {
    const QSize wanted(kDefaultWidth, kDefaultHeight);
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return wanted;
    // The frame of a window is not known before it is shown; leave room for
    // a title bar and a border.
    const QSize room = screen->availableGeometry().size() - QSize(kFrameAllowance, kTitleAllowance);
    return wanted.boundedTo(room).expandedTo(minimumSizeHint());
}

void Form1::connectControls() {
    const auto click = [this](QPushButton* b, void (Form1::*handler)()) {
        connect(b, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    click(Command1, &Form1::Command1_Click);
    click(Command2, &Form1::Command2_Click);
    click(Command3, &Form1::Command3_Click);
    click(Command5, &Form1::Command5_Click);
    click(Command6, &Form1::Command6_Click);
    click(Command7, &Form1::Command7_Click);
    click(Command8, &Form1::Command8_Click);
    click(Command9, &Form1::Command9_Click);
    click(Command10, &Form1::Command10_Click);
    click(Command11, &Form1::Command11_Click);
    click(Command12, &Form1::Command12_Click);
    click(Command13, &Form1::Command13_Click);
    click(Command14, &Form1::Command14_Click);
    click(Command15, &Form1::Command15_Click);
    click(Command16, &Form1::Command16_Click);
    click(Command17, &Form1::Command17_Click);
    click(Command18, &Form1::Command18_Click);
    click(Command19, &Form1::Command19_Click);
    click(Command21, &Form1::Command21_Click);
    click(Command22, &Form1::Command22_Click);
    click(Command23, &Form1::Command23_Click);
    click(Command25, &Form1::Command25_Click);
    click(Command28, &Form1::Command28_Click);
    click(Command29, &Form1::Command29_Click);
    click(Command30, &Form1::Command30_Click);
    click(Command31, &Form1::Command31_Click);
    click(Command32, &Form1::Command32_Click);
    click(Command34, &Form1::Command34_Click);

    // Lists act on a user's pick; start-up sets the index and calls the
    // handler itself.
    connect(Combo1, &QComboBox::activated, this, [this] { Combo1_Click(); });
    connect(Combo2, &QComboBox::activated, this, [this] { Combo2_Click(); });
    connect(Combo4, &QComboBox::activated, this, [this] { Combo4_Click(); });
    connect(Combo5, &QComboBox::activated, this, [this] { Combo5_Click(); });

    // Scroll bars act on every change of value, dragged or set from outside.
    connect(HScroll1, &QScrollBar::valueChanged, this, [this] { HScroll1_Change(); });
    connect(HScroll2, &QScrollBar::valueChanged, this, [this] { HScroll2_Change(); });
    connect(HScroll3, &QScrollBar::valueChanged, this, [this] { HScroll3_Change(); });

    connect(Check1, &QCheckBox::toggled, this, [this] { Check1_Click(); });
    connect(Check5, &QCheckBox::toggled, this, [this] { Check5_Click(); });
    connect(Text2, &QPlainTextEdit::textChanged, this, [this] { Text2_Change(); });
    // An option's handler runs whenever it becomes selected: by a click, the
    // keyboard, an accessibility action or code. So the link that is active is
    // always the one the window shows selected.
    connect(Option3, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option3_Click();
    });
    connect(Option4, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option4_Click();
    });
}

} // namespace qav::app
