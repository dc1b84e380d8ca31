// The console against the emulator program over a pseudo-terminal: what an
// engineer sees after scripts/run, without the window on a screen.

#include "app/form1.h"
#include "app_helpers.h"
#include "common/link_helpers.h"

#include <QFileInfo>
#include <QPushButton>
#include <QTest>

class TestEmulatorEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void synthesisIsAcknowledgedThenReportedIdle() {
        qav::test::ConsoleFixture console;
        qav::test::EmulatorProcess emulator(console.dir(), 20, false);
        QVERIFY(emulator.ready());

        qav::app::Form1& form = console.load();
        QVERIFY2(console.messages().isEmpty(), qPrintable(console.messages().join(u'\n')));
        QVERIFY(form.session().status().portOpen);

        form.sendText().setText(QStringLiteral("欢迎光临，hello"));
        form.Command6->click();
        const QString received = QStringLiteral("<---- 返回：41  接收成功\r\n");
        const QString idle = QStringLiteral("<---- 返回：4F  芯片空闲\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(qav::test::allText(form.workLog()).contains(idle), 10000);
        const QString log = qav::test::allText(form.workLog());
        QVERIFY2(log.contains(received) && log.indexOf(received) < log.indexOf(idle),
                 qPrintable(log));

        // The emulator's trace shows the text as it was typed.
        QByteArray trace;
        const QByteArray text = QStringLiteral("\"欢迎光临，hello\"").toUtf8();
        QTRY_VERIFY((trace += emulator.process().readAllStandardOutput()).contains(text));

        console.close();
        QVERIFY(emulator.stop());
        QVERIFY(!QFileInfo(console.path(QStringLiteral("COM1"))).isSymLink());
    }
};

QTEST_MAIN(TestEmulatorEndToEnd)
#include "tst_emulator_e2e.moc"
