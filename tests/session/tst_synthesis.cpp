// The synthesis request and the serial replies with their idle actions,
// against a pseudo-terminal linked as COM1: what goes on the line, what the
// work log says, and what a reply starts.
#include "common/link_helpers.h"
#include "link/serial_port_service.h"
#include "session_helpers.h"
#include "synthesis/conversion_table.h"

#include <QTemporaryDir>
#include <QTest>

using namespace qav;
using namespace qav::test;
using SelectionSend = session::ConsoleSession::SelectionSend;

namespace {
const QString kTableMessage = QStringLiteral(
    "您目前选择的编码是Big5或Unicode（见界面右下角的编码选择）！ "
    "找不到GBKToBig5AndUnicode.dat文件！ 无法解析文件编码！ 请选择GBK编码，再合成！");
}

class SynthesisTest : public QObject {
    Q_OBJECT
    std::unique_ptr<SessionFixture> s_;
    std::unique_ptr<PtyPort> pty_;

    session::ConsoleSession& session() { return s_->session(); }
    const QString& log() { return s_->log(); }

private slots:
    void init() {
        s_ = std::make_unique<SessionFixture>();
        pty_ = std::make_unique<PtyPort>();
        QVERIFY(pty_->linkAs(s_->dir(), 1));
        QVERIFY(session().selectPort(0));
    }
    void cleanup() {
        s_.reset();
        pty_.reset();
    }

    void wholeTextWhenNothingSelected() {
        s_->text().setText(u"欢迎光临"_qs);
        s_->state().continueSynthesis = true;
        QCOMPARE(session().synthesize(), SelectionSend::Sent);
        const QByteArray frame = QByteArray::fromHex("FD000A0101BBB6D3ADB9E2C1D9");
        QCOMPARE(pty_->read(frame.size()), frame);
        QCOMPARE(log(),
                 u"发出一帧，字节数  13\r\n----> FD 00 0A 01 01 BB B6 D3 AD B9 E2 C1 D9 \r\n"_qs);
        QCOMPARE(s_->text().selStart(), 0);
        QCOMPARE(s_->text().selLength(), 4);
        QVERIFY(!s_->state().continueSynthesis);
        QCOMPARE(s_->state().lastFrameIndex, 12);
        QVERIFY(s_->text().focusRequests > 0);
    }

    void selectionAcrossALineBreak() {
        s_->text().setText(u"ab\r\n中c"_qs);
        s_->text().setSelStart(1);
        s_->text().setSelLength(4);
        QCOMPARE(session().synthesize(), SelectionSend::Sent);
        QCOMPARE(pty_->read(10), QByteArray::fromHex("FD00070101620D0AD6D0"));
    }

    void longFrameLoggedOnceWrittenWhole() {
        s_->text().setText(QString(3000, u'x'));
        session().synthesize();
        const QByteArray got = pty_->read(3005);
        QCOMPARE(got.size(), 3005);
        QCOMPARE(got.first(5), QByteArray::fromHex("FD0BBA0101"));
        QCOMPARE(got.sliced(5), QByteArray(3000, 'x'));
        QCOMPARE(log(), frameEntry(got));
        QVERIFY(log().startsWith(u"发出一帧，字节数  3005\r\n----> FD 0B BA 01 01 78 "_qs));
        QVERIFY(pty_->readFor(50).isEmpty());
    }

    void longTextCutToOneChunk() {
        // More than 32767 characters; only the first chunk is measured and sent.
        s_->text().setText(QString(40000, u'中'));
        session().synthesize();
        const QByteArray got = pty_->read(4095);
        QCOMPARE(got.size(), 4095);
        QCOMPARE(got.first(5), QByteArray::fromHex("FD0FFC0101"));
        QCOMPARE(s_->text().selStart(), 0);
        QCOMPARE(s_->text().selLength(), 2045);
        QVERIFY(log().startsWith(u"发出一帧，字节数  4095\r\n"_qs));
    }

    void emptyTextSendsNothing() {
        s_->text().setText(QString());
        QCOMPARE(session().synthesize(), SelectionSend::Empty);
        QVERIFY(log().isEmpty());
        QVERIFY(pty_->readFor(50).isEmpty());
    }

    void tableMissingOrDamaged() {
        QTemporaryDir missing, damaged;
        QFile bad(synthesis::ConversionTable::pathIn(damaged.path()));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(QByteArray(1000, '\0'));
        bad.close();
        for (const QString& folder : {missing.path(), damaged.path()}) {
            session().setConversionTableFolder(folder);
            for (int encoding : {2, 3, 4}) {
                s_->state().encodingCode = encoding;
                s_->text().setText("abc");
                s_->messages().clear();
                QCOMPARE(session().synthesize(), SelectionSend::TableMissing);
                QCOMPARE(s_->messages(), QStringList{kTableMessage});
            }
            s_->state().encodingCode = 1; // GBK needs no table
            session().synthesize();
            QCOMPARE(pty_->read(8), QByteArray::fromHex("FD00050101616263"));
        }
        QCOMPARE(loggedFrames(log()),
                 QList<QByteArray>(2, QByteArray::fromHex("FD00050101616263")));
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
        session().setHexPrefixShown(prefix);
        QVERIFY(pty_->write(reply));
        QTRY_COMPARE(log(), lines);
        QVERIFY(pty_->readFor(50).isEmpty()); // the idle reply starts nothing by itself
        QCOMPARE(log(), lines);
    }

    void repliesHeldWhileNotDecoded() {
        session().setRepliesDecoded(false);
        s_->text().setText("abc");
        s_->state().continueSynthesis = true;
        s_->state().replayCount = 5;
        QVERIFY(pty_->write("AO"));
        QVERIFY(pty_->readFor(100).isEmpty());
        QVERIFY(log().isEmpty());
        QVERIFY(s_->state().continueSynthesis);
        // Decoded again: the replies that waited come with the next.
        session().setRepliesDecoded(true);
        QVERIFY(pty_->write("J"));
        QTRY_VERIFY(
            log().startsWith(u"<---- 返回：41  接收成功\r\n<---- 返回：4F  芯片空闲\r\n"_qs));
    }

    void idleReplyContinues_data() {
        QTest::addColumn<double>("replayCount");
        QTest::newRow("replaying") << 5.0;
        QTest::newRow("last") << 0.0;
    }
    void idleReplyContinues() {
        QFETCH(double, replayCount);
        s_->text().setText("abcdef");
        s_->text().setSelStart(1);
        s_->text().setSelLength(2);
        s_->state().continueSynthesis = true;
        s_->state().replayCount = replayCount;
        QVERIFY(pty_->write("O"));
        QCOMPARE(pty_->read(7), QByteArray::fromHex("FD0004010162 63"));
        QCOMPARE(s_->state().continueSynthesis, replayCount > 0);
        QCOMPARE(log(), u"<---- 返回：4F  芯片空闲\r\n"
                        u"发出一帧，字节数  7\r\n----> FD 00 04 01 01 62 63 \r\n"_qs);
    }
};

QTEST_GUILESS_MAIN(SynthesisTest)
#include "tst_synthesis.moc"
