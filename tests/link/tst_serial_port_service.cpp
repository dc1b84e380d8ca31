// The serial link against a real pseudo-terminal: where COMn is found, line
// settings, the receive buffer, a device that goes away and comes back, and
// frames going out one at a time at the pace of the line.
#include "common/link_helpers.h"
#include "link/frame_dispatcher.h"
#include "link/serial_port_service.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using qav::link::DropReason;
using qav::link::FrameDispatcher;
using qav::link::Link;
using qav::link::SerialPortService;
using qav::test::PtyPort;

namespace {
const QByteArray kStop("\xFD\x00\x01\x02", 4);

// A pseudo-terminal linked as COMn in a fresh folder, which becomes the
// current one, as a real adapter would be found there.
struct LinkedLine {
    explicit LinkedLine(int number) : linked(pty.linkAs(dir.path(), number)) {
        QDir::setCurrent(dir.path());
    }
    QTemporaryDir dir;
    PtyPort pty;
    bool linked;
};

QByteArray pattern(qsizetype size, int step = 7) {
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(i * step);
    return bytes;
}
} // namespace

class TestSerialPortService : public QObject {
    Q_OBJECT
private slots:
    void entryInTheFolderWins() {
        QTemporaryDir dir;
        PtyPort pty;
        QVERIFY(pty.linkAs(dir.path(), 7));
        QCOMPARE(SerialPortService::resolvePortName(7, dir.path()),
                 QDir(dir.path()).absoluteFilePath(QStringLiteral("COM7")));
        // Not there: never a name in the folder (a system port, or nothing).
        QVERIFY(!SerialPortService::resolvePortName(8, dir.path()).startsWith(dir.path()));
        QCOMPARE(SerialPortService::resolvePortName(8, dir.path(), false), QString());
    }

    // settings() is written from what was taken in, not handed back as typed.
    void settingsParse_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("kept"); // empty: refused, the start value stays
        QTest::newRow("9600") << QStringLiteral("9600,N,8,1") << QStringLiteral("9600,N,8,1");
        QTest::newRow("115200") << QStringLiteral("115200,N,8,1") << QStringLiteral("115200,N,8,1");
        QTest::newRow("even, 7, 2") << QStringLiteral("4800,e,7,2") << QStringLiteral("4800,E,7,2");
        QTest::newRow("blanks, 1.5")
            << QStringLiteral(" 57600 , o , 7 , 1.5 ") << QStringLiteral("57600,O,7,1.5");
        QTest::newRow("no baud") << QStringLiteral(",N,8,1") << QString();
        QTest::newRow("zero baud") << QStringLiteral("0,N,8,1") << QString();
        QTest::newRow("parity") << QStringLiteral("9600,X,8,1") << QString();
        QTest::newRow("data bits") << QStringLiteral("9600,N,9,1") << QString();
        QTest::newRow("stop bits") << QStringLiteral("9600,N,8,3") << QString();
        QTest::newRow("short") << QStringLiteral("9600,N,8") << QString();
    }
    void settingsParse() {
        QFETCH(QString, settings);
        QFETCH(QString, kept);
        SerialPortService port;
        QCOMPARE(port.setSettings(settings), !kept.isEmpty());
        QCOMPARE(port.settings(), kept.isEmpty() ? QStringLiteral("9600,N,8,1") : kept);
        // A refused text after a good one changes nothing of it.
        QVERIFY(port.setSettings(QStringLiteral("4800,E,7,2")));
        QVERIFY(!port.setSettings(QStringLiteral("19200,N,8,3")));
        QCOMPARE(port.settings(), QStringLiteral("4800,E,7,2"));
        QCOMPARE(port.baudRate(), 4800);
    }

    void sendsAndReceives() {
        LinkedLine line(1);
        QVERIFY(line.linked);
        PtyPort& pty = line.pty;
        SerialPortService port;
        QByteArray got;
        connect(&port, &Link::replyBytes, [&](const QByteArray& b) { got += b; });
        port.setCommPort(1);
        QVERIFY2(port.open(), qPrintable(port.errorString()));
        QVERIFY(port.portOpen());

        port.writeFrame(kStop);
        QCOMPARE(pty.read(4), kStop);

        // Two bytes of one answer, a moment apart, are delivered together.
        QSignalSpy deliveries(&port, &Link::replyBytes);
        QVERIFY(pty.write("A"));
        QTest::qWait(5); // the moment between the two bytes, not a wait for the port
        QVERIFY(pty.write("O"));
        QTRY_COMPARE(got, QByteArray("AO"));
        QCOMPARE(deliveries.count(), 1);

        // Held, the bytes wait in the port; after release they come with the next.
        port.setReceiveHeld(true);
        QVERIFY(pty.write("J"));
        QTest::qWait(100); // nothing may be delivered meanwhile
        QCOMPARE(got, QByteArray("AO"));
        port.setReceiveHeld(false);
        QVERIFY(pty.write("N"));
        QTRY_COMPARE(got, QByteArray("AOJN"));
        port.close();
        QVERIFY(!port.portOpen());
    }

    void receiveBufferIsCapped() {
        LinkedLine line(1);
        QVERIFY(line.linked);
        PtyPort& pty = line.pty;
        SerialPortService port;
        port.setReceiveHeld(true); // nobody takes the bytes
        QVERIFY(port.open());
        const qsizetype total = SerialPortService::kReceiveCapacity + 1000;
        qsizetype sent = 0;
        QVERIFY(QTest::qWaitFor(
            [&] {
                while (sent < total && pty.write(QByteArray(256, 'x')))
                    sent += 256;
                return sent >= total && port.droppedBytes() > 0;
            },
            10000));
        QByteArray got;
        connect(&port, &Link::replyBytes, [&](const QByteArray& b) { got += b; });
        QSignalSpy overruns(&port, &Link::inputOverrun);
        port.setReceiveHeld(false);
        QVERIFY(pty.write("y"));
        QTRY_VERIFY(!got.isEmpty());
        QCOMPARE(got.size(), SerialPortService::kReceiveCapacity);
        QCOMPARE(port.droppedBytes() + got.size(), sent + 1);
        // The whole burst is reported once, before its delivery.
        QCOMPARE(overruns.count(), 1);
        QCOMPARE(overruns.first().first().toLongLong(), port.droppedBytes());
    }

    void settingsApplyAtOnceWhileOpen() {
        LinkedLine line(2);
        QVERIFY(line.linked);
        PtyPort& pty = line.pty;
        SerialPortService port;
        port.setCommPort(2);
        QVERIFY(port.open());
        QCOMPARE(pty.speed(), speed_t(B9600));
        QVERIFY(port.setSettings(QStringLiteral("57600,N,8,1")));
        QCOMPARE(pty.speed(), speed_t(B57600));
        port.close();
        QVERIFY(port.setSettings(QStringLiteral("4800,N,8,1")));
        QVERIFY(port.open()); // kept across close and re-open
        QCOMPARE(pty.speed(), speed_t(B4800));
    }

    // The device goes away: said once, the port closes, and the same COMn
    // is opened again when a device is there once more.
    void vanishingDeviceIsReportedOnceAndComesBack() {
        LinkedLine line(1);
        QVERIFY(line.linked);
        PtyPort& pty = line.pty;
        SerialPortService port;
        QSignalSpy lost(&port, &Link::lost);
        QSignalSpy back(&port, &Link::back);
        QSignalSpy drops(&port, &Link::frameDropped);
        QVERIFY(port.open());
        pty.closeSlave();
        pty.closeMaster();
        QVERIFY(lost.wait(2000));
        QVERIFY(!port.portOpen());
        QVERIFY(port.watching());
        QTest::qWait(50); // no second report may follow
        QCOMPARE(lost.count(), 1);
        port.writeFrame("ignored"); // a frame for the closed port goes nowhere
        QVERIFY(drops.isEmpty());

        PtyPort again;
        QVERIFY(again.linkAs(line.dir.path(), 1));
        QVERIFY(back.wait(5 * SerialPortService::kWatchIntervalMs));
        QVERIFY(port.portOpen());
        QVERIFY(!port.watching());
        QCOMPARE(lost.count(), 1);
        port.writeFrame(kStop);
        QCOMPARE(again.read(4), kStop);
    }

    // The next frame goes to the port once the one before has had its time
    // on the line: bits per character (start, data, parity, stop) at the baud.
    void framesGoOutAtThePaceOfTheLine_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("lineMs"); // of a 240-byte frame
        QTest::newRow("4800 N 8 1") << QStringLiteral("4800,N,8,1") << 500;
        QTest::newRow("4800 N 8 2") << QStringLiteral("4800,N,8,2") << 550; // 11 bits a character
        QTest::newRow("115200 N 8 1") << QStringLiteral("115200,N,8,1") << 21;
    }
    void framesGoOutAtThePaceOfTheLine() {
        QFETCH(QString, settings);
        QFETCH(int, lineMs);
        LinkedLine line(1);
        QVERIFY(line.linked);
        PtyPort& pty = line.pty;
        SerialPortService port;
        QVERIFY(port.setSettings(settings));
        QVERIFY2(port.open(), qPrintable(port.errorString()));
        QSignalSpy done(&port, &Link::frameDone);
        const QByteArray first = pattern(240);
        QElapsedTimer clock;
        clock.start();
        port.writeFrame(first);
        port.writeFrame(kStop);
        QVERIFY(port.busy());
        QCOMPARE(pty.read(240), first);
        const QByteArray second = pty.read(4, 3000);
        const qint64 arrived = clock.elapsed();
        QCOMPARE(second, kStop);
        QVERIFY2(arrived >= lineMs - 2, qPrintable(QString::number(arrived)));
        QVERIFY2(arrived < lineMs + 400, qPrintable(QString::number(arrived)));
        QTRY_COMPARE(done.count(), 2);
        QVERIFY(!port.busy());
    }

    // A frame the port could not pass on yet holds the next one back,
    // however long ago its line time ran out.
    void nextFrameWaitsUntilThePortHasPassedTheFrameOn() {
        LinkedLine line(1);
        QVERIFY(line.linked);
        PtyPort& pty = line.pty;
        SerialPortService port;
        QVERIFY(port.setSettings(QStringLiteral("4000000,N,8,1")));
        QVERIFY(port.open());
        QSignalSpy done(&port, &Link::frameDone);
        // 250 ms on the line, and far more than the pseudo-terminal holds
        // while nobody reads its other end.
        const QByteArray big = pattern(100'000, 3);
        port.writeFrame(big);
        port.writeFrame(kStop);
        QTest::qWait(600); // the line time passes; nothing may move on meanwhile
        QCOMPARE(done.count(), 0);
        QVERIFY(port.busy());
        QVERIFY(port.backlog() > 4);
        QCOMPARE(pty.read(big.size() + 4, 10000), big + kStop);
        QTRY_COMPARE(done.count(), 2);
        QCOMPARE(port.backlog(), 0);
        QVERIFY(port.largestBacklog() >= 4);
    }

    // Another device opened while a frame is still in the port: the frame
    // goes with the old device, and the link is free for the new one.
    void openingAnotherDeviceFreesTheLink() {
        LinkedLine line(1);
        QVERIFY(line.linked);
        PtyPort other;
        SerialPortService port;
        QVERIFY(port.setSettings(QStringLiteral("4000000,N,8,1")));
        QVERIFY(port.open());
        QSignalSpy done(&port, &Link::frameDone);
        QSignalSpy drops(&port, &Link::frameDropped);
        // More than the pseudo-terminal holds while nobody reads its far end.
        port.writeFrame(pattern(100'000, 3));
        port.writeFrame(pattern(30, 5));
        QTRY_VERIFY(port.backlog() > 30); // the first is stuck in the port
        QVERIFY(port.openDevice(other.slavePath()));
        QCOMPARE(done.count(), 1);
        QVERIFY(!port.busy());
        QVERIFY(drops.isEmpty()); // the waiting frame went silently, as on a close
        port.writeFrame(kStop);
        QCOMPARE(other.read(4), kStop);
        QTRY_COMPARE(done.count(), 2);
    }

    // A stop takes back every frame that has not begun, each reported once; the
    // frame under way goes out whole, and what comes after the stop follows it.
    void dropWaitingKeepsTheFrameUnderWay() {
        LinkedLine line(1);
        QVERIFY(line.linked);
        PtyPort& pty = line.pty;
        SerialPortService port;
        QVERIFY(port.setSettings(QStringLiteral("4800,N,8,1")));
        QVERIFY(port.open());
        QList<DropReason> drops;
        connect(&port, &Link::frameDropped, [&](DropReason r) { drops << r; });
        const QByteArray first = pattern(240);
        port.writeFrame(first);
        port.writeFrame(pattern(30, 5));
        port.writeFrame(pattern(50, 11));
        port.dropWaiting();
        QCOMPARE(drops, (QList<DropReason>{DropReason::Stopped, DropReason::Stopped}));
        port.writeFrame(kStop);
        QCOMPARE(pty.read(240 + 4, 3000), first + kStop);
        QTRY_VERIFY(!port.busy());
        QCOMPARE(pty.readFor(50), QByteArray()); // and nothing after it
        port.dropWaiting();                      // nothing waits: nothing dropped
        QCOMPARE(drops.size(), 2);
    }

    // Frames of up to 2000 bytes leave in one write, longer ones in two (the
    // first 2000 bytes, then the rest); either way every byte arrives, in
    // order, as one frame.
    void dispatchWritesWholeFrames() {
        LinkedLine line(1);
        QVERIFY(line.linked);
        PtyPort& pty = line.pty;
        SerialPortService port;
        QVERIFY(port.setSettings(QStringLiteral("115200,N,8,1")));
        FrameDispatcher dispatch(port);
        QSignalSpy done(&port, &Link::frameDone);
        QVERIFY(port.open());
        QByteArray all;
        for (int size : {4, 2000, 2001, 4096}) {
            const QByteArray frame = pattern(size);
            dispatch.dispatch(frame);
            all += frame;
        }
        QCOMPARE(pty.read(all.size(), 5000), all);
        QTRY_COMPARE(done.count(), 4);
    }

    // A closed port takes no frames, also none that waited when it closed,
    // and says nothing about them.
    void framesForAClosedPortAreDroppedSilently() {
        LinkedLine line(1);
        QVERIFY(line.linked);
        PtyPort& pty = line.pty;
        SerialPortService port;
        QVERIFY(port.setSettings(QStringLiteral("4800,N,8,1")));
        QSignalSpy drops(&port, &Link::frameDropped);
        QVERIFY(port.open());
        const QByteArray first = pattern(240);
        port.writeFrame(first);
        port.writeFrame(pattern(30, 5)); // waits for the line time of the first
        QCOMPARE(pty.read(240), first);
        port.close();
        QVERIFY(!port.busy());
        port.writeFrame(kStop);
        QVERIFY(!port.busy());
        QCOMPARE(port.backlog(), 0);
        QVERIFY(port.open());
        QCOMPARE(pty.readFor(700), QByteArray()); // past the first's line time: nothing
        QVERIFY(drops.isEmpty());
    }

    void missingPortFails() {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        SerialPortService port;
        port.setSystemPortsUsed(false);
        port.setCommPort(20);
        QVERIFY(!port.open());
        QVERIFY(!port.errorString().isEmpty());
        QVERIFY(!port.portOpen());
    }
};

QTEST_MAIN(TestSerialPortService)
#include "tst_serial_port_service.moc"
