// Opening and closing the window: start values, the data files, the link
// defaults, the text-box handlers and the log export at close.
#include "app/form1.h"
#include "app_helpers.h"
#include "link/serial_port_service.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

using namespace qav;
using qav::test::ConsoleFixture;

namespace {
const QString kInitialFile = QStringLiteral("初始默认文本.txt");
const QString kResultFile = QStringLiteral("死机测试文本-测试结果.txt");
const QString kPortMessage = QString::fromUtf8(qav::session::ConsoleSession::kPortMessage);
} // namespace

class TestFormStartup : public QObject {
    Q_OBJECT
private slots:
    void defaultsWithoutAnyPort() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        const session::ConsoleState& s = f.state();
        QCOMPARE(f.windowTitle(),
                 QStringLiteral("Tonaria-QAV7120中英语音合成芯片-PC端演示程序  V1.3"));
        QVERIFY(!f.session().useUsbLink());
        QCOMPARE(s.chunkLimit, 4091);
        QVERIFY(
            s.chunkLimitNotice.startsWith(QStringLiteral("字节：这是每次发送的最大文本字节长度")));
        QCOMPARE(f.workLog().hexPrefix(), QString());
        QCOMPARE(s.continueSynthesis, false);
        QCOMPARE(s.sliderTagsEnabled, true);
        QCOMPARE(s.lastFrameIndex, 0);
        QCOMPARE(s.serialPortNumber, 1);
        QCOMPARE(f.Combo5->currentText(), QStringLiteral("GBK"));
        QCOMPARE(f.Combo2->currentText(), QStringLiteral("波特率9600"));
        QCOMPARE(f.Combo3->currentText(), QStringLiteral("PWM 输出(默认)"));
        QCOMPARE(f.Combo1->currentText(), QStringLiteral("COM1"));
        QCOMPARE(f.Combo6->currentIndex(), 0);
        QCOMPARE(f.Combo7->currentText(), QStringLiteral("01"));
        QVERIFY(f.Check1->isChecked());
        QVERIFY(f.Check2->isChecked());
        QVERIFY(f.Check3->isChecked());
        QVERIFY(!f.Check5->isChecked());
        QVERIFY(f.Option3->isChecked());
        QCOMPARE(f.serialPort().settings(), QStringLiteral("9600,N,8,1"));
        QCOMPARE(f.HScroll1->value(), 6);
        QCOMPARE(f.Text2->toPlainText(), QStringLiteral("500000\n"));
        QCOMPARE(f.Text6->text(), QStringLiteral("1000"));
        QCOMPARE(f.Text7->text(), QStringLiteral("100"));
        // No COM1 in the folder (and none on a test machine): one message, no chunk-limit box.
        QCOMPARE(c.messages(), QStringList{kPortMessage});
        QVERIFY(!f.serialPort().portOpen());
        QVERIFY(!f.Timer1->isActive());
    }

    void storedHiddenControlsStayHidden() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        f.show();
        const QList<QWidget*> hidden = {f.Option4,   f.Combo4,    f.Command31, f.Command12,
                                        f.Command25, f.Command14, f.Command22, f.Command16,
                                        f.Command3,  f.Text2,     f.Command23, f.Text6,
                                        f.Text7,     f.Command10, f.Command13, f.Combo6,
                                        f.Combo7,    f.Text1,     f.Command4};
        for (QWidget* w : hidden)
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
        const QList<QWidget*> shown = {f.Text3,    f.Text4,     f.Text5,     f.Command6,
                                       f.Command7, f.Command15, f.Combo1,    f.Combo2,
                                       f.Combo5,   f.HScroll1,  f.Command34, f.Check5};
        for (QWidget* w : shown)
            QVERIFY2(w->isVisible(), qPrintable(w->objectName()));
        // Assistive technology sees the caption and, as description, the control name.
        QCOMPARE(f.Text4->accessibleName(), QStringLiteral("工作记录"));
        QCOMPARE(f.HScroll1->accessibleName(), QStringLiteral("音量"));
        QCOMPARE(f.Command7->accessibleName(), QStringLiteral("停止"));
        QCOMPARE(f.Combo1->accessibleName(), QStringLiteral("端口号"));
        for (QWidget* w : f.findChildren<QWidget*>()) {
            if (!w->accessibleDescription().isEmpty())
                QCOMPARE(w->accessibleDescription(), w->objectName());
        }
    }

    void initialTextShownExactly() {
        ConsoleFixture c;
        const QString text = QStringLiteral("欢迎使用，第一行\r\n第二行 [v5]\r\n\r\n末行");
        c.writeFile(kInitialFile, test::gbk(text));
        app::Form1& f = c.load();
        QCOMPARE(f.sendText().text(), text);
        QCOMPARE(f.sendText().length(), text.size());
    }

    void missingInitialFileCreatedEmpty() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        QVERIFY(QFile::exists(c.path(kInitialFile)));
        QCOMPARE(QFileInfo(c.path(kInitialFile)).size(), 0);
        QCOMPARE(f.sendText().text(), QString());
    }

    void resultFileTruncatedAndKeptOpen() {
        ConsoleFixture c;
        c.writeFile(kResultFile, QByteArray("an earlier run\r\n"));
        app::Form1& f = c.load();
        QCOMPARE(QFileInfo(c.path(kResultFile)).size(), 0);
        QVERIFY(f.session().crashResultFile() && f.session().crashResultFile()->isOpen());
        f.session().crashResultFile()->write("step\r\n");
        f.session().crashResultFile()->flush();
        QCOMPARE(c.readFile(kResultFile), QByteArray("step\r\n"));
    }

    void clearButtonEmptiesSendText() {
        ConsoleFixture c;
        c.writeFile(kInitialFile, test::gbk(QStringLiteral("有字\r\n")));
        app::Form1& f = c.load();
        f.Command15->click();
        QCOMPARE(f.sendText().text(), QString());
    }

    void text2AcceptsDigitsOnly_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("rejected");
        QTest::newRow("digits") << QStringLiteral("1234") << false;
        QTest::newRow("digits then letter") << QStringLiteral("12a") << true;
        QTest::newRow("line break") << QStringLiteral("12\n") << true;
        QTest::newRow("blank") << QStringLiteral("1 2") << true;
        QTest::newRow("sign") << QStringLiteral("-5") << true;
        QTest::newRow("wide digit") << QStringLiteral("１") << true;
    }
    void text2AcceptsDigitsOnly() {
        QFETCH(QString, typed);
        QFETCH(bool, rejected);
        ConsoleFixture c;
        app::Form1& f = c.load();
        c.messages().clear();
        f.Text2->clear();
        QVERIFY(c.messages().isEmpty()); // an empty box is fine
        f.Text2->insertPlainText(typed); // one edit, as a paste is
        if (rejected) {
            QCOMPARE(c.messages(), QStringList{QStringLiteral("请输入大于等于1的整数")});
            QCOMPARE(f.Text2->toPlainText(), QString());
        } else {
            QVERIFY(c.messages().isEmpty());
            QCOMPARE(f.Text2->toPlainText(), typed);
        }
    }

    void text2TypedLetterEmptiesTheBox() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        f.Text2->clear();
        c.messages().clear();
        QTest::keyClicks(f.Text2, QStringLiteral("12a"));
        QCOMPARE(c.messages(), QStringList{QStringLiteral("请输入大于等于1的整数")});
        QCOMPARE(f.Text2->toPlainText(), QString());
    }

    void text2StartTextLineBreakCountsAsNonDigit() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        c.messages().clear();
        QTextCursor cursor = f.Text2->textCursor();
        cursor.setPosition(0);
        f.Text2->setTextCursor(cursor);
        QTest::keyClicks(f.Text2, QStringLiteral("7"));
        QCOMPARE(c.messages(), QStringList{QStringLiteral("请输入大于等于1的整数")});
        QCOMPARE(f.Text2->toPlainText(), QString());
    }

    void closeExportsLogOncePerClose() {
        ConsoleFixture c;
        c.load().Command7_Click();
        c.close();
        c.load().Command8_Click();
        c.close();
        const QByteArray expected = test::gbk(
            QStringLiteral("导出数据\r\n发出一帧，字节数  4\r\n----> FD 00 01 02 \r\n\r\n"
                           "导出数据\r\n发出一帧，字节数  4\r\n----> FD 00 01 03 \r\n\r\n"));
        QCOMPARE(c.readFile(QStringLiteral("LOG.txt")), expected);
    }

    void unwritableLogIsReportedBeforeTheWindowGoes() {
        if (::geteuid() == 0)
            QSKIP("file permissions do not bind root");
        ConsoleFixture c;
        app::Form1& f = c.load();
        f.show();
        c.messages().clear();
        c.writeFile(QStringLiteral("LOG.txt"), QByteArray());
        QFile::setPermissions(c.path(QStringLiteral("LOG.txt")), QFile::ReadOwner);
        f.close();
        QCOMPARE(c.messages().size(), 1);
        QVERIFY(c.messages().first().startsWith(QStringLiteral("工作记录未能导出到LOG.txt")));
        QTRY_VERIFY(!f.isVisible()); // closes once the message is acknowledged
    }

    void logIntoFolderThatIsAFileIsReported() {
        // Works as root too: LOG.txt is a folder, so it cannot be opened for appending.
        ConsoleFixture c;
        app::Form1& f = c.load();
        f.show();
        c.messages().clear();
        QVERIFY(QDir(c.dir()).mkdir(QStringLiteral("LOG.txt")));
        f.close();
        QCOMPARE(c.messages().size(), 1);
        QVERIFY(f.isVisible()); // still there while the message is up
        QTRY_VERIFY(!f.isVisible());
        QVERIFY(!f.exportError().isEmpty());
    }

    void startUpTime() {
        ConsoleFixture c;
        QElapsedTimer t;
        t.start();
        app::Form1& f = c.load();
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        qInfo("start-up to window shown: %lld ms", t.elapsed());
    }
};

QTEST_MAIN(TestFormStartup)
#include "tst_form1_startup.moc"
