// The qav7120-emulator program: its fault options, end to end over its
// serial line, and what it says to bad values.

#include "common/hex_bytes.h"
#include "sim/sim_helpers.h"

#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using qav::test::Client;

using qav::test::hex;

class TestEmulatorProgram : public QObject {
    Q_OBJECT
private slots:
    void faultOptionsArePlayedAndTraced() {
        QTemporaryDir dir;
        QProcess emulator;
        emulator.start(QStringLiteral(QAV_EMULATOR_PATH),
                       {QStringLiteral("--dir"), dir.path(), QStringLiteral("--port"),
                        QStringLiteral("4"), QStringLiteral("--time-scale"), QStringLiteral("1000"),
                        QStringLiteral("--hang-after"), QStringLiteral("4"),
                        QStringLiteral("--recover-after"), QStringLiteral("0.25"),
                        QStringLiteral("--drop-idle-every"), QStringLiteral("2")});
        QVERIFY(emulator.waitForStarted());
        const auto ending = qScopeGuard([&] {
            emulator.kill(); // only when the test failed half-way
            emulator.waitForFinished();
        });
        const QString link = dir.filePath(QStringLiteral("COM4"));
        QTRY_VERIFY(QFileInfo(link).isSymLink());
        QString trace;
        const auto traced = [&](const QString& text) {
            trace += QString::fromUtf8(emulator.readAllStandardOutput());
            return trace.contains(text);
        };
        QTRY_VERIFY(traced(QStringLiteral("-- faults: hangs after 4 synthesis frames")));

        Client client(link);
        QVERIFY(client.isOpen());
        const QByteArray synth = hex("FD00040101") + "ab";
        client.write(synth);
        QTRY_COMPARE(client.received(), hex("414F"));
        client.write(synth); // its idle report is the second: left out
        QTRY_VERIFY(
            traced(QStringLiteral("#000002  end of utterance, fault: 4F dropped (one in 2 lost)")));
        client.write(hex("FD000121"));
        QTRY_COMPARE(client.received(), hex("414F41414F"));
        client.write(synth);
        QTRY_COMPARE(client.received(), hex("414F41414F414F"));
        client.write(synth); // the fourth synthesis frame: the chip hangs
        QTRY_VERIFY(traced(QStringLiteral("#000005  fault: hung after 4 synthesis frames, answers "
                                          "nothing until a power cycle in 0.250 s")));
        client.write(hex("FD000121"));
        QTRY_COMPARE_WITH_TIMEOUT(client.received(), hex("414F41414F414F414A"), 3000);
        QTRY_VERIFY(traced(QStringLiteral("#000006  21 status query (hung: no answer)")));
        QTRY_VERIFY(traced(QStringLiteral("#000006  power cycle after 0.2")));
        client.write(hex("FD000121"));
        QTRY_COMPARE(client.received(), hex("414F41414F414F414A414F"));

        emulator.terminate();
        QVERIFY(emulator.waitForFinished(5000));
        QCOMPARE(emulator.exitCode(), 0);
    }

    void badFaultValuesAreRefused_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString hang =
            QStringLiteral("--hang-after wants a number of synthesis frames from 1");
        const QString recover =
            QStringLiteral("--recover-after wants a number of seconds above 0, at most 2000000");
        const QString drop = QStringLiteral("--drop-idle-every wants a number from 1");
        QTest::newRow("hang after 0") << QStringList{"--hang-after", "0"} << hang;
        QTest::newRow("hang after -2") << QStringList{"--hang-after=-2"} << hang;
        QTest::newRow("hang after a word") << QStringList{"--hang-after", "three"} << hang;
        QTest::newRow("hang after 1.5") << QStringList{"--hang-after", "1.5"} << hang;
        QTest::newRow("recover after 0")
            << QStringList{"--hang-after", "1", "--recover-after", "0"} << recover;
        QTest::newRow("recover after -1")
            << QStringList{"--hang-after", "1", "--recover-after=-1"} << recover;
        QTest::newRow("recover after a word")
            << QStringList{"--hang-after", "1", "--recover-after", "soon"} << recover;
        QTest::newRow("recover after nan")
            << QStringList{"--hang-after", "1", "--recover-after", "nan"} << recover;
        QTest::newRow("recover after too long")
            << QStringList{"--hang-after", "1", "--recover-after", "3e6"} << recover;
        QTest::newRow("recover without hang")
            << QStringList{"--recover-after", "1"}
            << QStringLiteral("--recover-after needs --hang-after");
        QTest::newRow("drop every 0") << QStringList{"--drop-idle-every", "0"} << drop;
        QTest::newRow("drop every 2.5") << QStringList{"--drop-idle-every", "2.5"} << drop;
        QTest::newRow("time scale inf") << QStringList{"--time-scale", "inf"}
                                        << QStringLiteral("--time-scale wants a number above 0");
    }

    void badFaultValuesAreRefused() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QProcess emulator;
        emulator.start(QStringLiteral(QAV_EMULATOR_PATH),
                       QStringList{QStringLiteral("--dir"), dir.path()} + arguments);
        QVERIFY(emulator.waitForFinished(10000));
        QCOMPARE(emulator.exitStatus(), QProcess::NormalExit);
        QCOMPARE(emulator.exitCode(), 2);
        QCOMPARE(QString::fromLocal8Bit(emulator.readAllStandardError()),
                 QStringLiteral("qav7120-emulator: ") + message + u'\n');
        QVERIFY(!QFileInfo(dir.filePath(QStringLiteral("COM1"))).exists());
        QVERIFY(!QFileInfo(dir.filePath(QStringLiteral("COM1"))).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestEmulatorProgram)
#include "tst_emulator_program.moc"
