// The session on the USB link, with the bridge emulator (or hidapi with no
// bridge attached) behind it: reports, replies, and a long text piece by piece.
#include "chip_model.h"
#include "common/link_helpers.h"
#include "common/report_helpers.h"
#include "emulated_bridge.h"
#include "link/hidapi_bridge.h"
#include "session_helpers.h"

#include <QTest>
#include <QTimer>

using namespace qav;
using namespace qav::test;

namespace {

const QString kConnectFailed = QStringLiteral("USB连接失败");
const QString kNotConnectedLine = QStringLiteral("操作失败请先联接\r\n");
const QString kFrameAckExpiredLine = QStringLiteral("F320未应答本帧，按已接收继续\r\n");
const QString kWriteFailedLine = QStringLiteral("操作失败：写入F320失败，本帧已放弃\r\n");

// A bridge that is found but refuses every report.
class RefusingBridge : public link::HidBridge {
public:
    bool find() override { return true; }
    bool writeReport(const link::Report&) override { return false; }
    bool isOpen() const override { return true; }
};

// The texts of the synthesis frames the bridge put back together.
QList<QByteArray> synthesisTexts(sim::EmulatedBridge& bridge) {
    QList<QByteArray> texts;
    for (const QByteArray& frame : bridge.framesReceived())
        if (frame.size() > 5 && frame[3] == 0x01)
            texts.append(frame.mid(5));
    return texts;
}

} // namespace

class TestUsbLink : public QObject {
    Q_OBJECT
private slots:
    void choosingUsbWithoutBridge() {
        SessionFixture s(std::make_unique<link::HidapiBridge>());
        s.session().useUsbLink(true);
        QCOMPARE(s.messages(),
                 (QStringList{
                     QStringLiteral(" 512字节：这是每次发送的最大文本字节长度（不含帧头的5字节）！"
                                    "长文本请在F320中直接测试！目前F320最多仅能缓存此字节数！"
                                    "大于此字节数需分包发送，但通讯握手需20ms，"
                                    "大于帧与帧之间的最短间隔时间8ms，不可测试！"),
                     kConnectFailed}));
        QVERIFY(s.session().status().usbLink);
        QCOMPARE(s.session().status().chunkLimit, 512);

        // One message and one log line per frame, however many reports it needs.
        s.messages().clear();
        s.text().setText(QString(600, QLatin1Char('a')));
        s.session().synthesize();
        s.session().stop();
        QCOMPARE(s.messages(), (QStringList{kConnectFailed, kConnectFailed}));
        QCOMPARE(s.log().count(kNotConnectedLine), 2);
        // Nothing is left waiting: the next frame is tried at once.
        s.session().sendFrame(protocol::commandFrame(protocol::Command::QueryStatus));
        QCOMPARE(s.messages().size(), 3);
        QCOMPARE(s.log().count(kNotConnectedLine), 3);
    }

    // A refused write gives the frame up with its line, and nothing waits
    // behind it.
    void refusedWriteIsLoggedOncePerFrame() {
        SessionFixture s(std::make_unique<RefusingBridge>());
        s.useUsbLink();
        s.text().setText(QString(100, QLatin1Char('a')));
        s.session().synthesize();
        s.session().sendFrame(protocol::commandFrame(protocol::Command::QueryStatus));
        QCOMPARE(s.log().count(kWriteFailedLine), 2);
        QVERIFY(s.messages().isEmpty());
        s.session().stop();
        QCOMPARE(s.log().count(kWriteFailedLine), 3);
        QVERIFY(s.log().endsWith(kWriteFailedLine));
    }

    void framesAndRepliesOverTheBridge() {
        SessionFixture s(SessionFixture::emulatedBridge());
        sim::EmulatedBridge& bridge = *s.emulator();
        s.useUsbLink();

        s.session().sendFrame(protocol::commandFrame(protocol::Command::QueryStatus)); // while idle
        QCOMPARE(bridge.reportsWritten().size(), 1);
        QCOMPARE(bytesOf(bridge.reportsWritten()[0]),
                 QByteArray::fromHex("00BC04FD000121") + QByteArray(26, '\0'));
        QTRY_VERIFY(s.log().endsWith(QStringLiteral("<-0xAA接收成功，芯片原状态空闲\r\n")));

        // A long synthesis, and a stop pressed while it is still going out:
        // the stop follows the synthesis' last report.
        bridge.clearRecords();
        bridge.setAckDelay(2);
        s.text().setText(QString(512, QLatin1Char('b')));
        s.session().synthesize();
        // Its first packet waits for the bridge's answer when "停止" comes.
        QCOMPARE(bridge.reportsWritten().size(), 1);
        s.session().stop();
        QTRY_COMPARE(bridge.reportsWritten().size(), 18);
        QTRY_COMPARE(bridge.framesReceived().size(), 2);
        QCOMPARE(bytesOf(bridge.reportsWritten()[17]).left(7),
                 QByteArray::fromHex("00BC04FD000102"));
        QTRY_VERIFY(s.log().contains(QStringLiteral("<-0x4F  芯片空闲\r\n")));
        // The bridge has answered the stop: its receipt comes after the
        // acknowledgement of its packet. Nothing is left waiting then, and
        // the next frame goes out at once.
        QTRY_COMPARE(s.log().count(QStringLiteral("接收成功，芯片原状态")), 3);
        s.session().sendFrame(protocol::commandFrame(protocol::Command::QueryStatus));
        QCOMPARE(bridge.reportsWritten().size(), 19);
        QCOMPARE(bytesOf(bridge.reportsWritten()[18]),
                 QByteArray::fromHex("00BC04FD000121") + QByteArray(26, '\0'));
        QVERIFY(s.messages().isEmpty());
    }

    void replyLines() {
        SessionFixture s(SessionFixture::emulatedBridge());
        s.useUsbLink();
        QString expected;
        const QList<std::pair<int, QString>> lines = {
            {0x41, QStringLiteral("<-0x41  接收成功")},
            {0x45, QStringLiteral("<-0x45  接收失败")},
            {0x4A, QStringLiteral("<-0x4A  初始化成功回传")},
            {0x4E, QStringLiteral("<-0x4E  芯片正在播音")},
            {0x4F, QStringLiteral("<-0x4F  芯片空闲")},
            {0x5E, QString()},
            {0x00, QString()},
            {0xAA, QStringLiteral("<-0xAA接收成功，芯片原状态空闲")},
            {0xAB, QStringLiteral("<-0xAB接收成功，芯片原状态暂停")},
            {0xAC, QStringLiteral("<-0xAC接收成功，芯片原状态播音")},
            {0xAD, QStringLiteral("<-硬件查询，QAV7120处于播音状态")},
            {0x53, QString()},
        };
        for (const auto& [code, line] : lines) {
            QByteArray report(33, '\0');
            report[1] = char(code);
            emit s.emulator()->inputReport(report);
            if (!line.isEmpty())
                expected += line + QStringLiteral("\r\n");
        }
        QCOMPARE(s.log(), expected);
        QVERIFY(s.emulator()->framesReceived().isEmpty()); // an idle reply starts nothing here
    }

    void longTextGoesOnPieceByPiece() {
        SessionFixture s(SessionFixture::emulatedBridge());
        sim::EmulatedBridge& bridge = *s.emulator();
        s.useUsbLink();
        bridge.setAckDelay(1);
        // 1300 bytes: two full pieces of 512 and the rest, Chinese in the middle.
        const QString text = QString(500, QLatin1Char('x')) + QString(100, QChar(0x4E2D)) +
                             QString(600, QLatin1Char('y'));
        s.text().setText(text);
        // Continuous play for 100 s: the text is sent once, piece by piece.
        QVERIFY(s.session().startContinuousPlay(100));
        QTRY_COMPARE(synthesisTexts(bridge).size(), 3);
        QTest::qWait(50); // checks that no further piece follows
        QCOMPARE(synthesisTexts(bridge).size(), 3);
        QVERIFY(s.session().status().continuousPlay); // ended by the text, not the countdown
        QVERIFY(!s.log().contains(kFrameAckExpiredLine));

        const QByteArray bytes = gbk(text);
        QCOMPARE(synthesisTexts(bridge),
                 (QList<QByteArray>{bytes.left(512), bytes.mid(512, 512), bytes.mid(1024)}));
        // The last piece stays selected.
        QCOMPARE(s.text().selStart() + s.text().selLength(), s.text().length());
        QCOMPARE(s.text().selectedText(), QString(276, QLatin1Char('y')));
    }

    // The bridge takes a piece but its answer to the last packet is lost: the
    // long text does not stop silently. After the time limit the piece counts
    // as taken, with a line saying so, and the rest goes on.
    void longTextGoesOnWhenAFrameIsNotAnswered() {
        SessionFixture s(SessionFixture::emulatedBridge());
        sim::EmulatedBridge& bridge = *s.emulator();
        session::ConsoleSession::Options timing;
        timing.usbAckTimeoutMs = 60;
        s.setOptions(timing);
        s.useUsbLink();
        bool dropped = false;
        connect(&bridge, &sim::EmulatedBridge::reportWritten, &bridge,
                [&](const link::Report& report) {
                    // The answer to the first piece's last packet goes missing.
                    if (!dropped &&
                        protocol::usbPacketKindOf(report) == protocol::UsbPacketKind::Last) {
                        dropped = true;
                        bridge.dropAcks(1);
                    }
                });
        const QString text = QString(700, QLatin1Char('z'));
        s.text().setText(text);
        QVERIFY(s.session().startContinuousPlay(100));
        QTRY_COMPARE(synthesisTexts(bridge).size(), 2);
        QCOMPARE(synthesisTexts(bridge),
                 (QList<QByteArray>{QByteArray(512, 'z'), QByteArray(188, 'z')}));
        QVERIFY(dropped);
        QCOMPARE(s.log().count(kFrameAckExpiredLine), 1);
        // The line stands between the first piece's entry and the second's.
        const qsizetype line = s.log().indexOf(kFrameAckExpiredLine);
        QVERIFY(s.log().lastIndexOf(QStringLiteral("发出一帧，字节数  517\r\n"), line) >= 0);
        QVERIFY(s.log().indexOf(QStringLiteral("发出一帧，字节数  193\r\n"), line) > line);
        QCOMPARE(s.text().selectedText(), QString(188, QLatin1Char('z')));
        QVERIFY(s.messages().isEmpty());
    }

    void stopEndsALongTextAtThePieceInFlight() {
        SessionFixture s(SessionFixture::emulatedBridge());
        sim::EmulatedBridge& bridge = *s.emulator();
        s.useUsbLink();
        bridge.setAckDelay(2);
        s.text().setText(QString(2000, QLatin1Char('s')));
        // Stop pressed once the first piece is through, before the bridge
        // has answered its last report: no further piece may go out, so none
        // may have been started by the answers to its full reports either.
        bool stopped = false;
        connect(&bridge, &sim::EmulatedBridge::frameReceived, &bridge, [&] {
            if (!stopped) {
                stopped = true;
                QTimer::singleShot(0, &bridge, [&] { s.session().stop(); });
            }
        });
        QVERIFY(s.session().startContinuousPlay(100)); // the long text, piece by piece
        QTRY_COMPARE(bridge.framesReceived().size(), 2);
        QTest::qWait(50); // checks that no further piece follows
        QCOMPARE(synthesisTexts(bridge), QList<QByteArray>{QByteArray(512, 's')});
        QCOMPARE(bridge.framesReceived().last(), QByteArray::fromHex("FD000102"));
        // The text has ended: even an answer that says the bridge is ready
        // starts no further piece.
        QByteArray ready(33, '\0');
        ready[1] = char(0x5E);
        emit bridge.inputReport(ready);
        QTest::qWait(50); // checks that nothing follows
        QCOMPARE(bridge.framesReceived().size(), 2);
    }

    void serialLineKeepsWorkingBesideUsb() {
        SessionFixture s(SessionFixture::emulatedBridge());
        PtyPort com1;
        QVERIFY(com1.linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        s.useUsbLink();
        QVERIFY(s.session().status().portOpen);
        QVERIFY(com1.write(QByteArray(1, 0x4F)));
        QTRY_COMPARE(s.log(), QStringLiteral("<---- 返回：4F  芯片空闲\r\n"));
        s.session().sendFrame(protocol::commandFrame(protocol::Command::QueryStatus));
        QTRY_COMPARE(s.emulator()->framesReceived(),
                     QList<QByteArray>{QByteArray::fromHex("FD000121")});
        QVERIFY(com1.readFor(50).isEmpty()); // the frame took the USB link only
        QVERIFY(s.session().status().portOpen);
    }
};

QTEST_GUILESS_MAIN(TestUsbLink)
#include "tst_usb_link.moc"
