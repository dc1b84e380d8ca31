// The frame queue every link shares, seen only through link::Link, on both
// links as the factory makes them: the serial port over a pseudo-terminal
// and the USB link over the bridge emulator. One frame at a time, frames
// handed over meanwhile wait their turn (also from inside the link's own
// signals), a stop takes back only what has not begun, and a closed port
// takes nothing.

#include "chip_model.h"
#include "common/frame_helpers.h"
#include "common/link_helpers.h"
#include "emulated_bridge.h"
#include "link/link_factory.h"
#include "protocol/frame.h"

#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace qav;
using link::DropReason;
using link::Link;
using test::PtyPort;

namespace {

const QByteArray kStop("\xFD\x00\x01\x02", 4);

using test::synthesisFrame;

// A link from the factory, its far end, and the link's events in order:
// "written N" (a frame of N bytes handed to the device), "done", "dropped".
class Rig {
public:
    virtual ~Rig() = default;
    Link& link() { return *link_; }
    // What the far end has received so far, frames one after the other.
    virtual QByteArray arrived() = 0;
    QStringList events;
    QList<DropReason> drops;

protected:
    void watch(std::unique_ptr<Link> link) {
        link_ = std::move(link);
        QObject::connect(link_.get(), &Link::frameWritten, [this](const QByteArray& frame) {
            events << QStringLiteral("written %1").arg(frame.size());
        });
        QObject::connect(link_.get(), &Link::frameDone,
                         [this] { events << QStringLiteral("done"); });
        QObject::connect(link_.get(), &Link::frameDropped, [this](DropReason reason) {
            events << QStringLiteral("dropped");
            drops << reason;
        });
    }

private:
    std::unique_ptr<Link> link_;
};

// 9600 baud: a 100-byte frame is on the line for 105 ms.
class SerialRig : public Rig {
public:
    SerialRig() {
        auto serial = link::makeSerialLink();
        serial->setSettings(QStringLiteral("9600,N,8,1"));
        opened = serial->openDevice(pty.slavePath());
        watch(std::move(serial));
    }
    QByteArray arrived() override { return got += pty.readAvailable(); }
    PtyPort pty;
    bool opened = false;

private:
    QByteArray got;
};

class UsbRig : public Rig {
public:
    UsbRig() {
        bridge.chip().setTimeScale(1000);
        bridge.setAckDelay(2);
        watch(link::makeUsbLink(&bridge));
        opened = link().open();
    }
    QByteArray arrived() override {
        QByteArray all;
        for (const QByteArray& frame : bridge.framesReceived())
            all += frame;
        return all;
    }
    sim::EmulatedBridge bridge; // declared first: it outlives the link
    bool opened = false;
};

std::unique_ptr<Rig> makeRig(const QString& kind) {
    if (kind == QLatin1String("serial")) {
        auto rig = std::make_unique<SerialRig>();
        return rig->opened ? std::move(rig) : nullptr;
    }
    auto rig = std::make_unique<UsbRig>();
    return rig->opened ? std::move(rig) : nullptr;
}

// Until the far end has `bytes` and the link is idle.
bool settle(Rig& rig, const QByteArray& bytes) {
    return QTest::qWaitFor([&] { return rig.arrived() == bytes && !rig.link().busy(); }, 5000);
}

} // namespace

class TestFrameQueue : public QObject {
    Q_OBJECT
private slots:
    void links_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("serial") << QStringLiteral("serial");
        QTest::newRow("usb") << QStringLiteral("usb");
    }

    void oneFrameAtATime_data() { links_data(); }
    void oneFrameAtATime() {
        QFETCH(QString, kind);
        const auto rig = makeRig(kind);
        QVERIFY(rig);
        const QByteArray a = synthesisFrame(95); // 100 bytes
        const QByteArray b = synthesisFrame(35); // 40 bytes
        rig->link().writeFrame(a);
        rig->link().writeFrame(b);
        rig->link().writeFrame(kStop);
        // Only the first has begun; the others wait inside the link.
        QCOMPARE(rig->events, QStringList{QStringLiteral("written 100")});
        QVERIFY(rig->link().busy());
        QVERIFY(rig->link().frameWaiting());
        QVERIFY(settle(*rig, a + b + kStop));
        QCOMPARE(rig->events,
                 (QStringList{"written 100", "done", "written 40", "done", "written 4", "done"}));
        QVERIFY(!rig->link().frameWaiting());
    }

    // Frames handed over from inside the link's own signals, as the session
    // does when a frame is done or written, wait their turn like any other.
    void framesHandedOverFromTheLinksSignalsWaitTheirTurn_data() { links_data(); }
    void framesHandedOverFromTheLinksSignalsWaitTheirTurn() {
        QFETCH(QString, kind);
        const auto rig = makeRig(kind);
        QVERIFY(rig);
        const QByteArray a = synthesisFrame(95);
        const QByteArray b = synthesisFrame(35);
        int written = 0;
        int done = 0;
        connect(&rig->link(), &Link::frameWritten, this, [&] {
            if (++written == 1)
                rig->link().writeFrame(b);
        });
        connect(&rig->link(), &Link::frameDone, this, [&] {
            if (++done == 1)
                rig->link().writeFrame(kStop);
        });
        rig->link().writeFrame(a);
        QCOMPARE(rig->events, QStringList{QStringLiteral("written 100")});
        QVERIFY(rig->link().frameWaiting());
        QVERIFY(settle(*rig, a + b + kStop));
        QCOMPARE(rig->events,
                 (QStringList{"written 100", "done", "written 40", "done", "written 4", "done"}));
    }

    // A stop takes back each frame that has not begun, once; the frame
    // under way goes out whole, and the stop handed over next follows it.
    void dropWaitingTakesBackOnlyWhatHasNotBegun_data() { links_data(); }
    void dropWaitingTakesBackOnlyWhatHasNotBegun() {
        QFETCH(QString, kind);
        const auto rig = makeRig(kind);
        QVERIFY(rig);
        const QByteArray a = synthesisFrame(95);
        rig->link().writeFrame(a);
        rig->link().writeFrame(synthesisFrame(35));
        rig->link().writeFrame(synthesisFrame(65));
        rig->link().dropWaiting();
        QCOMPARE(rig->drops, (QList<DropReason>{DropReason::Stopped, DropReason::Stopped}));
        QVERIFY(rig->link().busy()); // the first is still under way
        QVERIFY(!rig->link().frameWaiting());
        rig->link().writeFrame(kStop);
        QVERIFY(settle(*rig, a + kStop));
        QCOMPARE(rig->events,
                 (QStringList{"written 100", "dropped", "dropped", "done", "written 4", "done"}));
        // Nothing waits: nothing more is dropped.
        rig->link().dropWaiting();
        QCOMPARE(rig->drops.size(), 2);
    }

    // A closed serial port takes no frame and says nothing: not one handed
    // over while closed, not one that waited when it closed. The frame under
    // way at the close is done.
    void closedSerialPortTakesNothingSilently() {
        SerialRig rig;
        QVERIFY(rig.opened);
        const QByteArray a = synthesisFrame(95);
        rig.link().writeFrame(a);
        rig.link().writeFrame(kStop);
        QCOMPARE(rig.pty.read(100), a);
        rig.link().close();
        QCOMPARE(rig.events, (QStringList{"written 100", "done"}));
        QVERIFY(!rig.link().busy());
        rig.link().writeFrame(kStop);
        QVERIFY(!rig.link().busy());
        QCOMPARE(rig.pty.readFor(200), QByteArray());
        QCOMPARE(rig.events.size(), 2);
        QVERIFY(rig.drops.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFrameQueue)
#include "tst_frame_queue.moc"
