// The links under faults, seen from the session: the stop goes first over
// USB, a sequence gives the link one frame at a time, a message about a fault
// that heals by itself does not hold a sequence while one that asks the
// engineer to act does, the bridge's reader comes back by itself, and a serial
// adapter that is pulled out and plugged in again is opened again.
#include "chip_model.h"
#include "common/link_helpers.h"
#include "common/report_helpers.h"
#include "emulated_bridge.h"
#include "session/console_session.h"
#include "session_helpers.h"
#include "tools/script_frames.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace qav;
using session::ConsoleSession;
using test::bytesOf;
using test::loggedFrames;
namespace script = test::script;
using test::kDroppedLine;
using test::kPortMessage;
using test::kTableMessage;
using test::SessionFixture;
using Sequence = ConsoleSession::Sequence;

namespace {

QByteArray report(const char* hexPacket) {
    QByteArray r = QByteArray::fromHex(hexPacket);
    r.append(QByteArray(33 - r.size(), '\0'));
    return r;
}

const QByteArray kInterrupt = QByteArray::fromHex("FD 00 06 01 01 B4 F2 B6 CF"); // 打断

qsizetype frameCount(SessionFixture& s) {
    return s.log().count(QStringLiteral("发出一帧"));
}

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
            s.session().sendFrame(protocol::commandFrame(protocol::Command::QueryStatus));
        s.session().stop();
        QTRY_COMPARE(bridge.reportsWritten().size(), 2);
        QTest::qWait(200); // checks that nothing more is written
        const auto& written = bridge.reportsWritten();
        QCOMPARE(written.size(), 2);
        QCOMPARE(bytesOf(written[0]), report("00BC04FD000121"));
        QCOMPARE(bytesOf(written[1]), report("00BC04FD000102"));
        QCOMPARE(s.log().count(kDroppedLine), 30);
        QVERIFY(s.log().contains(kDroppedLine.repeated(30) +
                                 QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 02 \r\n")));

        // A frame whose packets have begun is finished first: the bridge hands
        // each packet on to the chip, and a frame cut short would swallow the stop.
        bridge.clearRecords();
        s.session().sendFrame(QByteArray(62, '\x11'));
        s.session().sendFrame(protocol::commandFrame(protocol::Command::Pause));
        s.session().stop();
        // Two full packets and an empty last one, then the stop.
        QTRY_COMPARE(bridge.reportsWritten().size(), 4);
        QTest::qWait(100); // checks that nothing more is written
        QCOMPARE(bridge.reportsWritten().size(), 4);
        QCOMPARE(bytesOf(bridge.reportsWritten()[2]), report("00BC00"));
        QCOMPARE(bytesOf(bridge.reportsWritten()[3]), report("00BC04FD000102"));
        QCOMPARE(s.log().count(kDroppedLine), 31);
    }

    // Each step's frame is taken by the link before the step's wait begins, so
    // a fast sequence never piles frames up behind a slow bridge: when a step
    // hands over its frame, at most that one frame is not yet with the bridge.
    void sequenceGivesTheLinkOneFrameAtATime() {
        SessionFixture s(SessionFixture::emulatedBridge());
        s.useUsbLink();
        sim::EmulatedBridge& bridge = *s.emulator();
        bridge.setAckDelay(20);
        qsizetype handedOver = 0;
        qsizetype most = 0;
        const auto counting = connect(&s.session(), &ConsoleSession::frameSent, &bridge, [&] {
            ++handedOver;
            most = std::max(most, handedOver - bridge.framesReceived().size());
        });
        s.text().setText(QStringLiteral("打断"));
        s.session().toggleSequence(Sequence::InterruptedPlay, 0, 100);
        QTRY_VERIFY_WITH_TIMEOUT(bridge.framesReceived().size() >= 20, 5000);
        disconnect(counting);
        s.session().stop();
        QVERIFY2(most <= 1, qPrintable(QString::number(most)));
        // Nothing waited behind the frame under way when "停止" came.
        QVERIFY(s.log().count(kDroppedLine) <= 1);
    }

    // No bridge at all: the sequence raises "USB连接失败" once. The bridge
    // may be plugged in at any time, so the box does not hold the sequence:
    // it goes on, each frame with its line, while the box is open, and
    // "停止" ends it.
    void noBridgeRaisesOneBoxAndTheSequenceGoesOn() {
        SessionFixture s;
        ConsoleSession::Options timing;
        timing.sequenceTimeScale = 100;
        s.setOptions(timing);
        s.useUsbLink();
        s.sink().keepOpen = true;
        s.text().setText(QStringLiteral("打断"));
        s.session().toggleSequence(Sequence::InterruptedPlay, 0, 2);
        QTRY_VERIFY(frameCount(s) > 10);
        QCOMPARE(s.sink().openBoxes(), 1);
        QCOMPARE(s.messages(), QStringList{QStringLiteral("USB连接失败")});
        s.session().stop();
        const qsizetype frames = frameCount(s);
        QCOMPARE(s.log().count(QStringLiteral("操作失败请先联接\r\n")), frames);
        QTest::qWait(100); // checks that no frame follows the stop
        QCOMPARE(frameCount(s), frames);
        s.sink().acknowledge();
        QCOMPARE(s.sink().openBoxes(), 0);
        QCOMPARE(s.messages().size(), 1);
    }

    // The serial adapter is pulled out while a sequence runs: its message box
    // stays open (nobody at the bench), the adapter comes back and the port is
    // opened again by itself, and the sequence's frames reach the line again
    // with the box still open.
    void sequenceGoesOnOnceThePortIsBackWithItsBoxOpen() {
        SessionFixture s;
        ConsoleSession::Options timing;
        timing.sequenceTimeScale = 10;
        s.setOptions(timing);
        s.sink().keepOpen = true;
        auto first = std::make_unique<test::PtyPort>();
        QVERIFY(first->linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        s.text().setText(QStringLiteral("打断"));
        s.session().toggleSequence(Sequence::InterruptedPlay, 10, 0);
        QCOMPARE(first->read(9), kInterrupt);

        first->closeSlave();
        first->closeMaster();
        QFile::remove(QDir(s.dir()).filePath(QStringLiteral("COM1")));
        QTRY_VERIFY(!s.session().status().portOpen);
        QCOMPARE(s.messages(), QStringList{kPortMessage});
        QCOMPARE(s.sink().openBoxes(), 1);
        first.reset();

        test::PtyPort second;
        QVERIFY(second.linkAs(s.dir(), 1));
        QTRY_VERIFY_WITH_TIMEOUT(s.log().contains(QStringLiteral("串口COM1已重新打开\r\n")), 3000);
        // Both frames of the cycle, the request and the marker, on the new line.
        const QByteArray got = second.read(64, 3000);
        QVERIFY2(got.contains(kInterrupt), got.toHex(' ').constData());
        QVERIFY2(got.contains(script::cycleMarker()), got.toHex(' ').constData());
        QCOMPARE(s.sink().openBoxes(), 1);
        QCOMPARE(s.messages().size(), 1);
        QCOMPARE(s.session().status().sequence, Sequence::InterruptedPlay);
        s.session().stop();
    }

    // A message that asks the engineer to act holds the sequence while its box
    // is open: script 45 in BIG5 without the conversion table stops at its
    // first synthesis until OK, then goes on without raising it again.
    void tableMissingHoldsScript45UntilOk() {
        SessionFixture s;
        QTemporaryDir noTable;
        ConsoleSession::Options timing;
        timing.sequenceTimeScale = 1000;
        timing.tableFolder = noTable.path();
        s.setOptions(timing);
        s.session().setEncoding(int(protocol::Encoding::Big5));
        s.sink().keepOpen = true;
        s.session().toggleSequence(Sequence::Script45);
        QTRY_COMPARE(s.messages(), QStringList{kTableMessage});
        QTest::qWait(200); // checks that the sequence is held
        QCOMPARE(s.session().status().sequence, Sequence::Script45);
        QCOMPARE(loggedFrames(s.log()), QList<QByteArray>{script::announcement(4)});

        s.sink().acknowledge();
        QTRY_VERIFY(loggedFrames(s.log()).contains(script::announcement(5)));
        QCOMPARE(loggedFrames(s.log()).mid(0, 2),
                 (QList<QByteArray>{script::announcement(4), script::announcement(5)}));
        QCOMPARE(s.messages().size(), 1);
        QCOMPARE(s.sink().openBoxes(), 0);
        s.session().stop();
    }

    // The bridge's reader stops on an error: one line with the cause; the
    // bridge is searched for again, and once back its replies come through
    // without any write.
    void bridgeReaderComesBackWithoutAWrite() {
        SessionFixture s(SessionFixture::emulatedBridge());
        s.useUsbLink();
        sim::EmulatedBridge& bridge = *s.emulator();
        QVERIFY(s.session().status().linkOpen); // choosing the link found the bridge
        bridge.vanish();
        QTRY_VERIFY(s.log().contains(QStringLiteral("F320读取失败：device disconnected\r\n")));
        bridge.comeBack();
        QTRY_VERIFY_WITH_TIMEOUT(s.log().contains(QStringLiteral("F320已重新联接\r\n")), 3000);
        bridge.clearRecords();
        emit bridge.chip().spontaneousReply(QByteArray(1, '\x4F'));
        QTRY_VERIFY(s.log().endsWith(QStringLiteral("<-0x4F  芯片空闲\r\n")));
        QVERIFY(bridge.reportsWritten().isEmpty());
        QCOMPARE(s.log().count(QStringLiteral("F320读取失败：")), 1);
        QCOMPARE(s.log().count(QStringLiteral("F320已重新联接\r\n")), 1);
    }

    // The adapter is pulled out (its pseudo-terminal goes) and plugged in
    // again (a new one linked as the same COM1): the console opens it again by
    // itself, says so in the log, and frames reach the new line.
    void serialAdapterBackIsOpenedAgain() {
        SessionFixture s;
        auto first = std::make_unique<test::PtyPort>();
        QVERIFY(first->linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        first->closeSlave();
        first->closeMaster();
        QFile::remove(QDir(s.dir()).filePath(QStringLiteral("COM1")));
        QTRY_VERIFY(!s.session().status().portOpen);
        QCOMPARE(s.messages(), QStringList{kPortMessage});
        QVERIFY(s.log().startsWith(QStringLiteral("串口COM1已断开：")));
        first.reset();

        test::PtyPort second;
        QVERIFY(second.linkAs(s.dir(), 1));
        QTRY_VERIFY_WITH_TIMEOUT(s.session().status().portOpen, 2000);
        QVERIFY(s.log().endsWith(QStringLiteral("串口COM1已重新打开\r\n")));
        QCOMPARE(s.log().count(QStringLiteral("\r\n")), 2);
        s.session().sendFrame(protocol::commandFrame(protocol::Command::Stop));
        QCOMPARE(second.read(4), QByteArray("\xFD\x00\x01\x02", 4));
        QCOMPARE(s.messages().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestLinkFaults)
#include "tst_link_faults.moc"
