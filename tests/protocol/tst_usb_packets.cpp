// Putting frames back together from USB reports when the sender gave up on
// one half-way or a report is damaged.

#include "common/hex_bytes.h"
#include "protocol/usb_packets.h"

#include <QTest>

using namespace qav::protocol;

using qav::test::hex;

namespace {

QByteArray countingFrame(int n) {
    QByteArray frame(n, '\0');
    for (int i = 0; i < n; ++i)
        frame[i] = char(i * 7 + 1);
    return frame;
}

} // namespace

class TestUsbPackets : public QObject {
    Q_OBJECT
private slots:
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
};

QTEST_GUILESS_MAIN(TestUsbPackets)
#include "tst_usb_packets.moc"
