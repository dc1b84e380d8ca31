// The links under faults, seen from the session: the stop goes first over
// USB, a sequence gives the link one frame at a time and waits while its
// message box is open, the bridge's reader comes back by itself, and a serial
// adapter that is pulled out and plugged in again is opened again.
#include "chip_model.h"
#include "emulated_bridge.h"
#include "link/frame_dispatcher.h"
#include "link/link_helpers.h"
#include "link/serial_port_service.h"
#include "link/usb_packet_sender.h"
#include "session/console_session.h"
#include "session/send_text.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace qav;
using session::ConsoleSession;

namespace {

// The send text area as a plain string; nothing is ever selected here.
class PlainText : public session::SendText {
public:
    QString text() const override { return text_; }
    void setText(const QString& text) override { text_ = text, start_ = length_ = 0; }
    qsizetype length() const override { return text_.size(); }
    qsizetype selStart() const override { return start_; }
    qsizetype selLength() const override { return length_; }
    void setSelStart(qsizetype s) override {
        start_ = std::clamp<qsizetype>(s, 0, length()), length_ = 0;
    }
    void setSelLength(qsizetype l) override {
        length_ = std::clamp<qsizetype>(l, 0, length() - start_);
    }
    QString selectedText() const override { return text_.mid(start_, length_); }
    void setFocus() override {}

private:
    QString text_;
    qsizetype start_ = 0, length_ = 0;
};

// A session in a fresh working folder, with a bridge emulator (or none) and
// message boxes that stay open until acknowledged.
struct Rig {
    explicit Rig(bool withBridge = true) : previous(QDir::currentPath()) {
        QDir::setCurrent(dir.path());
        auto b = withBridge ? std::make_unique<sim::EmulatedBridge>() : nullptr;
        bridge = b.get();
        sink.keepOpen = true;
        session = std::make_unique<ConsoleSession>(sink, std::move(b));
        session->serialPort().setSystemPortsUsed(false);
        session->setSendText(&text);
    }
    ~Rig() {
        session.reset();
        QDir::setCurrent(previous);
    }
    void acknowledgeAll() {
        while (sink.openBoxes() > 0)
            sink.acknowledge();
    }
    QString log() const { return session->workLog().text(); }
    // The USB link chosen, its notice (and any search message) acknowledged.
    void useUsb() {
        session->chooseUsbLink();
        acknowledgeAll();
        sink.messages.clear();
    }

    QTemporaryDir dir;
    QString previous;
    session::RecordingMessageSink sink;
    PlainText text;
    sim::EmulatedBridge* bridge = nullptr;
    std::unique_ptr<ConsoleSession> session;
};

QByteArray report(const char* hexPacket) {
    QByteArray r = QByteArray::fromHex(hexPacket);
    r.append(QByteArray(33 - r.size(), '\0'));
    return r;
}

QByteArray bytesOf(const link::Report& r) {
    return QByteArray(reinterpret_cast<const char*>(r.data()), int(r.size()));
}

const QString kDropped = QStringLiteral("操作失败：已停止，本帧未发出\r\n");

} // namespace

class TestLinkFaults : public QObject {
    Q_OBJECT
private slots:
    // Thirty queries wait behind the one in flight; "停止" goes out as the next
    // packet, the thirty are dropped with a line each and never written.
    void stopGoesFirstOverUsb() {
        Rig r;
        r.useUsb();
        r.bridge->setAckDelay(20);
        for (int i = 0; i < 31; ++i)
            r.session->sendCommand(protocol::Command::QueryStatus);
        r.session->stop();
        QTRY_COMPARE(r.bridge->reportsWritten().size(), 2);
        QTest::qWait(200);
        const auto& written = r.bridge->reportsWritten();
        QCOMPARE(written.size(), 2);
        QCOMPARE(bytesOf(written[0]), report("00BC04FD000121"));
        QCOMPARE(bytesOf(written[1]), report("00BC04FD000102"));
        QCOMPARE(r.log().count(kDropped), 30);
        QVERIFY(r.log().contains(kDropped.repeated(30) +
                                 QStringLiteral("发出一帧，字节数  4\r\n----> FD 00 01 02 \r\n")));

        // A frame whose packets have begun is finished first: the bridge hands
        // each packet on to the chip, and a frame cut short would swallow the stop.
        r.bridge->clearRecords();
        r.session->sendFrame(QByteArray(62, '\x11'));
        r.session->sendCommand(protocol::Command::Pause);
        r.session->stop();
        // Two full packets and an empty last one, then the stop.
        QTRY_COMPARE(r.bridge->reportsWritten().size(), 4);
        QTest::qWait(100);
        QCOMPARE(r.bridge->reportsWritten().size(), 4);
        QCOMPARE(bytesOf(r.bridge->reportsWritten()[2]), report("00BC00"));
        QCOMPARE(bytesOf(r.bridge->reportsWritten()[3]), report("00BC04FD000102"));
        QCOMPARE(r.log().count(kDropped), 31);
    }

    // Each step's frame is taken by the link before the step's wait begins, so
    // a fast sequence never piles frames up behind a slow bridge.
    void sequenceGivesTheLinkOneFrameAtATime() {
        Rig r;
        r.useUsb();
        r.bridge->setAckDelay(20);
        r.text.setText(QStringLiteral("打断"));
        r.session->toggleSequence(ConsoleSession::Sequence::InterruptedPlay, 0, 100);
        qsizetype most = 0;
        QVERIFY(!QTest::qWaitFor(
            [&] {
                most = std::max(most, r.session->usbSender().queuedFrames());
                return most > 1;
            },
            1000));
        QVERIFY2(r.bridge->framesReceived().size() >= 20,
                 qPrintable(QString::number(r.bridge->framesReceived().size())));
        r.session->stop();
    }

    // No bridge at all: the sequence raises "USB连接失败" once, waits while the
    // box is open, goes on quietly after OK, and "停止" ends it.
    void noBridgeRaisesOneBoxAndStopEndsTheSequence() {
        Rig r(false);
        r.useUsb();
        r.text.setText(QStringLiteral("打断"));
        r.session->toggleSequence(ConsoleSession::Sequence::InterruptedPlay, 0, 2);
        QTest::qWait(200);
        QCOMPARE(r.sink.openBoxes(), 1);
        QCOMPARE(r.sink.messages, QStringList{QStringLiteral("USB连接失败")});
        // Held while the box is open: one frame, one line that it found no bridge.
        QCOMPARE(r.log().count(QStringLiteral("发出一帧")), 1);
        QCOMPARE(r.log().count(QStringLiteral("操作失败请先联接\r\n")), 1);

        r.sink.acknowledge();
        QTRY_VERIFY(r.log().count(QStringLiteral("发出一帧")) > 10);
        QCOMPARE(r.sink.messages.size(), 1);
        QCOMPARE(r.sink.openBoxes(), 0);
        r.session->stop();
        const qsizetype frames = r.log().count(QStringLiteral("发出一帧"));
        QTest::qWait(100);
        QCOMPARE(r.log().count(QStringLiteral("发出一帧")), frames);
    }

    // The bridge's reader stops on an error: one line with the cause; the
    // bridge is searched for again, and once back its replies come through
    // without any write.
    void bridgeReaderComesBackWithoutAWrite() {
        Rig r;
        r.useUsb();
        QVERIFY(r.session->findBridge());
        r.bridge->vanish();
        QTRY_VERIFY(r.log().contains(QStringLiteral("F320读取失败：device disconnected\r\n")));
        r.bridge->comeBack();
        QTRY_VERIFY_WITH_TIMEOUT(r.log().contains(QStringLiteral("F320已重新联接\r\n")), 3000);
        r.bridge->clearRecords();
        emit r.bridge->chip().spontaneousReply(QByteArray(1, '\x4F'));
        QTRY_VERIFY(r.log().endsWith(QStringLiteral("<-0x4F  芯片空闲\r\n")));
        QVERIFY(r.bridge->reportsWritten().isEmpty());
        QVERIFY(!r.session->watchingForBridge());
    }

    // The adapter is pulled out (its pseudo-terminal goes) and plugged in
    // again (a new one linked as the same COM1): the console opens it again by
    // itself, says so in the log, and frames reach the new line.
    void serialAdapterBackIsOpenedAgain() {
        Rig r;
        auto first = std::make_unique<test::PtyPort>();
        QVERIFY(first->linkAs(r.dir.path(), 1));
        QVERIFY(r.session->selectPort(0));
        first->closeSlave();
        first->closeMaster();
        QFile::remove(QDir(r.dir.path()).filePath(QStringLiteral("COM1")));
        QTRY_VERIFY(!r.session->serialPort().portOpen());
        QCOMPARE(r.sink.messages, QStringList{QString::fromUtf8(ConsoleSession::kPortMessage)});
        QVERIFY(r.log().startsWith(QStringLiteral("串口COM1已断开：")));
        first.reset();

        test::PtyPort second;
        QVERIFY(second.linkAs(r.dir.path(), 1));
        QTRY_VERIFY_WITH_TIMEOUT(r.session->serialPort().portOpen(), 2000);
        QVERIFY(r.log().endsWith(QStringLiteral("串口COM1已重新打开\r\n")));
        QCOMPARE(r.log().count(QStringLiteral("\r\n")), 2);
        r.session->sendCommand(protocol::Command::Stop);
        QCOMPARE(second.read(4), QByteArray("\xFD\x00\x01\x02", 4));
        QCOMPARE(r.sink.messages.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestLinkFaults)
#include "tst_link_faults.moc"
