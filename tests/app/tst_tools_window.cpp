// The test column of the window: its buttons reach the session's test tools,
// the boxes of interrupted and continuous play are read and checked, and
// closing the window ends a sequence. What the tools do is the session's.
#include "app_helpers.h"
#include "tools/step_player.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace qav;
using namespace qav::test;
using Sequence = session::ConsoleSession::Sequence;

namespace {

const QString kWholeNumber = QStringLiteral("请输入大于等于1的整数");

qsizetype frameCount(app::Form1& f) {
    return f.workLog().text().count(QStringLiteral("----> "));
}

} // namespace

class TestToolsWindow : public QObject {
    Q_OBJECT
private slots:
    void interruptedPlayReadsItsBoxes() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        c.messages().clear(); // no chip on COM1 here
        f.sendText().setText(QStringLiteral("打断"));
        f.Text6->setText(QStringLiteral("1s"));
        f.Command23->click();
        f.Text6->setText(QStringLiteral("1000"));
        f.Text7->setText(QString());
        f.Command23->click();
        QCOMPARE(c.messages(), QStringList(2, kWholeNumber));
        QCOMPARE(frameCount(f), 0); // nothing started

        f.Text7->setText(QStringLiteral("2"));
        f.session().stepPlayer().setTimeScale(100);
        f.Command23->click();
        QCOMPARE(f.session().activeSequence(), Sequence::InterruptedPlay);
        QTRY_VERIFY_WITH_TIMEOUT(frameCount(f) >= 4, 5000);
        f.Command23->click(); // pressed again: stops
        QCOMPARE(f.session().activeSequence(), Sequence::None);
        const QByteArray t = QByteArray::fromHex("FD 00 06 01 01 B4 F2 B6 CF");
        const QByteArray marker =
            QByteArray::fromHex("FD 00 0C 01 01 D4 D9 D1 AD BB B7 B2 E2 CA D4");
        QCOMPARE(loggedFrames(f.workLog().text()).mid(0, 4), QList<QByteArray>({t, t, t, marker}));
    }

    void continuousPlayReadsText2() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        c.messages().clear();
        f.sendText().setText(QStringLiteral("你好"));
        // The start text, digits and a line break, counts.
        f.Command3->click();
        QCOMPARE(loggedFrames(f.workLog().text()),
                 QList<QByteArray>{QByteArray::fromHex("FD 00 06 01 01 C4 E3 BA C3")});
        QVERIFY(f.state().continueSynthesis);
        QCOMPARE(f.state().replayCount, 500000.0);
        QVERIFY(f.Timer1->isActive());

        f.Text2->setPlainText(QStringLiteral("0"));
        f.Command3->click();
        QCOMPARE(c.messages(), QStringList{kWholeNumber});
        QCOMPARE(frameCount(f), 1);
    }

    void testButtonsReachTheirTools() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        c.messages().clear();
        f.sendText().setText(QStringLiteral("旧的"));
        f.Command16->click();
        const QStringList lines = f.sendText().text().split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 15);
        QCOMPARE(lines.at(13), QStringLiteral("测试4：打断再合成"));

        f.Command25->click();
        QCOMPARE(f.sendText().text(), QStringLiteral("[d][g1][s10] 1- 1- 1[g0][d]\r\n\r\n\r\n"));
        QCOMPARE(f.state().crash.tagStep, 1);

        f.session().stepPlayer().setTimeScale(1000);
        f.Command14->click();
        QCOMPARE(f.session().activeSequence(), Sequence::Script123);
        f.Command22->click();
        QCOMPARE(f.session().activeSequence(), Sequence::Script45);
        f.Command22->click();
        QCOMPARE(f.session().activeSequence(), Sequence::None);
        QVERIFY(c.messages().isEmpty());
    }

    void closingTheWindowEndsASequence() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        f.session().stepPlayer().setTimeScale(1000);
        f.Text6->setText(QStringLiteral("10"));
        f.Text7->setText(QStringLiteral("3"));
        f.sendText().setText(QStringLiteral("a"));
        f.Command23->click();
        QTRY_VERIFY(frameCount(f) > 5);
        tools::StepPlayer& player = f.session().stepPlayer();
        f.close();
        QVERIFY(!player.isRunning());
        const qsizetype n = frameCount(f);
        QTest::qWait(100);
        QCOMPARE(frameCount(f), n);
    }
};

QTEST_MAIN(TestToolsWindow)
#include "tst_tools_window.moc"
