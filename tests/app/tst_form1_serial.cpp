// The link controls of the window against real pseudo-terminals linked as
// COMn in the working folder: port and speed lists, the link options, the
// reply box, the one-byte command buttons and the synthesise button.
#include "app/form1.h"
#include "app_helpers.h"
#include "common/link_helpers.h"
#include "session/console_session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qav;
using qav::test::allText;
using qav::test::ConsoleFixture;
using qav::test::frameEntry;
using qav::test::kStopEntry;
using qav::test::loggedFrames;
using qav::test::PtyPort;

namespace {
const QString kPortMessage =
    QStringLiteral("串口不存在或被占用,若电脑没有串口，请使用USB转串口设备");
const QString kIdleLine = QStringLiteral("<---- 返回：4F  芯片空闲\r\n");
// "欢迎" in GBK, spoken.
const QByteArray kWelcome = QByteArray::fromHex("FD 00 06 01 01 BB B6 D3 AD");

void pick(QComboBox* combo, int index) {
    combo->setCurrentIndex(index);
    emit combo->activated(index); // as a user's pick
}
} // namespace

class TestFormSerial : public QObject {
    Q_OBJECT
private slots:
    void startUpOpensCom1AndStopSendsItsFrame() {
        ConsoleFixture c;
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        QVERIFY(c.messages().isEmpty());
        QVERIFY(f.session().status().portOpen);
        QCOMPARE(com1.speed(), speed_t(B9600));
        QCOMPARE(com1.readFor(50), QByteArray()); // start-up sends nothing

        f.Command7->click();
        QCOMPARE(com1.read(4), QByteArray("\xFD\x00\x01\x02", 4));
        QCOMPARE(allText(f.workLog()),
                 QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 02 \r\n"));
    }

    // "停止" ends continuous play: the chip's next idle reply starts nothing.
    void stopEndsContinuousPlay() {
        ConsoleFixture c;
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        f.sendText().setText(QStringLiteral("欢迎"));
        f.Command3->click();
        QCOMPARE(com1.read(kWelcome.size()), kWelcome);
        f.Command7->click();
        QCOMPARE(com1.read(4), QByteArray("\xFD\x00\x01\x02", 4));
        QVERIFY(com1.write("O"));
        QTRY_VERIFY(allText(f.workLog()).endsWith(kIdleLine));
        QCOMPARE(allText(f.workLog()), frameEntry(kWelcome) + kStopEntry + kIdleLine);
    }

    void oneByteCommands_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("code");
        QTest::newRow("暂停") << QStringLiteral("Command8") << 0x03;
        QTest::newRow("恢复") << QStringLiteral("Command9") << 0x04;
        QTest::newRow("查询") << QStringLiteral("Command28") << 0x21;
        QTest::newRow("STANDBY") << QStringLiteral("Command5") << 0x22;
        QTest::newRow("唤醒") << QStringLiteral("Command11") << 0xFF;
        QTest::newRow("内部版本查询") << QStringLiteral("Command12") << 0x58;
    }
    void oneByteCommands() {
        QFETCH(QString, button);
        QFETCH(int, code);
        ConsoleFixture c;
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        f.sendText().setText(QStringLiteral("欢迎"));
        f.Command3->click(); // continuous play
        QCOMPARE(com1.read(kWelcome.size()), kWelcome);
        auto* b = f.findChild<QPushButton*>(button);
        QVERIFY(b);
        QMetaObject::invokeMethod(b, "click"); // hidden ones too
        const QByteArray command = QByteArray("\xFD\x00\x01", 3) + char(code);
        QCOMPARE(com1.read(4), command);
        // Only stop ends continuous play: the idle reply starts the next round.
        QVERIFY(com1.write("O"));
        QCOMPARE(com1.read(kWelcome.size()), kWelcome);
        QCOMPARE(loggedFrames(allText(f.workLog())),
                 (QList<QByteArray>{kWelcome, command, kWelcome}));
    }

    void pickingCom3MovesTheLinkThere() {
        ConsoleFixture c;
        PtyPort com1, com3;
        QVERIFY(com1.linkAs(c.dir(), 1));
        QVERIFY(com3.linkAs(c.dir(), 3));
        app::Form1& f = c.load();
        pick(f.Combo1, 2);
        QVERIFY(c.messages().isEmpty());
        QCOMPARE(f.session().status().portName, c.path(QStringLiteral("COM3")));
        f.Command7->click();
        QCOMPARE(com3.read(4), QByteArray("\xFD\x00\x01\x02", 4));
        QCOMPARE(com1.readFor(50), QByteArray()); // and nothing to COM1
    }

    void synthesiseButtonAndItsSettings() {
        ConsoleFixture c;
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        f.sendText().setText(QStringLiteral("中a"));
        pick(f.Combo5, 4); // Unicode, big-endian
        f.Command6->click();
        QCOMPARE(com1.read(9), QByteArray::fromHex("FD 00 06 01 04 4E 2D 00 61"));
        QVERIFY(f.Command6->isEnabled());
        QCOMPARE(f.sendText().selLength(), 2);

        // Without the conversion table: the message, and the button stays usable.
        {
            ConsoleFixture noTable;
            QTemporaryDir empty;
            noTable.options().tableFolder = empty.path();
            PtyPort port;
            QVERIFY(port.linkAs(noTable.dir(), 1));
            app::Form1& g = noTable.load();
            g.sendText().setText(QStringLiteral("中a"));
            pick(g.Combo5, 4);
            g.Command6->click();
            QCOMPARE(noTable.messages().size(), 1);
            QVERIFY(noTable.messages().first().contains(
                QStringLiteral("找不到GBKToBig5AndUnicode.dat文件")));
            QVERIFY(g.Command6->isEnabled());
        }

        // "回传解释" unticked: replies wait in the port.
        f.Command2->click();
        f.Check1->setChecked(false);
        QVERIFY(com1.write("A"));
        QTest::qWait(100); // nothing may be logged meanwhile
        QVERIFY(allText(f.workLog()).isEmpty());
        f.Check1->setChecked(true);
        QVERIFY(com1.write("O"));
        QTRY_COMPARE(allText(f.workLog()), QStringLiteral("<---- 返回：41  接收成功\r\n"
                                                          "<---- 返回：4F  芯片空闲\r\n"));
    }

    // "合成" hands the focus back to the send text, whatever had it, so the
    // engineer can go on typing.
    void synthesiseGivesTheSendTextTheFocus() {
        ConsoleFixture c;
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        f.show();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.sendText().setText(QStringLiteral("欢迎"));
        f.Text5->setFocus();
        QTRY_VERIFY(f.Text5->hasFocus());
        QSignalSpy focus(&f.session(), &session::ConsoleSession::focusSendText);
        f.Command6->click();
        QVERIFY(focus.count() >= 1);
        QTRY_VERIFY(f.Text3->hasFocus());
        QCOMPARE(com1.read(kWelcome.size()), kWelcome);
        // Also when the text is empty and nothing goes out.
        f.sendText().setText(QString());
        f.Combo5->setFocus();
        QTRY_VERIFY(f.Combo5->hasFocus());
        f.Command6->click();
        QTRY_VERIFY(f.Text3->hasFocus());
    }

    void baudChangeTakesEffectOnTheOpenPort() {
        ConsoleFixture c;
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        pick(f.Combo2, 3);
        QCOMPARE(f.session().status().lineSettings, QStringLiteral("115200,N,8,1"));
        QCOMPARE(com1.speed(), speed_t(B115200));
        pick(f.Combo2, 0);
        QCOMPARE(com1.speed(), speed_t(B4800));
        QVERIFY(f.session().status().portOpen);
        QCOMPARE(com1.readFor(50), QByteArray()); // nothing is sent to the chip
    }

    void failedOpenShowsTheMessageOnce() {
        ConsoleFixture c;
        app::Form1& f = c.load(); // no COM1 here
        QCOMPARE(c.messages(), QStringList{kPortMessage});
        c.messages().clear();
        pick(f.Combo1, 19); // COM20
        QCOMPARE(c.messages(), QStringList{kPortMessage});
        QCOMPARE(f.session().status().commPort, 20);
        QVERIFY(!f.session().status().portOpen);
    }

    void linkChoiceKeepsThePort() {
        ConsoleFixture c;
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        f.Option4_Click();
        QCOMPARE(f.session().status().chunkLimit, 512);
        QVERIFY(f.session().status().usbLink);
        c.messages().clear(); // the chunk-limit notice, and no bridge here
        f.Option3_Click();
        QCOMPARE(f.session().status().chunkLimit, 4091);
        QVERIFY(!f.session().status().usbLink);
        QVERIFY(f.session().status().portOpen);
        QVERIFY(c.messages().isEmpty());
    }

    // An option set from code or by an accessibility action runs its handler,
    // so the link the window shows is the link in use.
    void optionSetByValueRunsItsHandler() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        c.messages().clear();
        f.Option4->setChecked(true);
        QCOMPARE(f.session().status().chunkLimit, 512);
        QVERIFY(f.session().status().usbLink);
        QCOMPARE(c.messages().value(0),
                 QStringLiteral(" 512字节：这是每次发送的最大文本字节长度（不含帧头的5字节）！"
                                "长文本请在F320中直接测试！目前F320最多仅能缓存此字节数！"
                                "大于此字节数需分包发送，但通讯握手需20ms，"
                                "大于帧与帧之间的最短间隔时间8ms，不可测试！"));
        QCOMPARE(c.messages().value(1), QStringLiteral("USB连接失败"));
        f.Option3->setChecked(true);
        QCOMPARE(f.session().status().chunkLimit, 4091);
        QVERIFY(!f.session().status().usbLink);
        // A handler called from code selects its own option.
        f.Option4_Click();
        QVERIFY(f.Option4->isChecked() && !f.Option3->isChecked());
        QVERIFY(f.session().status().usbLink);
    }
};

QTEST_MAIN(TestFormSerial)
#include "tst_form1_serial.moc"
