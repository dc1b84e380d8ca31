// The link controls of the window against real pseudo-terminals linked as
// COMn in the working folder: port and speed lists, the link options, the
// reply box, the one-byte command buttons and the synthesise button.
#include "app/form1.h"
#include "app_helpers.h"
#include "common/link_helpers.h"
#include "link/serial_port_service.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace qav;
using qav::test::ConsoleFixture;
using qav::test::PtyPort;

namespace {
const QString kPortMessage =
    QStringLiteral("串口不存在或被占用,若电脑没有串口，请使用USB转串口设备");

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
        QVERIFY(f.serialPort().portOpen());
        QCOMPARE(com1.speed(), speed_t(B9600));

        f.state().continueSynthesis = true;
        f.Command7->click();
        QCOMPARE(com1.read(4), QByteArray("\xFD\x00\x01\x02", 4));
        QVERIFY(!f.state().continueSynthesis);
        QCOMPARE(f.workLog().text(),
                 QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 02 \r\n"));
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
        f.state().continueSynthesis = true;
        auto* b = f.findChild<QPushButton*>(button);
        QVERIFY(b);
        QMetaObject::invokeMethod(b, "click"); // hidden ones too
        QCOMPARE(com1.read(4), QByteArray("\xFD\x00\x01", 3) + char(code));
        QVERIFY(f.state().continueSynthesis); // only stop ends continuous play
        QCOMPARE(f.state().lastFrameIndex, 3);
    }

    void pickingCom3MovesTheLinkThere() {
        ConsoleFixture c;
        PtyPort com1, com3;
        QVERIFY(com1.linkAs(c.dir(), 1));
        QVERIFY(com3.linkAs(c.dir(), 3));
        app::Form1& f = c.load();
        pick(f.Combo1, 2);
        QVERIFY(c.messages().isEmpty());
        QCOMPARE(f.serialPort().portName(), c.path(QStringLiteral("COM3")));
        f.Command7->click();
        QCOMPARE(com3.read(4), QByteArray("\xFD\x00\x01\x02", 4));
        QCOMPARE(com1.readFor(50), QByteArray());
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
        QTemporaryDir empty;
        f.session().setConversionTableFolder(empty.path());
        f.Command6->click();
        QCOMPARE(c.messages().size(), 1);
        QVERIFY(c.messages().first().contains(QStringLiteral("找不到GBKToBig5AndUnicode.dat文件")));
        QVERIFY(f.Command6->isEnabled());

        // "回传解释" unticked: replies wait in the port.
        f.workLog().clear();
        f.Check1->setChecked(false);
        QVERIFY(com1.write("A"));
        QTest::qWait(100);
        QVERIFY(f.workLog().text().isEmpty());
        f.Check1->setChecked(true);
        QVERIFY(com1.write("O"));
        QTRY_COMPARE(f.workLog().text(), QStringLiteral("<---- 返回：41  接收成功\r\n"
                                                        "<---- 返回：4F  芯片空闲\r\n"));
    }

    void baudChangeTakesEffectOnTheOpenPort() {
        ConsoleFixture c;
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        pick(f.Combo2, 3);
        QCOMPARE(f.serialPort().settings(), QStringLiteral("115200,N,8,1"));
        QCOMPARE(com1.speed(), speed_t(B115200));
        pick(f.Combo2, 0);
        QCOMPARE(com1.speed(), speed_t(B4800));
        QVERIFY(f.serialPort().portOpen());
        QCOMPARE(com1.readFor(50), QByteArray()); // nothing is sent to the chip
    }

    void failedOpenShowsTheMessageOnce() {
        ConsoleFixture c;
        app::Form1& f = c.load(); // no COM1 here
        QCOMPARE(c.messages(), QStringList{kPortMessage});
        c.messages().clear();
        pick(f.Combo1, 19); // COM20
        QCOMPARE(c.messages(), QStringList{kPortMessage});
        QCOMPARE(f.state().serialPortNumber, 20);
        QVERIFY(!f.serialPort().portOpen());
    }

    void linkChoiceKeepsThePort() {
        ConsoleFixture c;
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        f.Option4_Click();
        QCOMPARE(f.state().chunkLimit, 512);
        QVERIFY(f.session().useUsbLink());
        c.messages().clear(); // the chunk-limit notice, and no bridge here
        f.Option3_Click();
        QCOMPARE(f.state().chunkLimit, 4091);
        QVERIFY(!f.session().useUsbLink());
        QVERIFY(f.serialPort().portOpen());
        QVERIFY(c.messages().isEmpty());
    }

    // An option set from code or by an accessibility action runs its handler,
    // so the link the window shows is the link in use.
    void optionSetByValueRunsItsHandler() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        c.messages().clear();
        f.Option4->setChecked(true);
        QCOMPARE(f.state().chunkLimit, 512);
        QVERIFY(f.session().useUsbLink());
        QCOMPARE(c.messages().value(0), QStringLiteral(" 512") + f.state().chunkLimitNotice);
        f.Option3->setChecked(true);
        QCOMPARE(f.state().chunkLimit, 4091);
        QVERIFY(!f.session().useUsbLink());
        // A handler called from code selects its own option.
        f.Option4_Click();
        QVERIFY(f.Option4->isChecked() && !f.Option3->isChecked());
        QVERIFY(f.session().useUsbLink());
    }
};

QTEST_MAIN(TestFormSerial)
#include "tst_form1_serial.moc"
