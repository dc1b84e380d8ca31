// The session on the USB link, with the bridge emulator (or hidapi with no
// bridge attached) behind it: reports, replies, and a long text piece by piece.
#include "chip_model.h"
#include "common/link_helpers.h"
#include "emulated_bridge.h"
#include "link/hidapi_bridge.h"
#include "link/serial_port_service.h"
#include "link/usb_packet_sender.h"
#include "session_helpers.h"

#include <QTest>
#include <QTimer>

using namespace qav;
using namespace qav::test;

namespace {

const QString kConnectFailed = QStringLiteral("USB连接失败");
const QString kNotConnectedLine = QStringLiteral("操作失败请先联接\r\n");

QByteArray bytesOf(const link::Report& report) {
    return QByteArray(reinterpret_cast<const char*>(report.data()), int(report.size()));
}

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
        s.session().chooseUsbLink();
        QCOMPARE(s.messages(), (QStringList{QStringLiteral(" 512字节："), kConnectFailed}));
        QVERIFY(s.session().useUsbLink());
        QCOMPARE(s.state().chunkLimit, 512);

        // One message and one log line per frame, however many reports it needs.
        s.messages().clear();
        s.text().setText(QString(600, QLatin1Char('a')));
        s.session().synthesize();
        s.session().stop();
        QCOMPARE(s.messages(), (QStringList{kConnectFailed, kConnectFailed}));
        QCOMPARE(s.log().count(kNotConnectedLine), 2);
        QVERIFY(!s.session().usbSender().ackPending());
    }

    void framesAndRepliesOverTheBridge() {
        SessionFixture s(SessionFixture::emulatedBridge());
        sim::EmulatedBridge& bridge = *s.emulator();
        s.useUsbLink();

        s.session().sendCommand(protocol::Command::QueryStatus); // while idle
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
        QVERIFY(s.session().usbSender().ackPending());
        s.session().stop();
        QTRY_COMPARE(bridge.reportsWritten().size(), 18);
        QTRY_COMPARE(bridge.framesReceived().size(), 2);
        QCOMPARE(bytesOf(bridge.reportsWritten()[17]).left(7),
                 QByteArray::fromHex("00BC04FD000102"));
        QTRY_VERIFY(s.log().contains(QStringLiteral("<-0x4F  芯片空闲\r\n")));
        QVERIFY(!s.session().usbSender().ackPending());
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
        QVERIFY(s.state().continueSynthesis);
        QTRY_VERIFY(!s.state().continueSynthesis);
        QVERIFY(s.session().countdownTimer().isActive()); // ended by the text, not the countdown
        QTRY_VERIFY(!s.session().usbSender().busy());
        QTest::qWait(50); // no further piece may follow

        const QByteArray bytes = gbk(text);
        QCOMPARE(synthesisTexts(bridge),
                 (QList<QByteArray>{bytes.left(512), bytes.mid(512, 512), bytes.mid(1024)}));
        // The last piece stays selected.
        QCOMPARE(s.text().selStart() + s.text().selLength(), s.text().length());
        QCOMPARE(s.text().selectedText(), QString(276, QLatin1Char('y')));
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
        s.session().synthesize();
        s.state().continueSynthesis = true;
        QTRY_COMPARE(bridge.framesReceived().size(), 2);
        QTest::qWait(50);
        QCOMPARE(synthesisTexts(bridge), QList<QByteArray>{QByteArray(512, 's')});
        QCOMPARE(bridge.framesReceived().last(), QByteArray::fromHex("FD000102"));
        QVERIFY(!s.state().continueSynthesis);
    }

    void serialLineKeepsWorkingBesideUsb() {
        SessionFixture s(SessionFixture::emulatedBridge());
        PtyPort com1;
        QVERIFY(com1.linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(0));
        s.useUsbLink();
        QVERIFY(s.session().serialPort().portOpen());
        QVERIFY(com1.write(QByteArray(1, 0x4F)));
        QTRY_COMPARE(s.log(), QStringLiteral("<---- 返回：4F  芯片空闲\r\n"));
        s.session().sendCommand(protocol::Command::QueryStatus);
        QTRY_COMPARE(s.emulator()->framesReceived(),
                     QList<QByteArray>{QByteArray::fromHex("FD000121")});
        QVERIFY(com1.readFor(50).isEmpty()); // the frame took the USB link only
        QVERIFY(s.session().serialPort().portOpen());
    }
};

QTEST_GUILESS_MAIN(TestUsbLink)
#include "tst_usb_link.moc"
