// Frames over the USB link, report by report, against the bridge emulator:
// layout, pacing by the bridge's 0x5E, frames that wait their turn, the time
// limit on an acknowledgement, a stop's dropped frames, and a bridge that
// goes away and comes back.

#include "chip_model.h"
#include "common/frame_helpers.h"
#include "common/report_helpers.h"
#include "emulated_bridge.h"
#include "link/usb_link.h"
#include "protocol/frame.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace qav;
using link::UsbLink;
using test::bytesOf;

namespace {

using link::DropReason;
const QByteArray kStop("\xFD\x00\x01\x02", 4);

using test::synthesisFrame;

// The link and the emulated bridge, with what crosses between them recorded.
struct Rig {
    sim::EmulatedBridge bridge;
    UsbLink link;
    int acksRead = 0;        // 0x5E reports the bridge sent
    QList<int> acksAtWrite;  // acknowledgements read when each report was written
    QByteArray replies;      // the reply bytes the link passed on
    QList<DropReason> drops; // frameDropped, in order
    QList<bool> taken;       // frameTaken (true) and ackExpired (false), in order
    int done = 0;            // frameDone

    Rig() {
        bridge.chip().setTimeScale(1000);
        // Counted before the link sees the report, so a packet the link
        // writes in answer finds the acknowledgement counted.
        QObject::connect(&bridge, &link::HidBridge::inputReport, [this](const QByteArray& r) {
            if (std::uint8_t(r[1]) == protocol::reply::kBridgeAck)
                ++acksRead;
        });
        QObject::connect(&bridge, &sim::EmulatedBridge::reportWritten,
                         [this](const link::Report&) { acksAtWrite.append(acksRead); });
        link.setBridge(&bridge);
        link.setAckTimeout(60);
        QObject::connect(&link, &link::Link::replyBytes,
                         [this](const QByteArray& r) { replies.append(r); });
        QObject::connect(&link, &link::Link::frameDropped,
                         [this](DropReason reason) { drops.append(reason); });
        QObject::connect(&link, &link::Link::frameTaken, [this] { taken.append(true); });
        QObject::connect(&link, &link::Link::ackExpired, [this] { taken.append(false); });
        QObject::connect(&link, &link::Link::frameDone, [this] { ++done; });
    }
    int written() const { return int(bridge.reportsWritten().size()); }
    QByteArray report(int k) const { return bytesOf(bridge.reportsWritten()[k]); }
    // Until the bridge has taken `frames` frames whole.
    bool settle(int frames) {
        return QTest::qWaitFor([&] { return taken.size() >= frames && !link.busy(); }, 5000);
    }
};

} // namespace

class TestUsbLink : public QObject {
    Q_OBJECT
private slots:
    void commandFrameIsOneReportWithoutWaiting() {
        Rig rig;
        rig.link.writeFrame(kStop);
        // Written at once, and nothing holds the link.
        QCOMPARE(rig.written(), 1);
        QCOMPARE(rig.report(0), QByteArray::fromHex("00BC04FD000102") + QByteArray(26, '\0'));
        QVERIFY(!rig.link.busy());
        QCOMPARE(rig.done, 1);
        QVERIFY(rig.bridge.searches() >= 1);
        // The 0x5E of the last packet says the bridge has taken the frame.
        QVERIFY(rig.settle(1));
        QCOMPARE(rig.taken, QList<bool>{true});
        // The bridge's receipt comes through; its acknowledgement does not.
        QTRY_VERIFY(rig.replies.contains(char(0xAA)));
        QVERIFY(!rig.replies.contains(char(0x5E)));
        QVERIFY(rig.drops.isEmpty());
    }

    void twoByteHexSendIsAShortPacket() {
        Rig rig;
        rig.link.writeFrame(QByteArray::fromHex("FD00"));
        QCOMPARE(rig.written(), 1);
        QCOMPARE(rig.report(0), QByteArray::fromHex("00FD00") + QByteArray(30, '\0'));
        QVERIFY(rig.settle(1));
    }

    void frameOf31BytesWaitsForTheAcknowledgement() {
        Rig rig;
        const QByteArray frame = synthesisFrame(26);
        QCOMPARE(frame.size(), 31);
        rig.link.writeFrame(frame);
        QCOMPARE(rig.written(), 1);
        QVERIFY(rig.link.ackPending());
        QVERIFY(rig.link.busy());
        QVERIFY(rig.settle(1));
        QCOMPARE(rig.written(), 2);
        QCOMPARE(rig.report(0), QByteArray::fromHex("00FC") + frame);
        QCOMPARE(rig.report(1), QByteArray::fromHex("00BC00") + QByteArray(30, '\0'));
        QCOMPARE(rig.acksAtWrite, (QList<int>{0, 1}));
        QVERIFY(!rig.link.ackPending());
        QCOMPARE(rig.taken, QList<bool>{true});
    }

    void synthesisFrameOf517Bytes() {
        Rig rig;
        rig.bridge.setAckDelay(2);
        const QByteArray frame = synthesisFrame(512);
        rig.link.writeFrame(frame);
        QVERIFY(rig.settle(1));
        QCOMPARE(rig.written(), 17);
        for (int k = 0; k < 16; ++k)
            QCOMPARE(rig.report(k), QByteArray::fromHex("00FC") + frame.mid(31 * k, 31));
        QCOMPARE(rig.report(16),
                 QByteArray::fromHex("00BC15") + frame.mid(496) + QByteArray(9, '\0'));
        // Report k went out only after k acknowledgements.
        for (int k = 0; k < 17; ++k)
            QCOMPARE(rig.acksAtWrite[k], k);
        QCOMPARE(rig.bridge.framesReceived(), QList<QByteArray>{frame});
        QCOMPARE(rig.taken, QList<bool>{true});
        QCOMPARE(rig.done, 1);
        QVERIFY(rig.drops.isEmpty());
    }

    void framesHandedOverMeanwhileWaitTheirTurn() {
        Rig rig;
        rig.bridge.setAckDelay(1);
        const QByteArray first = synthesisFrame(100); // 3 full packets and a last
        const QByteArray second = synthesisFrame(70); // 2 full packets and a last
        // A frame handed over from inside the handling of an acknowledgement,
        // as a reply handler does, and one handed over straight after the first.
        bool nested = false;
        QObject::connect(&rig.bridge, &link::HidBridge::inputReport, [&] {
            if (!nested && rig.acksRead == 2) {
                nested = true;
                rig.link.writeFrame(second);
            }
        });
        rig.link.writeFrame(first);
        rig.link.writeFrame(kStop);
        QCOMPARE(rig.written(), 1);
        QVERIFY(rig.settle(3));
        QVERIFY(nested);
        QCOMPARE(rig.written(), 4 + 1 + 3);
        QCOMPARE(rig.bridge.framesReceived(), (QList<QByteArray>{first, kStop, second}));
        // Every report, the first of a frame too, waited for the answer to
        // the one before.
        for (int k = 0; k < rig.acksAtWrite.size(); ++k)
            QCOMPARE(rig.acksAtWrite[k], k);
        QCOMPARE(rig.taken, (QList<bool>{true, true, true}));
    }

    void droppedPacketAcknowledgementGivesUpTheFrameOnce() {
        Rig rig;
        rig.bridge.dropAcks(1);
        QSignalSpy done(&rig.link, &link::Link::frameDone);
        rig.link.writeFrame(synthesisFrame(100));
        QCOMPARE(rig.written(), 1);
        QVERIFY(done.wait(2000));
        QCOMPARE(rig.drops, QList<DropReason>{DropReason::AckTimeout});
        QVERIFY(!rig.link.ackPending());
        QVERIFY(!rig.link.busy());
        QCOMPARE(rig.written(), 1);
        QVERIFY(rig.taken.isEmpty()); // never taken whole

        // The link is usable again: the next frame goes out whole.
        const QByteArray next = synthesisFrame(40);
        rig.link.writeFrame(next);
        QVERIFY(rig.settle(1));
        QCOMPARE(rig.written(), 3);
        QCOMPARE(rig.report(1), QByteArray::fromHex("00FC") + next.left(31));
        QCOMPARE(rig.drops.size(), 1);
    }

    // The last packet's 0x5E does not come: the frame was written whole, so
    // it counts as taken, unacknowledged, once the time limit has passed; a
    // frame behind it waits until then.
    void missingLastAcknowledgementTakesTheFrameAtTheTimeLimit() {
        Rig rig;
        rig.bridge.dropAcks(1);
        QSignalSpy taken(&rig.link, &link::Link::ackExpired);
        QElapsedTimer clock;
        clock.start();
        rig.link.writeFrame(kStop);
        rig.link.writeFrame(QByteArray::fromHex("FD000121"));
        QCOMPARE(rig.written(), 1);
        QVERIFY(rig.link.busy());
        QVERIFY(taken.wait(2000));
        const qint64 waited = clock.elapsed();
        QCOMPARE(rig.taken.first(), false);
        QVERIFY2(waited >= 59, qPrintable(QString::number(waited)));
        QVERIFY(rig.drops.isEmpty()); // the link says nothing; the session decides
        QVERIFY(rig.settle(2));
        QCOMPARE(rig.taken, (QList<bool>{false, true}));
        QCOMPARE(rig.report(1), QByteArray::fromHex("00BC04FD000121") + QByteArray(26, '\0'));
        QCOMPARE(rig.acksAtWrite, (QList<int>{0, 0}));
    }

    // A stop takes back the frames that have not begun, each reported once; the
    // frame whose packets have begun goes on to its end, and what is handed
    // over after the stop follows it.
    void dropWaitingKeepsTheFrameUnderWay() {
        Rig rig;
        rig.bridge.setAckDelay(2);
        const QByteArray first = synthesisFrame(512);
        rig.link.writeFrame(first);
        rig.link.writeFrame(synthesisFrame(40));
        rig.link.writeFrame(synthesisFrame(300));
        QCOMPARE(rig.written(), 1);
        rig.link.dropWaiting();
        QCOMPARE(rig.drops, (QList<DropReason>{DropReason::Stopped, DropReason::Stopped}));
        rig.link.writeFrame(kStop);
        QVERIFY(rig.settle(2));
        QCOMPARE(rig.bridge.framesReceived(), (QList<QByteArray>{first, kStop}));
        QCOMPARE(rig.written(), 17 + 1);
        // Nothing waits: a second stop drops nothing.
        rig.link.dropWaiting();
        QCOMPARE(rig.drops.size(), 2);
    }

    void absentBridgeIsReportedOncePerFrame() {
        Rig rig;
        rig.bridge.vanish();
        rig.link.writeFrame(synthesisFrame(512));
        rig.link.writeFrame(QByteArray::fromHex("FD000121"));
        QCOMPARE(rig.written(), 0);
        QCOMPARE(rig.drops,
                 (QList<DropReason>{DropReason::NotConnected, DropReason::NotConnected}));
        QCOMPARE(rig.done, 2);
        QVERIFY(!rig.link.busy());
        QVERIFY(rig.taken.isEmpty());
    }

    // Unplugged: the link says lost once and looks for the bridge until it
    // is back, without a frame having to find out first.
    void bridgeLostAndBack() {
        Rig rig;
        QVERIFY(rig.link.open());
        QSignalSpy lost(&rig.link, &link::Link::lost);
        QSignalSpy back(&rig.link, &link::Link::back);
        rig.bridge.vanish();
        QVERIFY(lost.wait(2000));
        QCOMPARE(lost.first().first().toString(), QStringLiteral("device disconnected"));
        QVERIFY(rig.link.watching());
        QVERIFY(!rig.link.isOpen());
        rig.bridge.comeBack();
        QVERIFY(back.wait(3 * UsbLink::kWatchIntervalMs));
        QCOMPARE(back.count(), 1);
        QCOMPARE(lost.count(), 1);
        QVERIFY(!rig.link.watching());
        QVERIFY(rig.link.isOpen());
    }

    void bridgeVanishesMidFrameAndReturns() {
        Rig rig;
        rig.bridge.vanishAfter(3);
        rig.link.writeFrame(synthesisFrame(512));
        QTRY_COMPARE(rig.done, 1);
        QCOMPARE(rig.written(), 3);
        QCOMPARE(rig.drops, QList<DropReason>{DropReason::AckTimeout});

        rig.link.writeFrame(synthesisFrame(10));
        QCOMPARE(rig.drops.size(), 2);
        QCOMPARE(rig.written(), 3);

        rig.bridge.comeBack();
        const QByteArray frame = synthesisFrame(300);
        rig.link.writeFrame(frame);
        QVERIFY(rig.settle(1));
        QCOMPARE(rig.written(), 3 + 10);
        // The half frame went with the bridge; the new one arrived whole.
        QCOMPARE(rig.bridge.framesReceived(), QList<QByteArray>{frame});
        QCOMPARE(rig.drops, (QList<DropReason>{DropReason::AckTimeout, DropReason::NotConnected}));
    }
};

QTEST_GUILESS_MAIN(TestUsbLink)
#include "tst_usb_sender.moc"
