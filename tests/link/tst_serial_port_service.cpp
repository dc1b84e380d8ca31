// The serial port service against a real pseudo-terminal: where COMn is
// found, line settings, the receive buffer and a device that goes away.
#include "common/link_helpers.h"
#include "link/frame_dispatcher.h"
#include "link/serial_port_service.h"
#include "link/usb_packet_sender.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using qav::link::FrameDispatcher;
using qav::link::SerialPortService;
using qav::link::UsbPacketSender;
using qav::test::PtyPort;

namespace {
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

    void settingsParse_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("9600") << QStringLiteral("9600,N,8,1") << true;
        QTest::newRow("115200") << QStringLiteral("115200,N,8,1") << true;
        QTest::newRow("even, 7, 2") << QStringLiteral("4800,e,7,2") << true;
        QTest::newRow("no baud") << QStringLiteral(",N,8,1") << false;
        QTest::newRow("parity") << QStringLiteral("9600,X,8,1") << false;
        QTest::newRow("data bits") << QStringLiteral("9600,N,9,1") << false;
        QTest::newRow("stop bits") << QStringLiteral("9600,N,8,3") << false;
        QTest::newRow("short") << QStringLiteral("9600,N,8") << false;
    }
    void settingsParse() {
        QFETCH(QString, settings);
        QFETCH(bool, accepted);
        SerialPortService port;
        QCOMPARE(port.setSettings(settings), accepted);
        QCOMPARE(port.settings(), accepted ? settings : QStringLiteral("9600,N,8,1"));
    }

    void sendsAndReceives() {
        LinkedLine line(1);
        QVERIFY(line.linked);
        PtyPort& pty = line.pty;
        SerialPortService port;
        QByteArray got;
        connect(&port, &SerialPortService::received, [&](const QByteArray& b) { got += b; });
        port.setCommPort(1);
        QVERIFY2(port.open(), qPrintable(port.errorString()));
        QVERIFY(port.portOpen());

        port.output(QByteArray("\xFD\x00\x01\x02", 4));
        QCOMPARE(pty.read(4), QByteArray("\xFD\x00\x01\x02", 4));

        // Two bytes of one answer, a moment apart, are delivered together.
        QSignalSpy deliveries(&port, &SerialPortService::received);
        QVERIFY(pty.write("A"));
        QTest::qWait(5);
        QVERIFY(pty.write("O"));
        QTRY_COMPARE(got, QByteArray("AO"));
        QCOMPARE(deliveries.count(), 1);

        // Held, the bytes wait in the port; after release they come with the next.
        port.setReceiveHeld(true);
        QVERIFY(pty.write("J"));
        QTest::qWait(100);
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
        QTest::qWait(20);
        QByteArray got;
        connect(&port, &SerialPortService::received, [&](const QByteArray& b) { got += b; });
        QSignalSpy overruns(&port, &SerialPortService::overrun);
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

    void vanishingDeviceIsReportedOnce() {
        LinkedLine line(1);
        QVERIFY(line.linked);
        PtyPort& pty = line.pty;
        SerialPortService port;
        QSignalSpy lost(&port, &SerialPortService::deviceLost);
        QVERIFY(port.open());
        pty.closeSlave();
        pty.closeMaster();
        QTRY_COMPARE(lost.count(), 1);
        QVERIFY(!port.portOpen());
        QTest::qWait(50);
        QCOMPARE(lost.count(), 1);
        port.output("ignored"); // a write to the closed port is a no-op
    }

    // Frames of up to 2000 bytes leave in one write, longer ones in two; either
    // way every byte arrives, in order. A closed port drops the frame.
    void dispatchWritesWholeFrames() {
        LinkedLine line(1);
        QVERIFY(line.linked);
        PtyPort& pty = line.pty;
        SerialPortService port;
        UsbPacketSender usb;
        FrameDispatcher dispatch(port, usb);
        QVERIFY(port.open());
        for (int size : {4, 2000, 2001, 4096}) {
            QByteArray frame(size, '\0');
            for (int i = 0; i < size; ++i)
                frame[i] = char(i * 7);
            dispatch.dispatch(frame);
            QCOMPARE(pty.read(size), frame);
        }
        port.close();
        dispatch.dispatch(QByteArray("\xFD\x00\x01\x02", 4));
        QVERIFY(port.open());
        QCOMPARE(pty.readFor(50), QByteArray());
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
