// The bridge emulator on its own: what it answers to the reports it takes,
// and its faults.

#include "chip_model.h"
#include "emulated_bridge.h"
#include "protocol/frame.h"
#include "protocol/usb_packets.h"

#include <QSignalSpy>
#include <QTest>

using namespace qav;
using protocol::Command;

namespace {

struct Rig {
    sim::EmulatedBridge bridge;
    QByteArray answers; // byte 1 of every input report, in order
    bool insideWrite = false;
    bool reentered = false;

    Rig() {
        QObject::connect(&bridge, &link::HidBridge::inputReport, [this](const QByteArray& r) {
            reentered |= insideWrite;
            answers.append(r[1]);
        });
    }
    // Writes a frame's reports straight away, without waiting for answers.
    void write(const QByteArray& frame) {
        QVERIFY(bridge.find());
        for (const auto& packet : protocol::cutIntoUsbPackets(frame)) {
            insideWrite = true;
            QVERIFY(bridge.writeReport(packet.report));
            insideWrite = false;
        }
    }
    bool waitFor(const QByteArray& expected) {
        return QTest::qWaitFor([&] { return answers.size() >= expected.size(); }, 5000) &&
               answers == expected;
    }
};

QByteArray speak(int characters) {
    return *protocol::parameterFrame(Command::Synthesize, 1, QByteArray(characters, 'a'));
}

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

} // namespace

class TestBridge : public QObject {
    Q_OBJECT
private slots:
    void framesAreRebuiltAndEachPacketAnswered_data() {
        QTest::addColumn<int>("length");
        for (int n : {2, 4, 30, 31, 32, 62, 517})
            QTest::addRow("%d bytes", n) << n;
    }

    void framesAreRebuiltAndEachPacketAnswered() {
        QFETCH(int, length);
        Rig rig;
        QByteArray frame(length, '\0');
        for (int i = 0; i < length; ++i)
            frame[i] = char(0x30 + i % 64);
        rig.write(frame);
        const QByteArray expectFrame = length <= 3 ? frame.leftJustified(3, '\0') : frame;
        QCOMPARE(rig.bridge.framesReceived(), QList<QByteArray>{expectFrame});
        const int packets = length <= 3 ? 1 : length / 31 + 1;
        // One 0x5E per packet, then the chip's verdict on these bytes
        // (none of them is a frame it can use).
        QVERIFY(rig.waitFor(QByteArray(packets, char(0x5E)) + bytes({0x45})));
        QVERIFY(!rig.reentered);
    }

    void receiptsFollowTheChipStateBeforeTheFrame() {
        Rig rig;
        rig.bridge.chip().setTimeScale(1); // keep speaking for the whole test
        rig.write(speak(20));
        QVERIFY(rig.waitFor(bytes({0x5E, 0xAA})));
        rig.write(protocol::commandFrame(Command::QueryStatus));
        QVERIFY(rig.waitFor(bytes({0x5E, 0xAA, 0x5E, 0xAC, 0xAD})));
        rig.write(protocol::commandFrame(Command::Pause));
        rig.write(protocol::commandFrame(Command::QueryStatus));
        // A paused chip still counts as busy for the status query.
        QVERIFY(rig.waitFor(bytes({0x5E, 0xAA, 0x5E, 0xAC, 0xAD, 0x5E, 0xAC, 0x5E, 0xAB, 0xAD})));
        rig.answers.clear();
        // Stop: the receipt, then the chip's own idle byte.
        rig.write(protocol::commandFrame(Command::Stop));
        QVERIFY(rig.waitFor(bytes({0x5E, 0xAB, 0x4F})));
        QVERIFY(!rig.reentered);
    }

    void endOfSpeechIsForwarded() {
        Rig rig;
        rig.bridge.chip().setTimeScale(1000);
        rig.write(speak(4));
        QVERIFY(rig.waitFor(bytes({0x5E, 0xAA, 0x4F})));
    }

    void hungChipLeavesTheBridgeOnlyItsAcknowledgements() {
        Rig rig;
        auto& chip = rig.bridge.chip();
        chip.setTimeScale(1000);
        chip.setHangAfter(1);
        chip.setRecoverAfterMs(200);
        rig.write(speak(4)); // taken, starts speaking, and the chip hangs
        QVERIFY(rig.waitFor(bytes({0x5E, 0xAA})));
        rig.write(protocol::commandFrame(Command::QueryStatus));
        rig.write(protocol::commandFrame(Command::Stop));
        // The packets are taken; no receipt, no idle report, until the 0x4A.
        QVERIFY(rig.waitFor(bytes({0x5E, 0xAA, 0x5E, 0x5E, 0x4A})));
        rig.write(protocol::commandFrame(Command::QueryStatus));
        QVERIFY(rig.waitFor(bytes({0x5E, 0xAA, 0x5E, 0x5E, 0x4A, 0x5E, 0xAA})));
        QVERIFY(!rig.reentered);
    }

    void everyNthIdleReportIsLeftOut() {
        Rig rig;
        auto& chip = rig.bridge.chip();
        chip.setTimeScale(1000);
        chip.setDropIdleEvery(2);
        QSignalSpy dropped(&chip, &sim::ChipModel::idleReplyDropped);
        rig.write(speak(4));
        QVERIFY(rig.waitFor(bytes({0x5E, 0xAA, 0x4F})));
        rig.write(speak(4));
        QTRY_COMPARE(dropped.size(), 1);
        rig.write(speak(4));
        QVERIFY(rig.waitFor(bytes({0x5E, 0xAA, 0x4F, 0x5E, 0xAA, 0x5E, 0xAA, 0x4F})));
        rig.write(protocol::commandFrame(Command::Stop));
        QTRY_COMPARE(dropped.size(), 2);
        rig.write(protocol::commandFrame(Command::Stop));
        QVERIFY(rig.waitFor(
            bytes({0x5E, 0xAA, 0x4F, 0x5E, 0xAA, 0x5E, 0xAA, 0x4F, 0x5E, 0xAA, 0x5E, 0xAA, 0x4F})));
    }

    void vanishingLosesTheHalfFrameAndComingBackRecovers() {
        Rig rig;
        QSignalSpy failed(&rig.bridge, &link::HidBridge::readFailed);
        QVERIFY(rig.bridge.find());
        const auto first = protocol::cutIntoUsbPackets(speak(70));
        QVERIFY(rig.bridge.writeReport(first[0].report));
        rig.bridge.vanish();
        QVERIFY(!rig.bridge.isOpen());
        QVERIFY(!rig.bridge.find());
        QVERIFY(!rig.bridge.writeReport(first[1].report));
        QTRY_COMPARE(failed.count(), 1);
        QVERIFY(rig.answers.isEmpty()); // the answer still on its way is lost too

        rig.bridge.comeBack();
        QVERIFY(!rig.bridge.isOpen()); // until it is searched for
        const QByteArray frame = speak(40);
        rig.write(frame);
        QCOMPARE(rig.bridge.framesReceived(), QList<QByteArray>{frame});
        QVERIFY(rig.waitFor(bytes({0x5E, 0x5E, 0xAA})));
    }
};

QTEST_GUILESS_MAIN(TestBridge)
#include "tst_bridge.moc"
