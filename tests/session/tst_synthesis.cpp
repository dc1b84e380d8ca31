// The synthesis request and the serial replies with their idle actions,
// against a pseudo-terminal linked as COM1: what goes on the line, what the
// work log says, and what a reply starts.
#include "common/link_helpers.h"
#include "session_helpers.h"
#include "synthesis/conversion_table.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qav;
using namespace qav::test;
using SelectionSend = session::ConsoleSession::SelectionSend;

class SynthesisTest : public QObject {
    Q_OBJECT
    std::unique_ptr<SessionFixture> s_;
    std::unique_ptr<PtyPort> pty_;

    session::ConsoleSession& session() { return s_->session(); }
    QString log() const { return s_->log(); }

private slots:
    void init() {
        s_ = std::make_unique<SessionFixture>();
        pty_ = std::make_unique<PtyPort>();
        QVERIFY(pty_->linkAs(s_->dir(), 1));
        QVERIFY(session().selectPort(QStringLiteral("COM1")));
    }
    void cleanup() {
        s_.reset();
        pty_.reset();
    }

    void wholeTextWhenNothingSelected() {
        s_->text().setText(u"欢迎光临"_qs);
        const QByteArray frame = QByteArray::fromHex("FD000A0101BBB6D3ADB9E2C1D9");
        // Continuous play runs; the request by hand ends it.
        QVERIFY(session().startContinuousPlay(100));
        QCOMPARE(pty_->read(frame.size()), frame);
        session().clearWorkLog();
        s_->text().setSelStart(0);
        s_->resetFocusRequests();
        QCOMPARE(session().synthesize(), SelectionSend::Sent);
        QCOMPARE(pty_->read(frame.size()), frame);
        QCOMPARE(log(),
                 u"发出一帧，字节数  13\r\n----> FD 00 0A 01 01 BB B6 D3 AD B9 E2 C1 D9 \r\n"_qs);
        QCOMPARE(s_->text().selStart(), 0);
        QCOMPARE(s_->text().selLength(), 4);
        QVERIFY(s_->focusRequests() > 0);
        QVERIFY(pty_->write("O"));
        QTRY_VERIFY(log().endsWith(u"<---- 返回：4F  芯片空闲\r\n"_qs));
        QVERIFY(pty_->readFor(50).isEmpty()); // checks that no further round follows
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
        QVERIFY(pty_->readFor(50).isEmpty()); // checks that nothing else is sent
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
        QVERIFY(pty_->readFor(50).isEmpty()); // checks that nothing is sent
    }

    void tableMissingOrDamaged() {
        QTemporaryDir missing, damaged;
        QFile bad(synthesis::ConversionTable::pathIn(damaged.path()));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(QByteArray(1000, '\0'));
        bad.close();
        for (const QString& folder : {missing.path(), damaged.path()}) {
            SessionFixture::Options options;
            options.tableFolder = folder;
            s_.reset(); // the folder it made current is left first
            s_ = std::make_unique<SessionFixture>(nullptr, options);
            pty_ = std::make_unique<PtyPort>();
            QVERIFY(pty_->linkAs(s_->dir(), 1));
            QVERIFY(session().selectPort(QStringLiteral("COM1")));
            for (int encoding : {2, 3, 4}) {
                session().setEncoding(encoding);
                s_->text().setText("abc");
                s_->messages().clear();
                QCOMPARE(session().synthesize(), SelectionSend::TableMissing);
                QCOMPARE(s_->messages(), QStringList{kTableMessage});
            }
            session().setEncoding(1); // GBK needs no table
            session().synthesize();
            QCOMPARE(pty_->read(8), QByteArray::fromHex("FD00050101616263"));
            QCOMPARE(loggedFrames(log()),
                     QList<QByteArray>{QByteArray::fromHex("FD00050101616263")});
        }
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
        // The idle reply starts nothing by itself. (The wait checks that nothing happens.)
        QVERIFY(pty_->readFor(50).isEmpty());
        QCOMPARE(log(), lines);
    }

    void repliesHeldWhileNotDecoded() {
        const QByteArray abc = QByteArray::fromHex("FD00050101616263");
        s_->text().setText("abc");
        QVERIFY(session().startContinuousPlay(5));
        QCOMPARE(pty_->read(abc.size()), abc);
        session().clearWorkLog();
        session().setRepliesDecoded(false);
        QVERIFY(pty_->write("AO"));
        // Held: nothing is logged and the idle reply starts no round. (The
        // wait checks that nothing happens.)
        QVERIFY(pty_->readFor(100).isEmpty());
        QVERIFY(log().isEmpty());
        // Decoded again: the replies that waited come with the next, and the
        // idle reply among them starts the next round of play.
        session().setRepliesDecoded(true);
        QVERIFY(pty_->write("J"));
        QTRY_VERIFY(
            log().startsWith(u"<---- 返回：41  接收成功\r\n<---- 返回：4F  芯片空闲\r\n"_qs));
        QCOMPARE(pty_->read(abc.size()), abc);
    }

    void idleReplyContinues_data() {
        QTest::addColumn<int>("seconds");
        QTest::newRow("replaying") << 100;
        QTest::newRow("time is up") << 1;
    }
    void idleReplyContinues() {
        QFETCH(int, seconds);
        const QByteArray bc = QByteArray::fromHex("FD0004010162 63");
        const QString entry = u"发出一帧，字节数  7\r\n----> FD 00 04 01 01 62 63 \r\n"_qs;
        const QString idle = u"<---- 返回：4F  芯片空闲\r\n"_qs;
        s_->text().setText("abcdef");
        s_->text().setSelStart(1);
        s_->text().setSelLength(2);
        QSignalSpy ended(&session(), &session::ConsoleSession::continuousPlayEnded);
        QVERIFY(session().startContinuousPlay(seconds));
        QCOMPARE(pty_->read(7), bc);
        QVERIFY(pty_->write("O"));
        QCOMPARE(pty_->read(7), bc);
        QCOMPARE(log(), entry + idle + entry);
        if (seconds > 1) {
            // Every idle reply starts the next round while time is left.
            QVERIFY(pty_->write("O"));
            QCOMPARE(pty_->read(7), bc);
            QCOMPARE(log(), entry + idle + entry + idle + entry);
            return;
        }
        // The countdown has run out: the next idle reply starts nothing.
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 3000);
        QVERIFY(!session().status().continuousPlay);
        QVERIFY(pty_->write("O"));
        QTRY_COMPARE(log(), entry + idle + entry + idle);
        QVERIFY(pty_->readFor(50).isEmpty()); // checks that nothing is sent
    }

    // At 9600 baud a round of 1005 bytes is about a second on the line. Idle
    // replies that come meanwhile (noise on the line, or the end of an earlier
    // utterance) find the next round still waiting for the line: they start
    // no further round, so rounds never pile up behind it.
    void idleRepliesDoNotPileRoundsUp() {
        const QByteArray frame = QByteArray::fromHex("FD03EA0101") + QByteArray(1000, 'x');
        s_->text().setText(QString(1000, QLatin1Char('x')));
        QVERIFY(session().startContinuousPlay(100));
        QCOMPARE(pty_->read(frame.size()), frame);
        // The first idle reply queues the second round behind the first.
        const QString idle = QStringLiteral("4F  芯片空闲");
        QVERIFY(pty_->write("O"));
        QTRY_COMPARE(loggedFrames(log()).size(), 2);
        QVERIFY(pty_->write("O"));
        QTRY_COMPARE(log().count(idle), 2);
        QVERIFY(pty_->write("OO"));
        QTRY_COMPARE(log().count(idle), 4);
        QCOMPARE(loggedFrames(log()), QList<QByteArray>(2, frame));
        QCOMPARE(pty_->read(frame.size(), 3000), frame);
        QVERIFY2(session().status().largestSerialBacklog <= frame.size(),
                 qPrintable(QString::number(session().status().largestSerialBacklog)));
        // Once it has gone out, the next idle reply starts the next round.
        QVERIFY(pty_->write("O"));
        QTRY_COMPARE(loggedFrames(log()), QList<QByteArray>(3, frame));
        session().stop();
        QVERIFY(log().endsWith(kDroppedLine + kStopEntry));
    }

    void idleReplyBehindOtherFramesIsNotLost() {
        const QByteArray frame = QByteArray::fromHex("FD03EA0101") + QByteArray(1000, 'x');
        const QByteArray pause = QByteArray::fromHex("FD000103");
        s_->text().setText(QString(1000, QLatin1Char('x')));
        QVERIFY(session().startContinuousPlay(100));
        // A pause pressed by hand waits behind the round on the line when
        // the chip reports idle: the next round follows the pause, once.
        session().sendFrame(protocol::commandFrame(protocol::Command::Pause));
        QVERIFY(pty_->write("O"));
        QTRY_COMPARE(loggedFrames(log()), (QList<QByteArray>{frame, pause, frame}));
        QVERIFY(pty_->write("O"));
        QTRY_COMPARE(log().count(QStringLiteral("4F  芯片空闲")), 2);
        QCOMPARE(pty_->read(2 * frame.size() + pause.size(), 5000), frame + pause + frame);
        QCOMPARE(loggedFrames(log()), (QList<QByteArray>{frame, pause, frame}));
        session().stop();
    }
};

QTEST_GUILESS_MAIN(SynthesisTest)
#include "tst_synthesis.moc"
