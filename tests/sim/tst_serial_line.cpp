#include "chip_model.h"
#include "common/hex_bytes.h"
#include "serial_line.h"
#include "sim/sim_helpers.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using qav::sim::ChipModel;
using qav::sim::SerialLine;
using qav::test::Client;

using qav::test::hex;

class TestSerialLine : public QObject {
    Q_OBJECT
private slots:
    void synthesisIsAcknowledgedThenReportedIdle() {
        QTemporaryDir dir;
        ChipModel chip;
        chip.setTimeScale(50);
        SerialLine line(&chip);
        QString error;
        QVERIFY2(line.open(dir.path(), 3, &error), qPrintable(error));
        QCOMPARE(line.linkPath(), dir.filePath(QStringLiteral("COM3")));

        Client client(line.linkPath());
        QVERIFY(client.isOpen());
        // Sent in two writes, as the console sends long frames.
        const QByteArray frame = hex("FD000A0101") + QByteArray("hello wo");
        client.write(frame.first(6));
        QTest::qWait(30); // a gap between the two writes, not a wait for an event
        client.write(frame.sliced(6));
        QTRY_VERIFY(client.received().startsWith(hex("41")));
        QTRY_COMPARE(client.received(), hex("414F"));

        client.clear();
        client.write(hex("00FF") + hex("FD000121") + hex("FD000121"));
        QTRY_COMPARE(client.received(), hex("414F414F"));
    }

    void hungChipIsSilentOnTheLineUntilItsPowerCycle() {
        QTemporaryDir dir;
        ChipModel chip;
        chip.setTimeScale(1000);
        chip.setHangAfter(2);
        chip.setRecoverAfterMs(250);
        SerialLine line(&chip);
        line.setFrameTimeoutMs(40); // an incomplete frame expires while the chip hangs
        QVERIFY(line.open(dir.path(), 1));
        Client client(line.linkPath());
        const QByteArray synth = hex("FD00040101") + "ab";

        client.write(synth);
        QTRY_COMPARE(client.received(), hex("414F"));
        client.write(synth);
        QElapsedTimer sinceHang;
        sinceHang.start();
        QTRY_COMPARE(client.received(), hex("414F41"));
        client.write(hex("FD000121"));
        client.write(hex("FD0005")); // incomplete: no 0x45 either
        QTest::qWait(120);           // checks that nothing comes while hung
        QCOMPARE(client.received(), hex("414F41"));
        QTRY_COMPARE_WITH_TIMEOUT(client.received(), hex("414F414A"), 3000);
        const qint64 took = sinceHang.elapsed();
        QVERIFY2(took >= 240 && took < 1000, qPrintable(QString::number(took)));

        client.clear();
        client.write(hex("FD000121"));
        QTRY_COMPARE(client.received(), hex("414F"));
        client.write(synth);
        QTRY_COMPARE(client.received(), hex("414F414F"));
        client.write(synth); // the second synthesis since the power cycle
        client.write(hex("FD000121"));
        QTRY_COMPARE_WITH_TIMEOUT(client.received(), hex("414F414F414A"), 3000);
    }

    void truncatedFrameTimesOutWithAnError() {
        QTemporaryDir dir;
        ChipModel chip;
        SerialLine line(&chip);
        line.setFrameTimeoutMs(60);
        QVERIFY(line.open(dir.path(), 1));
        Client client(line.linkPath());
        client.write(hex("FD000501"));
        QTest::qWait(20); // nothing is answered before the frame timeout
        QVERIFY(client.received().isEmpty());
        QTRY_COMPARE(client.received(), hex("45"));
        client.write(hex("FD000000"));
        QTRY_COMPARE(client.received(), hex("4545"));
        client.write(hex("FD000121"));
        QTRY_COMPARE(client.received(), hex("4545414F"));
    }

    void portCanBeClosedAndOpenedAgain() {
        QTemporaryDir dir;
        ChipModel chip;
        chip.setTimeScale(20); // the text lasts about 90 ms
        SerialLine line(&chip);
        QVERIFY(line.open(dir.path(), 1));
        {
            Client first(line.linkPath());
            first.write(hex("FD000B0101") + QByteArray("一二三四五六七八"));
            QTRY_VERIFY(first.received().startsWith(hex("41")));
            QTRY_VERIFY(line.clientConnected());
        }
        // The idle report of that text finds nobody and must not wait for
        // the next opener.
        QTRY_VERIFY(!line.clientConnected());
        QTest::qWait(150); // the idle report falls due while nobody listens
        Client second(line.linkPath());
        second.write(hex("FD000158"));
        QTRY_VERIFY(second.received().startsWith(hex("4153")));
    }

    void staleLinkIsReplacedAndOwnLinkRemoved() {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("COM1"));
        QVERIFY(QFile::link(QStringLiteral("/dev/pts/nonexistent"), link));
        ChipModel chip;
        {
            SerialLine line(&chip);
            QVERIFY(line.open(dir.path(), 1));
            QCOMPARE(QFileInfo(link).symLinkTarget(), line.slavePath());
        }
        QVERIFY(!QFileInfo(link).isSymLink());

        // A real file by that name is not ours to replace.
        QFile file(link);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        SerialLine line(&chip);
        QString error;
        QVERIFY(!line.open(dir.path(), 1, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QFileInfo(link).isFile());
    }
};

QTEST_GUILESS_MAIN(TestSerialLine)
#include "tst_serial_line.moc"
