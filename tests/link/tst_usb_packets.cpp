// Cutting frames into USB reports and putting them back together, and the
// work-log lines of the bridge's reply bytes.

#include "protocol/usb_packets.h"
#include "protocol/usb_replies.h"

#include <QTest>

using namespace qav::protocol;

namespace {

QByteArray countingFrame(int n) {
    QByteArray frame(n, '\0');
    for (int i = 0; i < n; ++i)
        frame[i] = char(i * 7 + 1);
    return frame;
}

QByteArray bytesOf(const UsbReport& report) {
    return QByteArray(reinterpret_cast<const char*>(report.data()), int(report.size()));
}

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

} // namespace

class TestUsbPackets : public QObject {
    Q_OBJECT
private slots:
    void commandFrameIsOneLastPacket() {
        const auto packets = cutIntoUsbPackets(hex("FD000102"));
        QCOMPARE(packets.size(), std::size_t(1));
        QCOMPARE(packets[0].kind, UsbPacketKind::Last);
        QCOMPARE(bytesOf(packets[0].report), hex("00BC04FD000102") + QByteArray(26, '\0'));
    }

    void shortFramesCarryNoMarker() {
        const auto two = cutIntoUsbPackets(hex("FD00"));
        QCOMPARE(two.size(), std::size_t(1));
        QCOMPARE(two[0].kind, UsbPacketKind::Short);
        QCOMPARE(bytesOf(two[0].report), hex("00FD00") + QByteArray(30, '\0'));

        const auto three = cutIntoUsbPackets(hex("414243"));
        QCOMPARE(bytesOf(three[0].report), hex("00414243") + QByteArray(29, '\0'));
        QVERIFY(cutIntoUsbPackets(QByteArray()).empty());
    }

    void multipleOf31EndsWithEmptyLastPacket() {
        const QByteArray frame = countingFrame(31);
        const auto packets = cutIntoUsbPackets(frame);
        QCOMPARE(packets.size(), std::size_t(2));
        QCOMPARE(packets[0].kind, UsbPacketKind::Full);
        QCOMPARE(bytesOf(packets[0].report), hex("00FC") + frame);
        QCOMPARE(bytesOf(packets[1].report), hex("00BC00") + QByteArray(30, '\0'));
    }

    void synthesisFrameOf517Bytes() {
        const QByteArray frame = countingFrame(517);
        const auto packets = cutIntoUsbPackets(frame);
        QCOMPARE(packets.size(), std::size_t(17));
        for (int k = 0; k < 16; ++k) {
            QCOMPARE(packets[k].kind, UsbPacketKind::Full);
            QCOMPARE(bytesOf(packets[k].report), hex("00FC") + frame.mid(31 * k, 31));
        }
        QCOMPARE(packets[16].kind, UsbPacketKind::Last);
        QCOMPARE(bytesOf(packets[16].report),
                 hex("00BC15") + frame.mid(496) + QByteArray(30 - 21, '\0'));
    }

    void reassembly_data() {
        QTest::addColumn<int>("length");
        for (int n : {2, 4, 30, 31, 32, 62, 517})
            QTest::addRow("%d bytes", n) << n;
    }

    void reassembly() {
        QFETCH(int, length);
        const QByteArray frame = countingFrame(length);
        UsbFrameAssembler assembler;
        std::optional<QByteArray> rebuilt;
        int frames = 0;
        for (const auto& packet : cutIntoUsbPackets(frame)) {
            QVERIFY(!rebuilt); // a frame ends with its last packet only
            const auto step = assembler.feed(packet.report);
            QCOMPARE(step.kind, packet.kind);
            if (step.frame) {
                rebuilt = step.frame;
                ++frames;
            }
        }
        QCOMPARE(frames, 1);
        // A short packet has no count: its frame comes back as three bytes.
        QCOMPARE(*rebuilt, length <= 3 ? frame + QByteArray(3 - length, '\0') : frame);
        QCOMPARE(assembler.pendingBytes(), 0);
    }

    void assemblerRecoversFromBrokenFrames() {
        UsbFrameAssembler assembler;
        const auto first = cutIntoUsbPackets(countingFrame(70));
        assembler.feed(first[0].report); // the rest of that frame never comes

        // A short packet starts afresh.
        auto step = assembler.feed(cutIntoUsbPackets(hex("FD00"))[0].report);
        QCOMPARE(*step.frame, hex("FD0000"));

        UsbReport bad{};
        bad[1] = kUsbLastMarker;
        bad[2] = 31;
        assembler.feed(first[0].report);
        step = assembler.feed(bad);
        QVERIFY(step.malformed);
        QVERIFY(!step.frame);
        QCOMPARE(assembler.pendingBytes(), 0);

        const QByteArray next = countingFrame(40);
        for (const auto& packet : cutIntoUsbPackets(next))
            step = assembler.feed(packet.report);
        QCOMPARE(*step.frame, next);
    }

    void replyLines() {
        QCOMPARE(*usbReplyLine(0x41), QStringLiteral("<-0x41  接收成功"));
        QCOMPARE(*usbReplyLine(0x45), QStringLiteral("<-0x45  接收失败"));
        QCOMPARE(*usbReplyLine(0x4A), QStringLiteral("<-0x4A  初始化成功回传"));
        QCOMPARE(*usbReplyLine(0x4E), QStringLiteral("<-0x4E  芯片正在播音"));
        QCOMPARE(*usbReplyLine(0x4F), QStringLiteral("<-0x4F  芯片空闲"));
        QCOMPARE(*usbReplyLine(0xAA), QStringLiteral("<-0xAA接收成功，芯片原状态空闲"));
        QCOMPARE(*usbReplyLine(0xAB), QStringLiteral("<-0xAB接收成功，芯片原状态暂停"));
        QCOMPARE(*usbReplyLine(0xAC), QStringLiteral("<-0xAC接收成功，芯片原状态播音"));
        QCOMPARE(*usbReplyLine(0xAD), QStringLiteral("<-硬件查询，QAV7120处于播音状态"));
        for (int silent : {0x00, 0x5E, 0x53, 0x5A, 0xFF})
            QVERIFY2(!usbReplyLine(std::uint8_t(silent)), qPrintable(QString::number(silent, 16)));
    }
};

QTEST_GUILESS_MAIN(TestUsbPackets)
#include "tst_usb_packets.moc"
