// The speech-property panel, the hex send area, the demonstration loaders and
// the chip cache, driven through the window's handlers. Every frame is checked
// twice: in the work log, and as the bytes that arrive at the far end of a
// real pseudo-terminal linked as ./COM1. Whether a control ends continuous
// play shows in what the chip's next idle reply starts.
#include "app/app_helpers.h"
#include "app/form1.h"
#include "common/hex_bytes.h"
#include "common/link_helpers.h"
#include "common/log_helpers.h"
#include "demo/demo_texts.h"
#include "synthesis/text_frame.h"
#include "tools/hex_parse.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

using namespace qav::app;
using qav::test::allText;
using qav::test::gbk;
using qav::test::loggedFrames;

using qav::test::hex;

class TstPanel : public QObject {
    Q_OBJECT

    std::unique_ptr<qav::test::ConsoleFixture> console_;
    qav::test::PtyPort pty_;
    Form1* form_ = nullptr;

    // Everything that reaches the chip's end of the line: what was expected,
    // and anything beyond it, which would be a fault too.
    QByteArray received(qsizetype expected) {
        const QByteArray bytes = pty_.read(expected, 3000);
        return bytes + pty_.readFor(20);
    }

    // The frames logged since the last reset, and the same bytes on the line.
    QList<QByteArray> sent() {
        const QList<QByteArray> frames = loggedFrames(allText(form_->workLog()));
        QByteArray all;
        for (const QByteArray& f : frames)
            all += f;
        const QByteArray line = received(all.size());
        if (line != all)
            qWarning() << "line" << line.toHex(' ') << "log" << all.toHex(' ');
        return line == all ? frames : QList<QByteArray>{QByteArrayLiteral("line != log")};
    }

    void setBar(QScrollBar* bar, int value) { bar->setValue(value); }
    void setHexText(const QString& text) { TextBox(*form_->Text5).setText(text); }

    // Continuous play of the text, its first round sent, off the line and
    // out of the log. What the log held before must have been checked.
    void startContinuousPlay(const QString& text = QStringLiteral("欢迎")) {
        form_->Command2_Click();
        form_->sendText().setText(text);
        form_->Command3->click();
        const QList<QByteArray> first = sent();
        QCOMPARE(first.size(), 1);
        QCOMPARE(first[0].mid(3, 1), hex("01")); // a synthesis request
        form_->Command2_Click();
    }
    // The chip's idle reply, which starts the next round while continuous
    // play goes on.
    void idleReply() {
        const QString idle = QStringLiteral("<---- 返回：4F  芯片空闲\r\n");
        const qsizetype before = allText(form_->workLog()).count(idle);
        QVERIFY(pty_.write("O"));
        QTRY_VERIFY(allText(form_->workLog()).count(idle) > before);
    }

private slots:
    void initTestCase() {
        console_ = std::make_unique<qav::test::ConsoleFixture>();
        QVERIFY(pty_.linkAs(console_->dir(), 1));
        form_ = &console_->load();
        QVERIFY(form_->session().status().portOpen);
        QVERIFY(console_->messages().isEmpty());
        // The fastest line: each frame keeps it for its time on the line.
        form_->Combo2->setCurrentIndex(3);
        form_->Combo2_Click();
        QCOMPARE(form_->session().status().lineSettings, QStringLiteral("115200,N,8,1"));
    }

    void cleanupTestCase() { console_.reset(); }

    void init() {
        form_->session().interruptPlay();
        const bool moved = form_->HScroll1->value() != 6 || form_->HScroll2->value() != 6 ||
                           form_->HScroll3->value() != 6;
        if (moved) {
            form_->Command34_Click(); // the bars back, with the reset tag alone
            QCOMPARE(pty_.read(8), hex("FD000501015B645D"));
        }
        form_->Combo5->setCurrentIndex(1);
        form_->Combo5_Click();
        form_->Command2_Click();
        console_->messages().clear();
        pty_.readAvailable();
    }

    // --- speech-property panel -----------------------------------------------

    void scrollBarFrames() {
        QCOMPARE(form_->HScroll1->minimum(), 1);
        QCOMPARE(form_->HScroll1->maximum(), 11);
        // A bar moved during continuous play ends it: the next idle reply
        // starts nothing.
        startContinuousPlay();
        setBar(form_->HScroll1, 1);
        idleReply();
        setBar(form_->HScroll1, 10);
        setBar(form_->HScroll1, 11);
        setBar(form_->HScroll2, 11);
        setBar(form_->HScroll3, 1);
        QCOMPARE(sent(),
                 (QList<QByteArray>{hex("FD000601015B76305D"), hex("FD000601015B76395D"),
                                    hex("FD000701015B7631305D"), hex("FD000701015B7331305D"),
                                    hex("FD000601015B74305D")}));
    }

    // The reset button puts the three bars back without a tag for each, ends
    // continuous play, and sends its own tag alone; afterwards the bars send
    // their tags again.
    void resetWhileBarsAreMoved() {
        setBar(form_->HScroll1, 1);
        setBar(form_->HScroll2, 11);
        setBar(form_->HScroll3, 3);
        QCOMPARE(sent(), (QList<QByteArray>{hex("FD000601015B76305D"), hex("FD000701015B7331305D"),
                                            hex("FD000601015B74325D")}));
        startContinuousPlay();

        form_->Command34_Click();
        idleReply();
        QCOMPARE(sent(), QList<QByteArray>{hex("FD000501015B645D")});
        QCOMPARE(form_->HScroll1->value(), 6);
        QCOMPARE(form_->HScroll2->value(), 6);
        QCOMPARE(form_->HScroll3->value(), 6);

        form_->Command2_Click();
        setBar(form_->HScroll2, 7);
        QCOMPARE(sent(), QList<QByteArray>{hex("FD000601015B73365D")});
    }

    void languageButtonsAtDefaults() {
        form_->Command19_Click();
        form_->Command21_Click();
        form_->Command18_Click();
        QCOMPARE(sent(), (QList<QByteArray>{hex("FD000601015B67315D"), hex("FD000601015B67325D"),
                                            hex("FD000601015B67305D")}));
    }

    // Like the reset button: the bars back without their tags, the language
    // tag alone, continuous play ended.
    void languageButtonWhileBarsAreMoved() {
        setBar(form_->HScroll1, 2);
        setBar(form_->HScroll3, 11);
        QCOMPARE(sent(),
                 (QList<QByteArray>{hex("FD000601015B76315D"), hex("FD000701015B7431305D")}));
        startContinuousPlay();
        form_->Command19_Click();
        idleReply();
        QCOMPARE(sent(), QList<QByteArray>{hex("FD000601015B67315D")});
        QCOMPARE(form_->HScroll1->value(), 6);
        QCOMPARE(form_->HScroll3->value(), 6);
    }

    void tagFramesIgnoreTheEncoding() {
        form_->Combo5->setCurrentIndex(2); // BIG5
        form_->Combo5_Click();
        QCOMPARE(form_->session().status().encoding, 2);
        setBar(form_->HScroll1, 11);
        form_->Combo4->setCurrentIndex(2);
        form_->Combo4_Click();
        form_->Command21_Click();
        QCOMPARE(sent(),
                 (QList<QByteArray>{hex("FD000701015B7631305D"), hex("FD000701015B6D35325D"),
                                    hex("FD000601015B67325D")}));
    }

    void speakers() {
        QCOMPARE(form_->Combo4->count(), 4);
        QVERIFY(form_->Combo4->isHidden());
        startContinuousPlay();
        form_->Combo4->setCurrentIndex(0);
        form_->Combo4_Click();
        form_->Combo4->setCurrentIndex(3);
        form_->Combo4_Click();
        // Picking a speaker lets a running continuous play go on: the round
        // goes out once the two tags have left the line.
        idleReply();
        QTRY_COMPARE(loggedFrames(allText(form_->workLog())).size(), 3);
        QCOMPARE(sent(), (QList<QByteArray>{hex("FD000601015B6D335D"), hex("FD000701015B6D35335D"),
                                            hex("FD00060101BBB6D3AD")}));
    }

    // --- hex send area -----------------------------------------------------------

    void hexStartupText() {
        const QString startup = TextBox(*form_->Text5).text();
        QVERIFY(startup.startsWith(QStringLiteral("FD 00 1E 01 01 BB B6")));
        QVERIFY(startup.endsWith(QStringLiteral("A3 A1\r\n")));
        const QByteArray frame = hex("FD001E0101BBB6D3ADB9DBBFB4D3EFD2F4BACFB3C9CFB5CDB3B5C4D1DDCA"
                                     "BEA3A1");
        QCOMPARE(frame.size(), 33);

        // Either send ends continuous play.
        startContinuousPlay();
        form_->Command29_Click();
        idleReply();
        QCOMPARE(sent(), QList<QByteArray>{frame});

        form_->Combo5->setCurrentIndex(3);
        form_->Combo5_Click();
        startContinuousPlay();
        form_->Command30_Click();
        idleReply();
        QCOMPARE(sent(), QList<QByteArray>{hex("FD00230103") + frame});
    }

    void hexTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes"); // empty: nothing is sent
        QTest::addColumn<bool>("refused");
        QTest::newRow("lower case") << QStringLiteral("fd 00 01 02") << hex("FD000102") << false;
        QTest::newRow("break after blank") << QStringLiteral("FD 00 \n") << QByteArray() << true;
        QTest::newRow("empty") << QString() << QByteArray() << false;
    }
    void hexTexts() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, refused);
        setHexText(text);
        // Also a send that is refused, or has nothing to send, ends
        // continuous play.
        startContinuousPlay();
        form_->Command29_Click();
        idleReply();
        const QList<QByteArray> direct = sent();
        startContinuousPlay();
        form_->Command30_Click();
        idleReply();
        const QList<QByteArray> headed = sent();

        const QString notHex = QString::fromUtf8(qav::tools::kNotHexMessage);
        const QStringList expected = refused ? QStringList{notHex, notHex} : QStringList{};
        QCOMPARE(console_->messages(), expected);
        if (bytes.isEmpty()) {
            QCOMPARE(direct, QList<QByteArray>{});
            QCOMPARE(headed, QList<QByteArray>{});
        } else {
            QByteArray header = hex("FD00000101");
            header[2] = char(bytes.size() + 2);
            QCOMPARE(direct, QList<QByteArray>{bytes});
            QCOMPARE(headed, QList<QByteArray>{header + bytes});
        }
        // A refused text stays for the engineer to mend.
        QCOMPARE(TextBox(*form_->Text5).text(), QString(text).replace("\n", "\r\n"));
    }

    void hexHeaderAddedTooLong() {
        setHexText(QStringLiteral("00 ").repeated(qav::tools::kMaxHeaderAddedBytes) + "01");
        form_->Command30_Click();
        QCOMPARE(console_->messages(),
                 QStringList{QString::fromUtf8(qav::tools::kHexTooLongMessage)});
        QCOMPARE(sent(), QList<QByteArray>{});
    }

    void hexClearAndFrameData() {
        form_->Command1_Click();
        QVERIFY(form_->Text5->toPlainText().isEmpty());
        form_->session().sendFrame(QByteArray("\xFD\x00\x01\x02", 4));
        QCOMPARE(sent(), QList<QByteArray>{hex("FD000102")});
    }

    // --- demonstration texts -----------------------------------------------------

    void demoLoaders() {
        TextBox& text3 = form_->sendText();
        text3.setText(QStringLiteral("old text\r\nmore"));
        text3.setSelStart(2);
        text3.setSelLength(5);
        form_->Command17_Click();
        form_->Command17_Click();
        QCOMPARE(text3.text(), qav::demo::englishChineseDemoText());
        QCOMPARE(text3.selLength(), 0);
        form_->Command31_Click();
        QCOMPARE(text3.text(), qav::demo::chineseDemoText());
        form_->Command32_Click();
        form_->Command32_Click();
        QCOMPARE(text3.text(), qav::demo::promptSoundCatalogue());
        QVERIFY(allText(form_->workLog()).isEmpty());
        QCOMPARE(sent(), QList<QByteArray>{});
    }

    // --- chip cache ----------------------------------------------------------------

    void cacheStore() {
        TextBox& text3 = form_->sendText();
        const QString welcome = QStringLiteral("欢迎光临");
        startContinuousPlay(welcome);
        form_->Combo6->setCurrentIndex(0);
        form_->Command10_Click();
        idleReply(); // storing ends continuous play
        QVERIFY(form_->Command6->isEnabled());
        QCOMPARE(text3.selLength(), 4);
        // The selection stays, so a second store sends the same text again.
        form_->Combo6->setCurrentIndex(15);
        form_->Command10_Click();
        // With no entry picked the segment is still a valid one.
        form_->Combo6->setCurrentIndex(-1);
        form_->Command10_Click();
        QCOMPARE(sent(), (QList<QByteArray>{hex("FD000A3100") + gbk(welcome),
                                            hex("FD000A310F") + gbk(welcome),
                                            hex("FD000A3100") + gbk(welcome)}));
        form_->Combo6->setCurrentIndex(0);
    }

    void cacheStoreEmptyText() {
        form_->sendText().setText(QString());
        form_->Command10_Click();
        QVERIFY(form_->Command6->isEnabled());
        QCOMPARE(sent(), QList<QByteArray>{});
    }

    // Longer than a chunk: cut to 4091 text bytes; the 4096-byte frame leaves
    // as 2000 bytes and the rest, one frame on the line and in the log.
    void cacheStoreLongText() {
        TextBox& text3 = form_->sendText();
        text3.setText(QString(5000, u'a'));
        form_->Command10_Click();
        QCOMPARE(text3.selStart(), 0);
        QCOMPARE(text3.selLength(), 4091);
        const QList<QByteArray> frames = sent();
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames[0].size(), 4096);
        QCOMPARE(frames[0].left(5), hex("FD0FFD3100"));
        QCOMPARE(frames[0].mid(5), QByteArray(4091, 'a'));
        QVERIFY(allText(form_->workLog()).startsWith(QStringLiteral("发出一帧，字节数  4096\r\n")));
    }

    void cacheStoreWithoutTable() {
        qav::test::ConsoleFixture noTable;
        QTemporaryDir empty;
        noTable.options().tableFolder = empty.path();
        Form1& f = noTable.load();
        noTable.messages().clear(); // the port message of start-up
        f.Combo5->setCurrentIndex(2);
        f.Combo5_Click();
        f.sendText().setText(QStringLiteral("abc"));
        f.Command10_Click();
        QCOMPARE(noTable.messages(),
                 QStringList{QString::fromUtf8(qav::synthesis::kTableMissingMessage)});
        QVERIFY(f.Command6->isEnabled());
        QCOMPARE(loggedFrames(allText(f.workLog())), QList<QByteArray>{});
    }

    void cachePlay_data() {
        QTest::addColumn<int>("replayEntry");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("15 times, big-endian") << 14 << 4 << hex("FD000232F4");
        QTest::newRow("3 times, GBK") << 2 << 1 << hex("FD00023231");
        QTest::newRow("once, GB2312") << 0 << 0 << hex("FD00023210");
    }
    void cachePlay() {
        QFETCH(int, replayEntry);
        QFETCH(int, encoding);
        QFETCH(QByteArray, frame);
        QCOMPARE(form_->Combo7->itemText(14), QStringLiteral("15"));
        form_->Combo7->setCurrentIndex(replayEntry);
        form_->Combo5->setCurrentIndex(encoding);
        form_->Combo5_Click();
        startContinuousPlay();
        form_->Command13_Click();
        idleReply(); // cache play ends continuous play
        QCOMPARE(sent(), QList<QByteArray>{frame});
    }
};

QTEST_MAIN(TstPanel)
#include "tst_panel.moc"
