// The console against the emulator program over a pseudo-terminal: what an
// engineer sees after scripts/run, without the window on a screen.

#include "app/form1.h"
#include "app_helpers.h"
#include "link/serial_port_service.h"

#include <QFileInfo>
#include <QProcess>
#include <QTest>

class TestEmulatorEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void synthesisIsAcknowledgedThenReportedIdle() {
        qav::test::ConsoleFixture console;
        QProcess emulator;
        emulator.start(QStringLiteral(QAV_EMULATOR_PATH),
                       {QStringLiteral("--dir"), console.dir(), QStringLiteral("--time-scale"),
                        QStringLiteral("20")});
        QVERIFY(emulator.waitForStarted());
        QTRY_VERIFY(QFileInfo(console.path(QStringLiteral("COM1"))).isSymLink());

        qav::app::Form1& form = console.load();
        QVERIFY2(console.messages().isEmpty(), qPrintable(console.messages().join(u'\n')));
        QVERIFY(form.serialPort().portOpen());

        form.sendText().setText(QStringLiteral("欢迎光临，hello"));
        form.Command6_Click();
        const QString received = QStringLiteral("<---- 返回：41  接收成功\r\n");
        const QString idle = QStringLiteral("<---- 返回：4F  芯片空闲\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(form.workLog().text().contains(idle), 10000);
        const QString log = form.workLog().text();
        QVERIFY2(log.contains(received) && log.indexOf(received) < log.indexOf(idle),
                 qPrintable(log));

        // The emulator's trace shows the text as it was typed.
        QByteArray trace;
        const QByteArray text = QStringLiteral("\"欢迎光临，hello\"").toUtf8();
        QTRY_VERIFY((trace += emulator.readAllStandardOutput()).contains(text));

        console.close();
        emulator.terminate();
        QVERIFY(emulator.waitForFinished(5000));
        QVERIFY(!QFileInfo(console.path(QStringLiteral("COM1"))).isSymLink());
    }
};

QTEST_MAIN(TestEmulatorEndToEnd)
#include "tst_emulator_e2e.moc"
