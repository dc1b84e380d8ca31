// The serial port service against a real pseudo-terminal: where COMn is
// found, line settings, the receive buffer and a device that goes away.
#include "link/serial_port_service.h"
#include "link_helpers.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using qav::link::SerialPortService;
using qav::test::PtyPort;

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
        QTemporaryDir dir;
        PtyPort pty;
        QVERIFY(pty.linkAs(dir.path(), 1));
        QDir::setCurrent(dir.path());
        SerialPortService port;
        QSignalSpy comm(&port, &SerialPortService::onComm);
        port.setCommPort(1);
        QVERIFY2(port.open(), qPrintable(port.errorString()));
        QVERIFY(port.portOpen());

        port.output(QByteArray("\xFD\x00\x01\x02", 4));
        QCOMPARE(pty.read(4), QByteArray("\xFD\x00\x01\x02", 4));

        QVERIFY(pty.write("AO"));
        QTRY_VERIFY(comm.count() >= 1);
        QCOMPARE(port.commEvent(), int(SerialPortService::EvReceive));
        QByteArray got = port.input();
        QTRY_VERIFY((got += port.input()).size() >= 2);
        QCOMPARE(got, QByteArray("AO"));
        QCOMPARE(port.input(), QByteArray()); // taken means gone
        port.close();
        QVERIFY(!port.portOpen());
    }

    void receiveBufferIsCapped() {
        QTemporaryDir dir;
        PtyPort pty;
        QVERIFY(pty.linkAs(dir.path(), 1));
        QDir::setCurrent(dir.path());
        SerialPortService port;
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
        const QByteArray got = port.input();
        QCOMPARE(got.size(), SerialPortService::kReceiveCapacity);
        QCOMPARE(port.droppedBytes() + got.size(), sent);
    }

    void settingsApplyAtOnceWhileOpen() {
        QTemporaryDir dir;
        PtyPort pty;
        QVERIFY(pty.linkAs(dir.path(), 2));
        QDir::setCurrent(dir.path());
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
        QTemporaryDir dir;
        PtyPort pty;
        QVERIFY(pty.linkAs(dir.path(), 1));
        QDir::setCurrent(dir.path());
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
