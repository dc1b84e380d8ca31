// The links under faults, seen from the session: the stop goes first over
// USB, a sequence gives the link one frame at a time and waits while its
// message box is open, the bridge's reader comes back by itself, and a serial
// adapter that is pulled out and plugged in again is opened again.
#include "chip_model.h"
#include "common/link_helpers.h"
#include "emulated_bridge.h"
#include "link/frame_dispatcher.h"
#include "link/serial_port_service.h"
#include "link/usb_packet_sender.h"
#include "session/console_session.h"
#include "session_helpers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace qav;
using session::ConsoleSession;
using test::SessionFixture;

namespace {

QByteArray report(const char* hexPacket) {
    QByteArray r = QByteArray::fromHex(hexPacket);
    r.append(QByteArray(33 - r.size(), '\0'));
    return r;
}

QByteArray bytesOf(const link::Report& r) {
    return QByteArray(reinterpret_cast<const char*>(r.data()), int(r.size()));
}

const QString kDropped = QStringLiteral("操作失败：已停止，本帧未发出\r\n");

} // namespace

class TestLinkFaults : public QObject {
    Q_OBJECT
private slots:
    // Thirty queries wait behind the one in flight; "停止" goes out as the next
    // packet, the thirty are dropped with a line each and never written.
    void stopGoesFirstOverUsb() {
        SessionFixture s(SessionFixture::emulatedBridge());
        s.useUsbLink();
        sim::EmulatedBridge& bridge = *s.emulator();
        bridge.setAckDelay(20);
        for (int i = 0; i < 31; ++i)
            s.session().sendCommand(protocol::Command::QueryStatus);
        s.session().stop();
        QTRY_COMPARE(bridge.reportsWritten().size(), 2);
        QTest::qWait(200);
        const auto& written = bridge.reportsWritten();
        QCOMPARE(written.size(), 2);
        QCOMPARE(bytesOf(written[0]), report("00BC04FD000121"));
        QCOMPARE(bytesOf(written[1]), report("00BC04FD000102"));
        QCOMPARE(s.log().count(kDropped), 30);
        QVERIFY(s.log().contains(kDropped.repeated(30) +
                                 QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 02 \r\n")));

        // A frame whose packets have begun is finished first: the bridge hands
        // each packet on to the chip, and a frame cut short would swallow the stop.
        bridge.clearRecords();
        s.session().sendFrame(QByteArray(62, '\x11'));
        s.session().sendCommand(protocol::Command::Pause);
        s.session().stop();
        // Two full packets and an empty last one, then the stop.
        QTRY_COMPARE(bridge.reportsWritten().size(), 4);
        QTest::qWait(100);
        QCOMPARE(bridge.reportsWritten().size(), 4);
        QCOMPARE(bytesOf(bridge.reportsWritten()[2]), report("00BC00"));
        QCOMPARE(bytesOf(bridge.reportsWritten()[3]), report("00BC04FD000102"));
        QCOMPARE(s.log().count(kDropped), 31);
    }

    // Each step's frame is taken by the link before the step's wait begins, so
    // a fast sequence never piles frames up behind a slow bridge.
    void sequenceGivesTheLinkOneFrameAtATime() {
        SessionFixture s(SessionFixture::emulatedBridge());
        s.useUsbLink();
        sim::EmulatedBridge& bridge = *s.emulator();
        bridge.setAckDelay(20);
        s.text().setText(QStringLiteral("打断"));
        s.session().toggleSequence(ConsoleSession::Sequence::InterruptedPlay, 0, 100);
        qsizetype most = 0;
        QVERIFY(!QTest::qWaitFor(
            [&] {
                most = std::max(most, s.session().usbSender().queuedFrames());
                return most > 1;
            },
            1000));
        QVERIFY2(bridge.framesReceived().size() >= 20,
                 qPrintable(QString::number(bridge.framesReceived().size())));
        s.session().stop();
    }

    // No bridge at all: the sequence raises "USB连接失败" once, waits while the
    // box is open, goes on quietly after OK, and "停止" ends it.
    void noBridgeRaisesOneBoxAndStopEndsTheSequence() {
        SessionFixture s;
        s.useUsbLink();
        s.sink().keepOpen = true;
        s.text().setText(QStringLiteral("打断"));
        s.session().toggleSequence(ConsoleSession::Sequence::InterruptedPlay, 0, 2);
        QTest::qWait(200);
        QCOMPARE(s.sink().openBoxes(), 1);
        QCOMPARE(s.messages(), QStringList{QStringLiteral("USB连接失败")});
        // Held while the box is open: one frame, one line that it found no bridge.
        QCOMPARE(s.log().count(QStringLiteral("发出一帧")), 1);
        QCOMPARE(s.log().count(QStringLiteral("操作失败请先联接\r\n")), 1);

        s.sink().acknowledge();
        QTRY_VERIFY(s.log().count(QStringLiteral("发出一帧")) > 10);
        QCOMPARE(s.messages().size(), 1);
        QCOMPARE(s.sink().openBoxes(), 0);
        s.session().stop();
        const qsizetype frames = s.log().count(QStringLiteral("发出一帧"));
        QTest::qWait(100);
        QCOMPARE(s.log().count(QStringLiteral("发出一帧")), frames);
    }

    // The bridge's reader stops on an error: one line with the cause; the
    // bridge is searched for again, and once back its replies come through
    // without any write.
    void bridgeReaderComesBackWithoutAWrite() {
        SessionFixture s(SessionFixture::emulatedBridge());
        s.useUsbLink();
        sim::EmulatedBridge& bridge = *s.emulator();
        QVERIFY(s.session().findBridge());
        bridge.vanish();
        QTRY_VERIFY(s.log().contains(QStringLiteral("F320读取失败：device disconnected\r\n")));
        bridge.comeBack();
        QTRY_VERIFY_WITH_TIMEOUT(s.log().contains(QStringLiteral("F320已重新联接\r\n")), 3000);
        bridge.clearRecords();
        emit bridge.chip().spontaneousReply(QByteArray(1, '\x4F'));
        QTRY_VERIFY(s.log().endsWith(QStringLiteral("<-0x4F  芯片空闲\r\n")));
        QVERIFY(bridge.reportsWritten().isEmpty());
        QVERIFY(!s.session().watchingForBridge());
    }

    // The adapter is pulled out (its pseudo-terminal goes) and plugged in
    // again (a new one linked as the same COM1): the console opens it again by
    // itself, says so in the log, and frames reach the new line.
    void serialAdapterBackIsOpenedAgain() {
        SessionFixture s;
        auto first = std::make_unique<test::PtyPort>();
        QVERIFY(first->linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(0));
        first->closeSlave();
        first->closeMaster();
        QFile::remove(QDir(s.dir()).filePath(QStringLiteral("COM1")));
        QTRY_VERIFY(!s.session().serialPort().portOpen());
        QCOMPARE(s.messages(), QStringList{QString::fromUtf8(ConsoleSession::kPortMessage)});
        QVERIFY(s.log().startsWith(QStringLiteral("串口COM1已断开：")));
        first.reset();

        test::PtyPort second;
        QVERIFY(second.linkAs(s.dir(), 1));
        QTRY_VERIFY_WITH_TIMEOUT(s.session().serialPort().portOpen(), 2000);
        QVERIFY(s.log().endsWith(QStringLiteral("串口COM1已重新打开\r\n")));
        QCOMPARE(s.log().count(QStringLiteral("\r\n")), 2);
        s.session().sendCommand(protocol::Command::Stop);
        QCOMPARE(second.read(4), QByteArray("\xFD\x00\x01\x02", 4));
        QCOMPARE(s.messages().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestLinkFaults)
#include "tst_link_faults.moc"
