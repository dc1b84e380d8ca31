// Frames over the USB link, report by report, against the bridge emulator:
// layout, pacing by acknowledgements, queued frames and faults.

#include "chip_model.h"
#include "emulated_bridge.h"
#include "link/usb_packet_sender.h"
#include "protocol/frame.h"

#include <QSignalSpy>
#include <QTest>

using namespace qav;
using link::UsbPacketSender;

namespace {

QByteArray bytesOf(const link::Report& report) {
    return QByteArray(reinterpret_cast<const char*>(report.data()), int(report.size()));
}

QByteArray synthesisFrame(int textBytes) {
    QByteArray text(textBytes, 'a');
    for (int i = 0; i < textBytes; ++i)
        text[i] = char('a' + i % 26);
    return *protocol::parameterFrame(protocol::Command::Synthesize, 1, text);
}

// The sender, the emulated bridge and the owner's part in between: every
// 0x5E read from the bridge goes back to the sender, as the window does it.
struct Rig {
    sim::EmulatedBridge bridge;
    UsbPacketSender sender{&bridge};
    QList<UsbPacketSender::Ack> acks;
    int acksRead = 0;
    QByteArray replies; // everything but 0x5E
    QStringList log;
    int notFound = 0;
    // Acknowledgements seen when each report was written.
    QList<int> acksAtWrite;

    Rig() {
        bridge.chip().setTimeScale(1000);
        QObject::connect(&bridge, &link::HidBridge::inputReport, [this](const QByteArray& r) {
            if (std::uint8_t(r[1]) == protocol::reply::kBridgeAck) {
                ++acksRead;
                acks.append(sender.acknowledge());
            } else {
                replies.append(r[1]);
            }
        });
        QObject::connect(&bridge, &sim::EmulatedBridge::reportWritten,
                         [this](const link::Report&) { acksAtWrite.append(acksRead); });
        QObject::connect(&sender, &UsbPacketSender::workLogLine,
                         [this](const QString& line) { log.append(line); });
        QObject::connect(&sender, &UsbPacketSender::bridgeNotFound, [this] { ++notFound; });
    }
    int written() const { return int(bridge.reportsWritten().size()); }
    bool settle(int reports) {
        return QTest::qWaitFor([&] { return written() >= reports && !sender.busy(); }, 5000);
    }
};

} // namespace

class TestUsbSender : public QObject {
    Q_OBJECT
private slots:
    void commandFrameIsOneReportWithoutWaiting() {
        Rig rig;
        rig.sender.send(protocol::commandFrame(protocol::Command::Stop));
        // Written at once, inside send, and nothing is awaited.
        QCOMPARE(rig.written(), 1);
        QVERIFY(!rig.sender.ackPending());
        QCOMPARE(bytesOf(rig.bridge.reportsWritten()[0]),
                 QByteArray::fromHex("00BC04FD000102") + QByteArray(26, '\0'));
        QVERIFY(rig.bridge.searches() >= 1);
        // The bridge's 0x5E for a last packet releases nothing.
        QTRY_COMPARE(rig.acks.size(), 1);
        QCOMPARE(rig.acks[0], UsbPacketSender::Ack::Other);
    }

    void twoByteHexSendIsAShortPacket() {
        Rig rig;
        rig.sender.send(QByteArray::fromHex("FD00"));
        QCOMPARE(rig.written(), 1);
        QCOMPARE(bytesOf(rig.bridge.reportsWritten()[0]),
                 QByteArray::fromHex("00FD00") + QByteArray(30, '\0'));
    }

    void frameOf31BytesWaitsForTheAcknowledgement() {
        Rig rig;
        const QByteArray frame = synthesisFrame(26);
        QCOMPARE(frame.size(), 31);
        QSignalSpy pending(&rig.sender, &UsbPacketSender::ackPendingChanged);
        rig.sender.send(frame);
        QCOMPARE(rig.written(), 1);
        QVERIFY(rig.sender.ackPending());
        QVERIFY(rig.settle(2));
        QCOMPARE(rig.written(), 2);
        QCOMPARE(bytesOf(rig.bridge.reportsWritten()[0]), QByteArray::fromHex("00FC") + frame);
        QCOMPARE(bytesOf(rig.bridge.reportsWritten()[1]),
                 QByteArray::fromHex("00BC00") + QByteArray(30, '\0'));
        QCOMPARE(rig.acksAtWrite, (QList<int>{0, 1}));
        QCOMPARE(pending.count(), 2); // raised and cleared once
        QVERIFY(!rig.sender.ackPending());
    }

    void synthesisFrameOf517Bytes() {
        Rig rig;
        rig.bridge.setAckDelay(2);
        const QByteArray frame = synthesisFrame(512);
        rig.sender.send(frame);
        QVERIFY(rig.settle(17));
        const auto& reports = rig.bridge.reportsWritten();
        QCOMPARE(reports.size(), 17);
        for (int k = 0; k < 16; ++k)
            QCOMPARE(bytesOf(reports[k]), QByteArray::fromHex("00FC") + frame.mid(31 * k, 31));
        QCOMPARE(bytesOf(reports[16]),
                 QByteArray::fromHex("00BC15") + frame.mid(496) + QByteArray(9, '\0'));
        // Report k went out only after k acknowledgements.
        for (int k = 0; k < 17; ++k)
            QCOMPARE(rig.acksAtWrite[k], k);
        QCOMPARE(rig.bridge.framesReceived(), QList<QByteArray>{frame});
        QVERIFY(rig.log.isEmpty());
    }

    void framesHandedOverMeanwhileWaitTheirTurn() {
        Rig rig;
        rig.bridge.setAckDelay(1);
        const QByteArray first = synthesisFrame(100);
        const QByteArray second = synthesisFrame(70);
        const QByteArray stop = protocol::commandFrame(protocol::Command::Stop);
        // A frame sent from inside the handling of an acknowledgement, as a
        // reply handler does, and one sent straight after the first.
        bool nested = false;
        QObject::connect(&rig.bridge, &link::HidBridge::inputReport, [&] {
            if (!nested && rig.acks.size() == 2) {
                nested = true;
                rig.sender.send(second);
            }
        });
        rig.sender.send(first);
        rig.sender.send(stop);
        QCOMPARE(rig.sender.queuedFrames(), 1);
        QVERIFY(rig.settle(4 + 1 + 3));
        QVERIFY(nested);
        QCOMPARE(rig.bridge.framesReceived(),
                 (QList<QByteArray>{first, stop.leftJustified(4, '\0'), second}));
        // Every report waited for the answer to the one before.
        for (int k = 0; k < rig.acksAtWrite.size(); ++k)
            QCOMPARE(rig.acksAtWrite[k], k);
    }

    void droppedAcknowledgementGivesUpTheFrameOnce() {
        Rig rig;
        rig.sender.setAckTimeout(60);
        rig.bridge.dropAcks(1);
        QSignalSpy finished(&rig.sender, &UsbPacketSender::frameFinished);
        rig.sender.send(synthesisFrame(100));
        QCOMPARE(rig.written(), 1);
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished[0][0].toBool(), false);
        QCOMPARE(rig.log, QStringList{QString::fromUtf8(UsbPacketSender::kAckTimeoutLine)});
        QVERIFY(!rig.sender.ackPending());
        QCOMPARE(rig.written(), 1);

        // The link is usable again: the next frame goes out whole.
        const QByteArray next = synthesisFrame(40);
        rig.sender.send(next);
        QVERIFY(rig.settle(3));
        QCOMPARE(rig.written(), 3);
        QCOMPARE(bytesOf(rig.bridge.reportsWritten()[1]),
                 QByteArray::fromHex("00FC") + next.left(31));
        QCOMPARE(rig.log.size(), 1);
    }

    void absentBridgeReportsOncePerFrame() {
        Rig rig;
        rig.bridge.vanish();
        rig.sender.send(synthesisFrame(512));
        rig.sender.send(protocol::commandFrame(protocol::Command::QueryStatus));
        QCOMPARE(rig.written(), 0);
        QCOMPARE(rig.notFound, 2);
        const QString notConnected = QString::fromUtf8(UsbPacketSender::kNotConnectedLine);
        QCOMPARE(rig.log, (QStringList{notConnected, notConnected}));
        QVERIFY(!rig.sender.busy());
    }

    void bridgeVanishesMidFrameAndReturns() {
        Rig rig;
        rig.sender.setAckTimeout(60);
        rig.bridge.vanishAfter(3);
        rig.sender.send(synthesisFrame(512));
        QTRY_VERIFY(!rig.sender.busy());
        QCOMPARE(rig.written(), 3);
        QCOMPARE(rig.log, QStringList{QString::fromUtf8(UsbPacketSender::kAckTimeoutLine)});

        rig.sender.send(synthesisFrame(10));
        QCOMPARE(rig.notFound, 1);
        QCOMPARE(rig.written(), 3);

        rig.bridge.comeBack();
        const QByteArray frame = synthesisFrame(300);
        rig.sender.send(frame);
        QVERIFY(rig.settle(3 + 10));
        QCOMPARE(rig.bridge.framesReceived(), QList<QByteArray>{frame});
        QCOMPARE(rig.log.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestUsbSender)
#include "tst_usb_sender.moc"
