// Opening and closing the window: start values, the data files (also when
// they are pipes or not GBK), the link defaults, the text-box handlers, and
// the log export at close, also when LOG.txt cannot be written.
#include "app/form1.h"
#include "app_helpers.h"
#include "common/link_helpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

using namespace qav;
using namespace qav::test;

namespace {
const QString kInitialFile = QStringLiteral("初始默认文本.txt");
const QString kResultFile = QStringLiteral("死机测试文本-测试结果.txt");
const QString kPortMessage =
    QStringLiteral("串口不存在或被占用,若电脑没有串口，请使用USB转串口设备");

// The message boxes the window has open.
QList<QMessageBox*> openBoxes(QWidget& window) {
    QList<QMessageBox*> open;
    for (QMessageBox* box : window.findChildren<QMessageBox*>())
        if (box->isVisible())
            open.append(box);
    return open;
}

// Presses OK on every open message box, as the engineer would.
void pressOkOnAll(QWidget& window) {
    for (QMessageBox* box : openBoxes(window))
        box->button(QMessageBox::Ok)->click();
    QCoreApplication::sendPostedEvents();
}
} // namespace

class TestFormStartup : public QObject {
    Q_OBJECT
private slots:
    void defaultsWithoutAnyPort() {
        ConsoleFixture c;
        app::Form1& f = c.load();
        QCOMPARE(f.windowTitle(),
                 QStringLiteral("Tonaria-QAV7120中英语音合成芯片-PC端演示程序  V1.3"));
        QVERIFY(!f.session().status().usbLink);
        QCOMPARE(f.session().status().chunkLimit, 4091);
        QCOMPARE(f.workLog().hexPrefix(), QString());
        QCOMPARE(f.session().status().commPort, 1);
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
        QCOMPARE(f.session().status().lineSettings, QStringLiteral("9600,N,8,1"));
        QCOMPARE(f.HScroll1->value(), 6);
        QCOMPARE(f.Text2->toPlainText(), QStringLiteral("500000\n"));
        QCOMPARE(f.Text6->text(), QStringLiteral("1000"));
        QCOMPARE(f.Text7->text(), QStringLiteral("100"));
        // No COM1 in the folder (and none on a test machine): one message, no chunk-limit box.
        QCOMPARE(c.messages(), QStringList{kPortMessage});
        QVERIFY(!f.session().status().portOpen);
        QVERIFY(!f.session().status().continuousPlay);
        QCOMPARE(f.session().status().sequence, session::ConsoleSession::Sequence::None);
        QVERIFY(allText(f.workLog()).isEmpty());

        // Nothing is under way: the chip's idle reply starts nothing.
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        f.Combo1_Click(); // COM1, now that there is one
        QVERIFY(com1.write("O"));
        QTRY_COMPARE(allText(f.workLog()), QStringLiteral("<---- 返回：4F  芯片空闲\r\n"));
        QCOMPARE(com1.readFor(50), QByteArray()); // checks that nothing is sent
        // A bar sends its tag.
        f.Command2_Click();
        f.HScroll1->setValue(7);
        QCOMPARE(loggedFrames(allText(f.workLog())),
                 QList<QByteArray>{QByteArray::fromHex("FD000601015B76365D")});
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
        c.writeFile(kInitialFile, gbk(text));
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
        // Each crash step adds its line, at once.
        f.Command25_Click();
        QCOMPARE(c.readFile(kResultFile),
                 gbk(QStringLiteral("循环序号： 1    文本序号： 1    控制标记序号： 1\r\n")));
        f.Command25_Click();
        QCOMPARE(c.readFile(kResultFile),
                 gbk(QStringLiteral("循环序号： 1    文本序号： 1    控制标记序号： 1\r\n"
                                    "循环序号： 1    文本序号： 1    控制标记序号： 2\r\n")));
        QCOMPARE(c.messages(), QStringList{kPortMessage});
    }

    void clearButtonEmptiesSendText() {
        ConsoleFixture c;
        c.writeFile(kInitialFile, gbk(QStringLiteral("有字\r\n")));
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
        const QByteArray expected =
            gbk(QStringLiteral("导出数据\r\n发出一帧，字节数  4\r\n----> FD 00 01 02 \r\n\r\n"
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

    // ---- LOG.txt cannot be written when the window closes ----

    void unwritableLogAtCloseStillEnds_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a folder") << QStringLiteral("folder");
        QTest::newRow("a pipe nobody reads") << QStringLiteral("pipe"); // would wait for ever
        QTest::newRow("a full disk") << QStringLiteral("full");
    }
    void unwritableLogAtCloseStillEnds() {
        QFETCH(QString, kind);
        if (kind == QLatin1String("full") && !QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full here");
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const QString logPath = dir.filePath(QStringLiteral("LOG.txt"));
        {
            // Real message boxes, as the program shows them.
            session::ConsoleSession::Options options;
            options.systemPorts = false;
            app::Form1 f(nullptr, nullptr, options);
            f.Form_Load();
            f.show();
            QVERIFY(QTest::qWaitForWindowExposed(&f));
            pressOkOnAll(f); // the port message of start-up
            f.Command7_Click();
            if (kind == QLatin1String("pipe"))
                QCOMPARE(::mkfifo(QFile::encodeName(logPath), 0600), 0);
            else if (kind == QLatin1String("full"))
                QVERIFY(QFile::link(QStringLiteral("/dev/full"), logPath));
            else
                QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("LOG.txt")));

            f.close();
            const QList<QMessageBox*> boxes = openBoxes(f);
            QCOMPARE(boxes.size(), 1);
            QVERIFY(boxes.first()->text().startsWith(QStringLiteral("工作记录未能导出到LOG.txt")));
            QTest::qWait(50);       // the window may not go meanwhile
            QVERIFY(f.isVisible()); // until the message is acknowledged
            QVERIFY(!f.session().status().portOpen);
            pressOkOnAll(f);
            QTRY_VERIFY(!f.isVisible());
            QVERIFY(openBoxes(f).isEmpty()); // the export is not tried again
            // Nothing is left open, so the program's event loop ends.
            for (QWidget* w : QApplication::topLevelWidgets())
                QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
        }
        QDir::setCurrent(previous);
    }

    // ---- start-up files that are not plain GBK text ----

    void startUpFilesThatArePipes() {
        // Start-up waits for no writer and no reader: the send text area
        // stays empty, and the crash test goes without its result file.
        ConsoleFixture c;
        QCOMPARE(::mkfifo(QFile::encodeName(c.path(kInitialFile)), 0600), 0);
        QCOMPARE(::mkfifo(QFile::encodeName(c.path(kResultFile)), 0600), 0);
        app::Form1& f = c.load();
        QCOMPARE(f.sendText().text(), QString());
        QCOMPARE(c.messages(), QStringList{kPortMessage});
        // The first crash step says so, once; the test runs on.
        f.Command25_Click();
        f.Command25_Click();
        QCOMPARE(c.messages().size(), 2);
        QVERIFY2(c.messages()[1].startsWith(QStringLiteral("死机测试结果文件未能打开：")) &&
                     c.messages()[1].contains(kResultFile) &&
                     c.messages()[1].endsWith(
                         QStringLiteral("\n测试继续进行，工作记录照常记录每一步。")),
                 qPrintable(c.messages()[1]));
        QCOMPARE(loggedFrames(allText(f.workLog())).size(), 2);
    }

    void initialTextWithBytesThatAreNotGbk() {
        ConsoleFixture c;
        // Lead bytes with a trail they cannot have (0x7F, 0x30), and a lead
        // byte the file ends inside.
        const QByteArray bytes = gbk(QStringLiteral("开始")) + "ab\x81\x7F" + "cd\xB0\x30\r\n" +
                                 gbk(QStringLiteral("末")) + "\xB0";
        c.writeFile(kInitialFile, bytes);
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        QVERIFY(c.messages().isEmpty());
        const QString text = f.sendText().text();
        const QString bad(QChar::ReplacementCharacter);
        QCOMPARE(text, QStringLiteral("开始ab") + bad + QStringLiteral("\x7F") +
                           QStringLiteral("cd") + bad + QStringLiteral("0\r\n末") + bad);

        // The console goes on: the text is sent, each replacement as '?'.
        f.Command2_Click();
        f.Command6_Click();
        const QByteArray frame = QByteArray::fromHex(
            "FD 00 13 01 01 BF AA CA BC 61 62 3F 7F 63 64 3F 30 0D 0A C4 A9 3F");
        QCOMPARE(com1.read(frame.size()), frame);
        QCOMPARE(allText(f.workLog()), frameEntry(frame));
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
