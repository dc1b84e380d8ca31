// The report's figures from captures with known times: the summary row, the
// hangs with their last frames, the marks, which reply belongs to which
// frame, and captures cut off, damaged or not captures at all.
#include "report/capture_reader.h"
#include "report/report_page.h"
#include "report/run_analysis.h"
#include "report_helpers.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace qav::report;
using namespace qav::test;

namespace {

CaptureRun read(const QString& path) {
    CaptureRun run;
    const auto why = readCapture(path, run);
    if (why)
        qWarning("%s", qPrintable(*why));
    return run;
}

QStringList cellTexts(const CaptureRun& run) {
    QStringList texts;
    for (const auto& [cls, text] : summaryCells(run))
        texts << cls + u'=' + text;
    return texts;
}

// Every packet's time and kind, as the reader gives them.
QStringList packets(QIODevice& device, CaptureReader::End* end = nullptr) {
    CaptureReader reader(device);
    QStringList out;
    if (const auto why = reader.start())
        return {*why};
    CapturedPacket p;
    while (reader.next(p))
        out << QStringLiteral("%1 %2 %3")
                   .arg(p.micros)
                   .arg(int(p.kind))
                   .arg(QString::fromLatin1(p.data.toByteArray().toHex()));
    if (end)
        *end = reader.end();
    return out;
}

} // namespace

class TestReportAnalysis : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { useChinaTime(); }

    void aCrashRunThatHungOnce() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"LOG-capture-20261208-030000-42.pcapng"_qs);
        writeCrashRunWithAHang(path);
        const CaptureRun run = read(path);

        QCOMPARE(
            cellTexts(run),
            (QStringList{u"capture=LOG-capture-20261208-030000-42.pcapng"_qs, u"test=crash-test"_qs,
                         u"port=COM1"_qs, u"baud=9600"_qs, u"start=2026-12-08 03:00:00"_qs,
                         u"duration=0:05:40"_qs, u"steps=12"_qs, u"hangs=1"_qs, u"mtbh=0:05:40"_qs,
                         u"received-median=43 ms"_qs, u"received-p99=49 ms"_qs,
                         u"received-max=49 ms"_qs, u"idle-median=2416 ms"_qs,
                         u"idle-p99=2900 ms"_qs, u"idle-max=2900 ms"_qs}));
        QCOMPARE(run.end, CaptureReader::End::Complete);
        QCOMPARE(run.wholeBytes, run.fileBytes);

        // Twelve texts, two status queries and a stop, in the order sent.
        QCOMPARE(run.frames.size(), std::size_t(15));
        const FrameRecord& first = run.frames[0];
        QCOMPARE(first.sentMs, kRunStartMs + 10);
        QCOMPARE(first.command, 0x01);
        QCOMPARE(first.length, 9);
        QCOMPARE(first.msToReceived, 40.0f);
        QCOMPARE(first.msToIdle, 2000.0f);
        const FrameRecord& hung = run.frames[10];
        QCOMPARE(hung.msToReceived, 40.0f);
        QVERIFY(std::isnan(hung.msToIdle));
        // The queries the chip never answered, then the stop: its 0x4F is its
        // own, but a stop is no step and its time is not a text's.
        QVERIFY(std::isnan(run.frames[11].msToReceived));
        QCOMPARE(run.frames[14].command, 0x02);
        QCOMPARE(run.frames[14].msToIdle, 100.0f);
        QVERIFY(!run.frames[14].spoken);

        QCOMPARE(run.hangs.size(), 1);
        const Hang& hang = run.hangs.first();
        QCOMPARE(hang.silentSinceMs, kRunStartMs + 100050);
        QCOMPARE(hang.verdictMs, kRunStartMs + 166050);
        QCOMPARE(hang.recoveryMs, kRunStartMs + 300001);
        QCOMPARE(hangText(hang),
                 u"芯片死机：2026-12-08 03:02:46，无回传 66 秒，死机测试 循环 1 文本 2 控制标记 1\n"
                 "芯片已恢复：2026-12-08 03:05:00，无回传 199 秒\n"
                 "the last frames before it:\n"
                 "03:01:22.810 <- 4F\n"
                 "03:01:30.010 -> FD 00 06 01 01 C4 E3 BA C3\n"
                 "03:01:30.059 <- 41\n"
                 "03:01:32.910 <- 4F\n"
                 "03:01:40.010 -> FD 00 06 01 01 C4 E3 BA C3\n"
                 "03:01:40.050 <- 41\n"
                 "03:02:40.050 -> FD 00 01 21\n"
                 "03:02:43.050 -> FD 00 01 21"_qs);

        QCOMPARE(run.marks.size(), std::size_t(4));
        QCOMPARE(run.marks[0].kind, Mark::Kind::Stop);
        QCOMPARE(run.marks[0].ms, kRunStartMs + 310000);
        QCOMPARE(run.marks[1].kind, Mark::Kind::LinkLost);
        QCOMPARE(run.marks[1].text, u"串口COM1已断开：设备已移除"_qs);
        QCOMPARE(run.marks[2].kind, Mark::Kind::LinkBack);
        QCOMPARE(run.marks[3].kind, Mark::Kind::Clear);
    }

    void repliesAsTheConsoleReadsThem() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"c.pcapng"_qs);
        TimedCapture c(path);
        // Two replies in one read; the console reads the first two bytes of it.
        c.frame(0, kSpeakFrame);
        c.chip(30, hex("41"));
        c.frame(100, kSpeakFrame);
        c.chip(130, hex("414F4F"));
        // A status query answered 4E (still playing) gets no 0x4F of its own;
        // the text it asked about gets the next.
        c.frame(1000, kSpeakFrame);
        c.chip(1020, kReceived);
        c.frame(2000, kQueryFrame);
        c.chip(2010, hex("414E"));
        c.chip(5000, kIdle);
        // Over the USB bridge the reply is the report's second byte; the
        // bridge's own 5E is no reply.
        c.frame(6000, kSpeakFrame);
        c.usbIn(6001, hex("005E"));
        c.usbIn(6040, hex("0041"));
        c.usbIn(7000, hex("004F"));
        // A log cleared while the run goes on, and an event the report does not show.
        c.event(7100, u"F320已联接"_qs);
        c.event(7200, u"抓包文件丢失 3 个数据包"_qs);
        c.close();

        const CaptureRun run = read(path);
        QCOMPARE(run.frames.size(), std::size_t(5));
        QStringList times;
        for (const FrameRecord& f : run.frames)
            times << QStringLiteral("%1/%2").arg(f.msToReceived).arg(f.msToIdle);
        QCOMPARE(times, (QStringList{u"30/nan"_qs, u"30/30"_qs, u"20/4000"_qs, u"10/nan"_qs,
                                     u"40/1000"_qs}));
        QCOMPARE(run.steps, 4);
        QCOMPARE(run.lostPackets, 3);
        QVERIFY(run.marks.empty());
        QVERIFY(!run.start);
        QCOMPARE(summaryCells(run)[1].second, u"—"_qs);
        QCOMPARE(summaryCells(run)[3].second, u"—"_qs);
        QCOMPARE(summaryCells(run)[8].second, u"—"_qs); // no hang: no mean time between
    }

    void theRunStartEvent() {
        const auto s =
            parseRunStart(u"测试开始 test=speak port=/dev/ttyUSB0 settings=115200,N,8,1"_qs);
        QVERIFY(s);
        QCOMPARE(s->test, u"speak"_qs);
        QCOMPARE(s->port, u"/dev/ttyUSB0"_qs);
        QCOMPARE(s->baud(), u"115200"_qs);
        for (const char* other :
             {"测试开始", "测试开始 test=speak", "测试开始 test=a port=b settings=N",
              "x测试开始 test=a port=b settings=9600,N,8,1"})
            QVERIFY2(!parseRunStart(QString::fromUtf8(other)), other);
    }

    // A capture still being written, or cut off by a kill at any byte: every
    // whole block is read, and the rest is said to be torn.
    void aCaptureCutOffAnywhere() {
        QTemporaryDir dir;
        const QByteArray whole = crashRunWithAHangBytes(dir);
        QVERIFY(!whole.isEmpty());
        QBuffer all;
        all.setData(whole);
        all.open(QIODevice::ReadOnly);
        const QStringList every = packets(all);
        QCOMPARE(every.size(), 49);

        // The last block is the "清空" event.
        const qsizetype last = qFromLittleEndian<quint32>(whole.constData() + whole.size() - 4);
        QCOMPARE(last, 40);
        for (qsizetype cut = whole.size() - last; cut < whole.size(); ++cut) {
            QBuffer part;
            part.setData(whole.left(cut));
            part.open(QIODevice::ReadOnly);
            CaptureReader::End end{};
            QCOMPARE(packets(part, &end), every.first(48));
            QCOMPARE(end, cut == whole.size() - last ? CaptureReader::End::Complete
                                                     : CaptureReader::End::Torn);
        }
        // The page of a torn file says how far it was read.
        QFile torn(dir.filePath(u"torn.pcapng"_qs));
        QVERIFY(torn.open(QIODevice::WriteOnly));
        torn.write(whole.left(whole.size() - 10));
        torn.close();
        const CaptureRun run = read(torn.fileName());
        QCOMPARE(run.end, CaptureReader::End::Torn);
        QCOMPARE(run.wholeBytes, whole.size() - last);
        QCOMPARE(run.hangs.size(), 1);
        QCOMPARE(run.marks.size(), std::size_t(3));
    }

    void damagedAndForeignFiles() {
        QTemporaryDir dir;
        const QByteArray whole = crashRunWithAHangBytes(dir);
        QVERIFY(!whole.isEmpty());
        constexpr qsizetype kHeaders = 52 + 44; // section and interface
        auto readBytes = [](const QByteArray& bytes, CaptureReader::End* end) {
            QBuffer b;
            b.setData(bytes);
            b.open(QIODevice::ReadOnly);
            return packets(b, end);
        };
        CaptureReader::End end{};
        // The first packet (the run's start event, 92 bytes) with its length
        // repeated wrongly at its end.
        const qsizetype first = qFromLittleEndian<quint32>(whole.constData() + kHeaders + 4);
        QCOMPARE(first, 92);
        QByteArray bad = whole;
        bad[kHeaders + first - 4] = 0x7F;
        QCOMPARE(readBytes(bad, &end).size(), 0);
        QCOMPARE(end, CaptureReader::End::Damaged);
        // A length no writer makes: damage, not an allocation of 4 GB.
        bad = whole;
        bad.replace(kHeaders + 4, 4, hex("fcffffff"));
        QCOMPARE(readBytes(bad, &end).size(), 0);
        QCOMPARE(end, CaptureReader::End::Damaged);
        // A captured length beyond its block.
        bad = whole;
        bad.replace(kHeaders + 20, 4, hex("ff000000"));
        QCOMPARE(readBytes(bad, &end).size(), 0);
        QCOMPARE(end, CaptureReader::End::Damaged);

        QCOMPARE(readBytes(QByteArray(), &end), QStringList{u"the file is empty"_qs});
        QCOMPARE(readBytes(hex("d4c3b2a1 02000400"), &end),
                 QStringList{u"not a pcapng capture: it does not begin with a section header"_qs});
        QCOMPARE(readBytes(hex("0a0d"), &end), QStringList{u"not a pcapng capture: too short"_qs});

        CaptureRun run;
        QCOMPARE(readCapture(dir.filePath(u"absent.pcapng"_qs), run), u"no such file"_qs);
        QCOMPARE(readCapture(dir.path(), run), u"a folder, not a capture"_qs);
    }

    // Written by another tool: a big-endian section, milliseconds, and a
    // second interface of another link type whose packets are not ours.
    void otherWritersLayouts() {
        const QByteArray bytes = hex(
            // section header, big-endian, no options
            "0a0d0d0a 0000001c 1a2b3c4d 0001 0000 ffffffff ffffffff 0000001c"
            // interface 0: USER0, if_tsresol 3 (milliseconds)
            "00000001 00000020 0093 0000 00000000 0009 0001 03000000 00000000 00000020"
            // interface 1: Ethernet
            "00000001 00000014 0001 0000 00000000 00000014"
            // a packet on interface 1, then one of ours on interface 0: FE, time 1500 ms
            "00000006 00000024 00000001 00000000 00000001 00000004 00000004 ffffffff 00000024"
            "00000006 00000024 00000000 00000000 000005dc 00000004 00000004 05e5819c 00000024");
        QBuffer b;
        b.setData(bytes);
        b.open(QIODevice::ReadOnly);
        CaptureReader::End end{};
        QCOMPARE(packets(b, &end), QStringList{u"1500000 5 e5819c"_qs});
        QCOMPARE(end, CaptureReader::End::Complete);
    }
};

QTEST_GUILESS_MAIN(TestReportAnalysis)
#include "tst_report_analysis.moc"
