// The session's serial link against real pseudo-terminals linked as COMn:
// choosing a port, a port that cannot be opened, one that is closed, frames
// at the pace of the line, and a device that goes away.
#include "common/link_helpers.h"
#include "session_helpers.h"

#include <QElapsedTimer>
#include <QTest>

using namespace qav;
using namespace qav::test;

namespace {
const QByteArray kStop("\xFD\x00\x01\x02", 4);
const QByteArray kHello = QByteArray::fromHex("FD 00 06 01 01 C4 E3 BA C3"); // 你好
} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT
private slots:
    void choosingAPortClosesTheOldOne() {
        SessionFixture s;
        PtyPort com1, com3;
        QVERIFY(com1.linkAs(s.dir(), 1));
        QVERIFY(com3.linkAs(s.dir(), 3));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        s.text().setText(QStringLiteral("你好"));
        QVERIFY(s.session().startContinuousPlay(100));
        QCOMPARE(com1.read(9), kHello);
        QVERIFY(s.session().selectPort(QStringLiteral("COM3")));
        QVERIFY(s.messages().isEmpty());
        QCOMPARE(s.session().status().commPort, 3);
        QCOMPARE(s.session().status().portName, s.path(QStringLiteral("COM3")));
        // Choosing a port ends continuous play: the chip's idle reply on the
        // new port starts no further round.
        s.session().clearWorkLog();
        QVERIFY(com3.write(QByteArray(1, '\x4F')));
        QTRY_COMPARE(s.log(), QStringLiteral("<---- 返回：4F  芯片空闲\r\n"));
        QCOMPARE(com3.readFor(50), QByteArray()); // checks that nothing is sent
        s.session().stop();
        QCOMPARE(com3.read(4), kStop);
        QCOMPARE(com1.readFor(50), QByteArray()); // checks that nothing is sent
        // The same port again closes and re-opens it.
        QVERIFY(s.session().selectPort(QStringLiteral("COM3")));
        QVERIFY(s.session().status().portOpen);
        QVERIFY(s.messages().isEmpty());
    }

    void portThatCannotBeOpened() {
        SessionFixture s;
        QVERIFY(!s.session().selectPort(QStringLiteral("COM20"))); // no COM20 here
        QCOMPARE(s.messages(), QStringList{kPortMessage});
        QCOMPARE(s.session().status().commPort, 20);
        QVERIFY(!s.session().status().portOpen);
        // Not a port at all: the message, and the port number stays.
        for (int index : {-1, 20})
            QVERIFY(!s.session().selectPort(QStringLiteral("COM%1").arg(index + 1)));
        QCOMPARE(s.messages(), QStringList(3, kPortMessage));
        QCOMPARE(s.session().status().commPort, 20);
    }

    void commandWithPortClosedIsLoggedNotSent() {
        SessionFixture s;
        PtyPort com1;
        QVERIFY(com1.linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        QVERIFY(!s.session().selectPort(
            QStringLiteral("COM2"))); // no COM2: COM1 is closed, nothing is open
        QVERIFY(!s.session().status().portOpen);
        QCOMPARE(s.messages(), QStringList{kPortMessage});
        s.messages().clear();
        s.text().setText(QStringLiteral("你好"));
        QVERIFY(s.session().startContinuousPlay(100));
        s.session().clearWorkLog();
        s.session().sendFrame(protocol::commandFrame(protocol::Command::QueryStatus));
        QCOMPARE(s.log(), QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 21 \r\n"));
        // Only stop ends continuous play (a closed port brings no idle reply
        // to show it; the window's test of the one-byte commands does).
        QVERIFY(s.session().status().continuousPlay);
        QCOMPARE(com1.readFor(50), QByteArray()); // checks that nothing is sent
        QVERIFY(s.messages().isEmpty());
    }

    // At 9600 baud a frame of 1005 bytes is about a second on the line. The
    // frames handed over meanwhile wait their turn; "停止" takes back those
    // that have not begun, each with its line, and goes out right after the
    // frame under way, once that frame's time on the line has passed.
    void stopTakesBackTheFramesNotBegun() {
        SessionFixture s;
        PtyPort com1;
        QVERIFY(com1.linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        QVERIFY(s.session().setLineSettings(QStringLiteral("9600,N,8,1")));
        s.text().setText(QString(1000, QLatin1Char('x')));
        const QByteArray frame = QByteArray::fromHex("FD03EA0101") + QByteArray(1000, 'x');
        QElapsedTimer clock;
        clock.start();
        s.session().synthesize();
        s.session().sendFrame(protocol::commandFrame(protocol::Command::Pause));
        s.session().sendFrame(protocol::commandFrame(protocol::Command::Resume));
        s.session().stop();
        QCOMPARE(s.log(), frameEntry(frame) +
                              QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 03 \r\n"
                                             "发出一帧，字节数  4\r\n----> FD 00 01 04 \r\n") +
                              kDroppedLine + kDroppedLine + kStopEntry);
        QCOMPARE(com1.read(frame.size()), frame);
        QCOMPARE(com1.read(4, 3000), kStop);
        // 1005 characters of ten bits at 9600 baud: 1047 ms.
        QVERIFY2(clock.elapsed() >= 1040, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(com1.readFor(50), QByteArray()); // checks that nothing else is sent
        QVERIFY(s.session().status().largestSerialBacklog <= frame.size());
    }

    void vanishedDeviceClosesThePortWithOneMessage() {
        SessionFixture s;
        auto com1 = std::make_unique<PtyPort>();
        QVERIFY(com1->linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        com1->closeSlave();
        com1->closeMaster();
        QTRY_VERIFY(!s.session().status().portOpen);
        QTest::qWait(50); // checks that no second message follows
        QCOMPARE(s.messages(), QStringList{kPortMessage});
        // The session goes on: commands are logged, nothing breaks.
        s.session().stop();
        QCOMPARE(s.log(), QStringLiteral("串口COM1已断开：the line hung up\r\n"
                                         "发出一帧，字节数  4\r\n----> FD 00 01 02 \r\n"));
        QCOMPARE(s.messages().size(), 1);
        // A new device under the same name is picked up by the next selection.
        com1 = std::make_unique<PtyPort>();
        QVERIFY(com1->linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        s.session().sendFrame(protocol::commandFrame(protocol::Command::Resume));
        QCOMPARE(com1->read(4), QByteArray("\xFD\x00\x01\x04", 4));
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_serial_link.moc"
