// The test column of the window: its buttons reach the session's test tools,
// the boxes of interrupted and continuous play are read and checked, and
// closing the window ends a sequence. What the tools do is the session's.
#include "app_helpers.h"
#include "common/link_helpers.h"
#include "session/run_step.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace qav;
using namespace qav::test;
using Sequence = session::ConsoleSession::Sequence;

namespace {

const QString kWholeNumber = QStringLiteral("请输入大于等于1的整数");

qsizetype frameCount(app::Form1& f) {
    return allText(f.workLog()).count(QStringLiteral("----> "));
}

QList<QByteArray> frames(app::Form1& f) {
    return loggedFrames(allText(f.workLog()));
}

// Sequences played this many times faster than written, by the window
// built next.
void playFaster(ConsoleFixture& c, double scale) {
    c.options().sequenceTimeScale = scale;
}

} // namespace

class TestToolsWindow : public QObject {
    Q_OBJECT
private slots:
    void interruptedPlayReadsItsBoxes() {
        ConsoleFixture c;
        playFaster(c, 100);
        app::Form1& f = c.load();
        c.messages().clear(); // no chip on COM1 here
        f.sendText().setText(QStringLiteral("打断"));
        f.Text6->setText(QStringLiteral("1s"));
        f.Command23->click();
        f.Text6->setText(QStringLiteral("1000"));
        f.Text7->setText(QStringLiteral("-1"));
        f.Command23->click();
        QCOMPARE(c.messages(), QStringList(2, kWholeNumber));
        QCOMPARE(frameCount(f), 0); // nothing started

        const QByteArray t = QByteArray::fromHex("FD 00 06 01 01 B4 F2 B6 CF");
        const QByteArray marker =
            QByteArray::fromHex("FD 00 0C 01 01 D4 D9 D1 AD BB B7 B2 E2 CA D4");
        f.Text7->setText(QStringLiteral("2"));
        f.Command23->click();
        QCOMPARE(f.session().status().sequence, Sequence::InterruptedPlay);
        QTRY_VERIFY_WITH_TIMEOUT(frameCount(f) >= 4, 5000);
        f.Command23->click(); // pressed again: stops
        QCOMPARE(f.session().status().sequence, Sequence::None);
        QCOMPARE(frames(f).mid(0, 4), QList<QByteArray>({t, t, t, marker}));

        // An empty box counts as 0: no passes, so one request per cycle.
        f.Command2->click();
        f.Text7->setText(QString());
        f.Command23->click();
        QCOMPARE(f.session().status().sequence, Sequence::InterruptedPlay);
        QTRY_VERIFY_WITH_TIMEOUT(frameCount(f) >= 4, 5000);
        f.Command23->click();
        QCOMPARE(frames(f).mid(0, 4), QList<QByteArray>({t, marker, t, marker}));
        QCOMPARE(c.messages().size(), 2);
    }

    void continuousPlayReadsText2() {
        ConsoleFixture c;
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        QVERIFY(c.messages().isEmpty());
        f.sendText().setText(QStringLiteral("你好"));
        const QByteArray hello = QByteArray::fromHex("FD 00 06 01 01 C4 E3 BA C3");
        // The start text, digits and a line break, counts.
        f.Command3->click();
        QCOMPARE(frames(f), QList<QByteArray>{hello});
        QVERIFY(f.session().status().continuousPlay);
        // The chip's idle reply starts the next round.
        QVERIFY(com1.write("O"));
        QTRY_COMPARE(frames(f), (QList<QByteArray>{hello, hello}));

        f.Text2->setPlainText(QStringLiteral("0"));
        f.Command3->click();
        QCOMPARE(c.messages(), QStringList{kWholeNumber});
        QCOMPARE(frameCount(f), 2);
    }

    // The box holds seconds: one second, and continuous play is over.
    void continuousPlayEndsWhenItsTimeIsUp() {
        ConsoleFixture c;
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        f.sendText().setText(QStringLiteral("你好"));
        f.Text2->setPlainText(QStringLiteral("1"));
        QSignalSpy ended(&f.session(), &session::ConsoleSession::continuousPlayEnded);
        f.Command3->click();
        QCOMPARE(frameCount(f), 1);
        QVERIFY(ended.wait(3000));
        QVERIFY(!f.session().status().continuousPlay);
        QVERIFY(com1.write("O"));
        QTRY_VERIFY(allText(f.workLog()).endsWith(QStringLiteral("<---- 返回：4F  芯片空闲\r\n")));
        QCOMPARE(frameCount(f), 1); // the idle reply starts nothing
    }

    void testButtonsReachTheirTools() {
        ConsoleFixture c;
        playFaster(c, 1000);
        app::Form1& f = c.load();
        c.messages().clear();
        f.sendText().setText(QStringLiteral("旧的"));
        f.Command16->click();
        const QStringList lines = f.sendText().text().split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 15);
        QCOMPARE(lines.at(13), QStringLiteral("测试4：打断再合成"));

        QSignalSpy steps(&f.session(), &session::ConsoleSession::stepStarted);
        f.Command25->click();
        QCOMPARE(f.sendText().text(), QStringLiteral("[d][g1][s10] 1- 1- 1[g0][d]\r\n\r\n\r\n"));
        QCOMPARE(steps.size(), 1);
        QCOMPARE(steps[0][0].value<session::RunStep>().name,
                 QStringLiteral("死机测试 循环 1 文本 1 控制标记 1"));
        f.Command25->click();
        QCOMPARE(f.sendText().text(),
                 QStringLiteral("[d][g1][s10] 1- 1- 2[g0][d]\r\n[s0][t0][v3]\r\n\r\n"));
        f.Command14->click();
        QCOMPARE(f.session().status().sequence, Sequence::Script123);
        f.Command22->click();
        QCOMPARE(f.session().status().sequence, Sequence::Script45);
        f.Command22->click();
        QCOMPARE(f.session().status().sequence, Sequence::None);
        QVERIFY(c.messages().isEmpty());
    }

    void closingTheWindowEndsASequence() {
        ConsoleFixture c;
        playFaster(c, 1000);
        app::Form1& f = c.load();
        f.Text6->setText(QStringLiteral("10"));
        f.Text7->setText(QStringLiteral("3"));
        f.sendText().setText(QStringLiteral("a"));
        f.Command23->click();
        QTRY_VERIFY(frameCount(f) > 5);
        f.close();
        QCOMPARE(f.session().status().sequence, Sequence::None);
        const qsizetype n = frameCount(f);
        QTest::qWait(100); // no step may follow
        QCOMPARE(frameCount(f), n);
    }
};

QTEST_MAIN(TestToolsWindow)
#include "tst_tools_window.moc"
