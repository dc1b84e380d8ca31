// The session's serial link against real pseudo-terminals linked as COMn:
// choosing a port, a port that cannot be opened, one that is closed, and a
// device that goes away.
#include "common/link_helpers.h"
#include "link/serial_port_service.h"
#include "session_helpers.h"

#include <QTest>

using namespace qav;
using namespace qav::test;

namespace {
const QString kPortMessage =
    QStringLiteral("串口不存在或被占用,若电脑没有串口，请使用USB转串口设备");
const QByteArray kStop("\xFD\x00\x01\x02", 4);
} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT
private slots:
    void choosingAPortClosesTheOldOne() {
        SessionFixture s;
        PtyPort com1, com3;
        QVERIFY(com1.linkAs(s.dir(), 1));
        QVERIFY(com3.linkAs(s.dir(), 3));
        QVERIFY(s.session().selectPort(0));
        s.state().continueSynthesis = true;
        QVERIFY(s.session().selectPort(2));
        QVERIFY(s.messages().isEmpty());
        QCOMPARE(s.state().serialPortNumber, 3);
        QVERIFY(!s.state().continueSynthesis);
        QCOMPARE(s.session().serialPort().portName(), s.path(QStringLiteral("COM3")));
        s.session().stop();
        QCOMPARE(com3.read(4), kStop);
        QCOMPARE(com1.readFor(50), QByteArray());
        // The same port again closes and re-opens it.
        QVERIFY(s.session().selectPort(2));
        QVERIFY(s.session().serialPort().portOpen());
        QVERIFY(s.messages().isEmpty());
    }

    void portThatCannotBeOpened() {
        SessionFixture s;
        QVERIFY(!s.session().selectPort(19)); // no COM20 here
        QCOMPARE(s.messages(), QStringList{kPortMessage});
        QCOMPARE(s.state().serialPortNumber, 20);
        QVERIFY(!s.session().serialPort().portOpen());
        // Not a port at all: the message, and the port number stays.
        for (int index : {-1, 20})
            QVERIFY(!s.session().selectPort(index));
        QCOMPARE(s.messages(), QStringList(3, kPortMessage));
        QCOMPARE(s.state().serialPortNumber, 20);
    }

    void commandWithPortClosedIsLoggedNotSent() {
        SessionFixture s;
        PtyPort com1;
        QVERIFY(com1.linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(0));
        s.session().serialPort().close();
        s.state().continueSynthesis = true;
        s.session().sendCommand(protocol::Command::QueryStatus);
        QCOMPARE(s.log(), QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 21 \r\n"));
        QCOMPARE(s.state().lastFrameIndex, 3);
        QVERIFY(s.state().continueSynthesis); // only stop ends continuous play
        QCOMPARE(com1.readFor(50), QByteArray());
        QVERIFY(s.messages().isEmpty());
    }

    void vanishedDeviceClosesThePortWithOneMessage() {
        SessionFixture s;
        auto com1 = std::make_unique<PtyPort>();
        QVERIFY(com1->linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(0));
        com1->closeSlave();
        com1->closeMaster();
        QTRY_VERIFY(!s.session().serialPort().portOpen());
        QTest::qWait(50);
        QCOMPARE(s.messages(), QStringList{kPortMessage});
        // The session goes on: commands are logged, nothing breaks.
        s.session().stop();
        QCOMPARE(s.log(), QStringLiteral("串口COM1已断开：the line hung up\r\n"
                                         "发出一帧，字节数  4\r\n----> FD 00 01 02 \r\n"));
        QCOMPARE(s.messages().size(), 1);
        // A new device under the same name is picked up by the next selection.
        com1 = std::make_unique<PtyPort>();
        QVERIFY(com1->linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(0));
        s.session().sendCommand(protocol::Command::Resume);
        QCOMPARE(com1->read(4), QByteArray("\xFD\x00\x01\x04", 4));
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
