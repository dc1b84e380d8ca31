// The synthesis request and the serial reply decoder in the window, against a
// pseudo-terminal linked as COM1.
#include "app/app_helpers.h"
#include "link/link_helpers.h"
#include "link/serial_port_service.h"
#include "synthesis/conversion_table.h"
#include "synthesis/text_frame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace qav;
using namespace qav::test;

namespace {

const QString kEntryHead = QStringLiteral("发出一帧，字节数 ");

int entries(const QString& log) {
    return int(log.count(kEntryHead));
}

} // namespace

class SynthesisWindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ConsoleFixture> console_;
    std::unique_ptr<PtyPort> pty_;
    app::Form1* form_ = nullptr;

    app::Form1& form() { return *form_; }
    const QString& log() { return form_->workLog().text(); }
    void setEncoding(int index) {
        form().Combo5->setCurrentIndex(index);
        form().Combo5_Click();
    }

private slots:
    void init() {
        console_ = std::make_unique<ConsoleFixture>();
        pty_ = std::make_unique<PtyPort>();
        QVERIFY(pty_->linkAs(console_->dir(), 1));
        form_ = &console_->load();
        QVERIFY(form().serialPort().portOpen());
        form().session().setConversionTableFolder(QCoreApplication::applicationDirPath());
        form().Command2_Click(); // start from an empty log
    }
    void cleanup() {
        console_.reset();
        pty_.reset();
    }

    void wholeTextWhenNothingSelected() {
        form().sendText().setText(u"欢迎光临"_qs);
        form().state().continueSynthesis = true;
        form().Command6_Click();
        const QByteArray frame = QByteArray::fromHex("FD000A0101BBB6D3ADB9E2C1D9");
        QCOMPARE(pty_->read(frame.size()), frame);
        QCOMPARE(log(), kEntryHead + " 13\r\n----> " + hexLine(frame) + "\r\n");
        QCOMPARE(form().sendText().selStart(), 0);
        QCOMPARE(form().sendText().selLength(), 4);
        QVERIFY(!form().state().continueSynthesis);
        QVERIFY(form().Command6->isEnabled());
    }

    void longFrameLoggedOnceWrittenWhole() {
        form().sendText().setText(QString(3000, u'x'));
        form().Command6_Click();
        const QByteArray got = pty_->read(3005);
        QCOMPARE(got.size(), 3005);
        QCOMPARE(got.first(5), QByteArray::fromHex("FD0BBA0101"));
        QCOMPARE(got.sliced(5), QByteArray(3000, 'x'));
        QCOMPARE(entries(log()), 1);
        QVERIFY(log().startsWith(kEntryHead + " 3005\r\n"));
        QVERIFY(pty_->readFor(50).isEmpty());
    }

    void longTextCutToOneChunk() {
        // More than 32767 characters; only the first chunk is measured and sent.
        const QString text(40000, u'中');
        form().sendText().setText(text);
        form().Command6_Click();
        QCOMPARE(pty_->read(4095).size(), 4095);
        QCOMPARE(form().sendText().selStart(), 0);
        QCOMPARE(form().sendText().selLength(), 2045);
        QVERIFY(log().startsWith(kEntryHead + " 4095\r\n"));
    }

    void tableMissingOrDamaged() {
        QTemporaryDir missing, damaged;
        QFile bad(synthesis::ConversionTable::pathIn(damaged.path()));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(QByteArray(1000, '\0'));
        bad.close();
        for (const QString& folder : {missing.path(), damaged.path()}) {
            form().session().setConversionTableFolder(folder);
            for (int encoding : {2, 3, 4}) {
                setEncoding(encoding);
                form().sendText().setText("abc");
                console_->messages().clear();
                form().Command6_Click();
                QCOMPARE(console_->messages(),
                         QStringList{QString::fromUtf8(synthesis::kTableMissingMessage)});
                QVERIFY(form().Command6->isEnabled());
            }
            setEncoding(1); // GBK needs no table
            form().Command6_Click();
            QCOMPARE(pty_->read(8), QByteArray::fromHex("FD00050101616263"));
        }
        QCOMPARE(entries(log()), 2);
    }

    void replyLines_data() {
        QTest::addColumn<bool>("prefix");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("lines");
        QTest::newRow("received, prefix")
            << true << QByteArray("A") << u"<---- 返回：0x41  接收成功\r\n"_qs;
        QTest::newRow("three idle") << true << QByteArray("OOO")
                                    << u"<---- 返回：0x4F  芯片空闲\r\n"
                                       u"<---- 返回：0x4F  芯片空闲\r\n"_qs;
        QTest::newRow("version") << false << QByteArray("S1.3")
                                 << u"<---- 返回：58  软件版本号：S1.3\r\n"_qs;
    }
    void replyLines() {
        QFETCH(bool, prefix);
        QFETCH(QByteArray, reply);
        QFETCH(QString, lines);
        form().Check5->setChecked(prefix);
        form().Check5_Click();
        QVERIFY(pty_->write(reply));
        QTRY_COMPARE(log(), lines);
        QVERIFY(pty_->readFor(50).isEmpty()); // the idle reply starts nothing by itself
        QCOMPARE(log(), lines);
    }

    void repliesIgnoredWhileUnticked() {
        form().Check1->setChecked(false);
        form().sendText().setText("abc");
        form().state().continueSynthesis = true;
        form().state().replayCount = 5;
        QVERIFY(pty_->write("AO"));
        QVERIFY(pty_->readFor(100).isEmpty());
        QVERIFY(log().isEmpty());
        QVERIFY(form().state().continueSynthesis);
    }

    void idleReplyContinues_data() {
        QTest::addColumn<double>("replayCount");
        QTest::newRow("replaying") << 5.0;
        QTest::newRow("last") << 0.0;
    }
    void idleReplyContinues() {
        QFETCH(double, replayCount);
        form().sendText().setText("abcdef");
        form().sendText().setSelStart(1);
        form().sendText().setSelLength(2);
        form().state().continueSynthesis = true;
        form().state().replayCount = replayCount;
        QVERIFY(pty_->write("O"));
        QCOMPARE(pty_->read(7), QByteArray::fromHex("FD0004010162 63"));
        QCOMPARE(form().state().continueSynthesis, replayCount > 0);
        QCOMPARE(entries(log()), 1);
        QVERIFY(log().startsWith(u"<---- 返回：4F  芯片空闲\r\n"_qs));
    }
};

QTEST_MAIN(SynthesisWindowTest)
#include "tst_synthesis.moc"
