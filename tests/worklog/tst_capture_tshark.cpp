// Captures written by CaptureFile, read back by tshark with the console's
// dissector (tests/common/tshark_helpers.h): the fields an engineer filters
// on, the times, a capture cut short by a kill, malformed packets, and
// thousands of random ones that must never raise a Lua error.
#include "common/hex_bytes.h"
#include "common/tshark_helpers.h"
#include "worklog/capture_file.h"
#include "worklog/pcapng.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

using qav::test::tsharkFields;
using qav::worklog::CaptureFile;
using qav::worklog::PacketKind;
namespace pcapng = qav::worklog::pcapng;

using qav::test::hex;

namespace {
QByteArray report(const char* digits) {
    QByteArray r = hex(digits);
    r.resize(33, '\0');
    return r;
}

// "1765000000.123456000" as microseconds.
qint64 epochMicros(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 2)
        return -1;
    return parts[0].toLongLong() * 1'000'000 + parts[1].left(6).toLongLong();
}

QStringList column(const QList<QStringList>& rows, int i) {
    QStringList c;
    for (const QStringList& row : rows)
        c << row.value(i);
    return c;
}

// A capture of raw packets, kind byte first, each at its own second.
QString writePackets(const QTemporaryDir& dir, const QList<QByteArray>& packets) {
    const QString path = dir.filePath(QStringLiteral("raw.pcapng"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(pcapng::sectionHeaderBlock("test") + pcapng::interfaceDescriptionBlock("qav7120"));
    quint64 t = 1765000000000000;
    for (const QByteArray& p : packets) {
        QByteArray block;
        if (p.isEmpty()) // a packet of no bytes at all, which CaptureFile never writes
            block = hex("06000000 20000000 00000000 00000000 00000000 00000000 00000000 20000000");
        else
            pcapng::appendEnhancedPacketBlock(block, t, PacketKind(quint8(p[0])), p.sliced(1));
        file.write(block);
        t += 1'000'000;
    }
    return path;
}
} // namespace

class TestCaptureTshark : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QAV_REQUIRE_TSHARK(); }

    void everyKindDecodes() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("LOG-capture-1.pcapng"));
        CaptureFile capture;
        const qint64 start = CaptureFile::nowMicros();
        QVERIFY(!capture.open(path));
        capture.frameSent(hex("fd000a0101 bbb6d3adb9e2c1d9"));             // GBK 欢迎光临
        capture.frameSent(hex("fd00060102 a4a4a4e5"));                     // BIG5 中文
        capture.frameSent(hex("fd00060103 2d4e8765"));                     // UTF-16LE 中文
        capture.frameSent(hex("fd00060104 4e2d6587"));                     // UTF-16BE 中文
        capture.frameSent(hex("fd000a0100 5b76355d c4e3bac3"));            // GB2312 [v5]你好
        capture.frameSent(hex("fd00100101 c4e3bac30d0a5b76355dd4d9bcfb")); // 你好 CR LF [v5]再见
        capture.frameSent(hex("fd000102"));                                // stop
        capture.frameSent(hex("fd000a3103 bbb6d3adb9e2c1d9"));             // cache store, segment 3
        capture.frameSent(hex("fd00023231"));                // cache play, 3 times, GBK
        capture.serialReceived("AO");                        // received, idle
        capture.serialReceived("SV1.2");                     // version
        capture.usbReportWritten(report("00bc04 fd000102")); // last packet
        capture.usbReportWritten(
            report("00fc fd001e0101 bbb6d3adb9dbbfb4d3efd2f4bacfb3c9cfb5cdb3b5c4d1ddcabe"));
        capture.usbReportWritten(report("00fd00")); // short packet
        capture.usbReportRead(report("005e"));
        capture.usbReportRead(report("00aa"));
        capture.event(QStringLiteral("串口COM1已断开：设备已移除"));
        capture.event(QStringLiteral("芯片无回传 61 秒"));
        const qint64 end = CaptureFile::nowMicros();

        const auto run = tsharkFields(
            path, {QStringLiteral("qav7120.direction"), QStringLiteral("qav7120.frame"),
                   QStringLiteral("qav7120.cmd"), QStringLiteral("qav7120.encoding"),
                   QStringLiteral("qav7120.text"), QStringLiteral("qav7120.reply"),
                   QStringLiteral("qav7120.packet"), QStringLiteral("qav7120.data"),
                   QStringLiteral("qav7120.event"), QStringLiteral("_ws.col.Info"),
                   QStringLiteral("qav7120.malformed"), QStringLiteral("frame.time_epoch")});
        QVERIFY2(run.exitCode == 0 && !run.luaError(), qPrintable(run.diagnosis()));
        const QList<QStringList> expected = {
            {"2", "fd000a0101bbb6d3adb9e2c1d9", "0x01", "1", "欢迎光临", "", "", "", "",
             "synthesise GBK \"欢迎光临\""},
            {"2", "fd00060102a4a4a4e5", "0x01", "2", "中文", "", "", "", "",
             "synthesise BIG5 \"中文\""},
            {"2", "fd000601032d4e8765", "0x01", "3", "中文", "", "", "", "",
             "synthesise UTF-16LE \"中文\""},
            {"2", "fd000601044e2d6587", "0x01", "4", "中文", "", "", "", "",
             "synthesise UTF-16BE \"中文\""},
            {"2", "fd000a01005b76355dc4e3bac3", "0x01", "0", "[v5]你好", "", "", "", "",
             "synthesise GB2312 \"[v5]你好\""},
            {"2", "fd00100101c4e3bac30d0a5b76355dd4d9bcfb", "0x01", "1", "你好\\r\\n[v5]再见", "",
             "", "", "", "synthesise GBK \"你好\\r\\n[v5]再见\""},
            {"2", "fd000102", "0x02", "", "", "", "", "", "", "stop"},
            {"2", "fd000a3103bbb6d3adb9e2c1d9", "0x31", "", "欢迎光临", "", "", "", "",
             "cache store segment 3 \"欢迎光临\""},
            {"2", "fd00023231", "0x32", "", "", "", "", "", "", "cache play 3 times GBK"},
            {"1", "", "", "", "", "0x41,0x4f", "", "", "", "received, idle"},
            {"1", "", "", "", "", "0x53", "", "", "", "version \"V1.2\""},
            {"2", "", "", "", "", "", "0xbc", "fd000102", "", "last packet, 4 bytes"},
            {"2", "", "", "", "", "", "0xfc",
             "fd001e0101bbb6d3adb9dbbfb4d3efd2f4bacfb3c9cfb5cdb3b5c4d1ddcabe", "",
             "full packet, 31 bytes"},
            {"2", "", "", "", "", "", "0x00", "fd", "", "short packet"},
            {"1", "", "", "", "", "0x5e", "", "", "", "bridge acknowledgement"},
            {"1", "", "", "", "", "0xaa", "", "", "", "received, chip was idle"},
            {"", "", "", "", "", "", "", "", "串口COM1已断开：设备已移除",
             "串口COM1已断开：设备已移除"},
            {"", "", "", "", "", "", "", "", "芯片无回传 61 秒", "芯片无回传 61 秒"},
        };
        QCOMPARE(run.rows.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(run.rows[i].mid(0, 10), expected[i]);
            QVERIFY2(run.rows[i][10].isEmpty(),
                     qPrintable(QStringLiteral("packet %1 malformed").arg(i + 1)));
        }
        // Each time taken at its call: rising, within the test.
        qint64 last = start;
        for (const QString& time : column(run.rows, 11)) {
            const qint64 t = epochMicros(time);
            QVERIFY2(t >= last, qPrintable(time));
            last = t;
        }
        QVERIFY(last <= end);
    }

    void displayFiltersOfTheReadme() {
        // A synthesis whose idle reply comes 6.5 s later, a stop answered
        // within a second, and events.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("LOG-capture-1.pcapng"));
        CaptureFile capture;
        QVERIFY(!capture.open(path));
        const qint64 t0 = 1765000000000000;
        capture.frameSent(hex("fd000a0101 bbb6d3adb9e2c1d9"), t0);
        capture.serialReceived("A", t0 + 40'000);
        capture.serialReceived("O", t0 + 6'500'000);
        capture.event(QStringLiteral("停止"), t0 + 7'000'000);
        capture.frameSent(hex("fd000102"), t0 + 7'000'100);
        capture.serialReceived("A", t0 + 7'030'000);
        capture.serialReceived("O", t0 + 7'900'000);
        capture.event(QStringLiteral("清空"), t0 + 9'000'000);

        const QStringList number{QStringLiteral("frame.number")};
        QCOMPARE(tsharkFields(path, number, QStringLiteral("qav7120.cmd")).rows,
                 (QList<QStringList>{{"1"}, {"5"}}));
        const auto slow =
            tsharkFields(path,
                         {QStringLiteral("frame.number"), QStringLiteral("qav7120.after_frame"),
                          QStringLiteral("qav7120.since_frame")},
                         QStringLiteral("qav7120.reply == 0x4f && qav7120.since_frame > 5"));
        QCOMPARE(slow.rows, (QList<QStringList>{{"3", "1", "6.500000000"}}));
        // What the README warns of: Wireshark's own delta does not do it.
        QCOMPARE(tsharkFields(path, number,
                              QStringLiteral("qav7120.reply == 0x4f && "
                                             "frame.time_delta_displayed > 5"))
                     .rows,
                 QList<QStringList>());
        QCOMPARE(
            tsharkFields(path, {QStringLiteral("qav7120.event")}, QStringLiteral("qav7120.event"))
                .rows,
            (QList<QStringList>{{"停止"}, {"清空"}}));
    }

    void captureCutShortReadsUpToItsLastWholeBlock() {
        // What a kill in the middle of a write leaves, at two places of the
        // last block: in its header and in its data.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("LOG-capture-1.pcapng"));
        CaptureFile capture;
        QVERIFY(!capture.open(path));
        capture.frameSent(hex("fd000102"), 1);
        capture.serialReceived("A", 2);
        const qint64 whole = capture.size();
        capture.frameSent(QByteArray(4000, '\x41'), 3);
        for (const qint64 cut : {whole + 6, capture.size() - 100}) {
            QFile::resize(path, cut);
            const auto run = tsharkFields(
                path, {QStringLiteral("frame.number"), QStringLiteral("_ws.col.Info")});
            QCOMPARE(run.rows, (QList<QStringList>{{"1", "stop"}, {"2", "received"}}));
            QVERIFY2(run.err.contains("cut short"), run.err.constData());
            QVERIFY(!run.luaError());
        }
    }

    void capturedAfterAFullDiskReadsWhole() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("LOG-capture-1.pcapng"));
        CaptureFile capture;
        QVERIFY(!capture.open(path));
        capture.frameSent(hex("fd000102"), 1);
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit small = old;
        small.rlim_cur = rlim_t(capture.size() + 20);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        capture.frameSent(hex("fd000103"), 2); // torn, cut back
        capture.serialReceived("A", 3);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &old), 0);
        capture.frameSent(hex("fd000104"), 4);
        const auto run =
            tsharkFields(path, {QStringLiteral("frame.number"), QStringLiteral("_ws.col.Info")});
        QVERIFY2(run.exitCode == 0 && run.err.indexOf("cut short") < 0,
                 qPrintable(run.diagnosis()));
        QCOMPARE(run.rows, (QList<QStringList>{
                               {"1", "stop"}, {"2", "抓包文件丢失 2 个数据包"}, {"3", "resume"}}));
    }

    void malformedPacketsAreMarked() {
        QTemporaryDir dir;
        const QList<QByteArray> packets = {
            {},                           // no bytes at all
            hex("01"),                    // a frame of no bytes
            hex("01fe"),                  // wrong header, no length
            hex("01fd000502"),            // length 5, one byte follows
            hex("01fd000199"),            // unknown command
            hex("01fd0003010341"),        // UTF-16 text of one byte
            hex("01fd00020109"),          // unknown encoding
            hex("01fd00020200"),          // a stop with a byte after it
            hex("01fd00023241"),          // cache play, encoding 1 of ... 0x41: encoding 1, 4 times
            hex("01fd00023147"),          // cache store, segment 0x47
            hex("01fd0ffd0101 41424344"), // a synthesis frame cut off
            hex("0761"),                  // unknown kind
            hex("0300bc40"),              // a report of 3 bytes, count 64
            hex("0400"),                  // an input report without its reply
            hex("02"),                    // a serial chunk of no bytes
        };
        const auto run =
            tsharkFields(writePackets(dir, packets),
                         {QStringLiteral("_ws.col.Info"), QStringLiteral("qav7120.malformed")});
        QVERIFY2(run.exitCode == 0 && !run.luaError(), qPrintable(run.diagnosis()));
        const QStringList info{"empty packet",
                               "empty frame",
                               "truncated frame",
                               "stop",
                               "unknown command 0x99",
                               "synthesise UTF-16LE \"\"",
                               "synthesise encoding 9 \"\"",
                               "stop",
                               "cache play 4 times GBK",
                               "cache store segment 71 \"\"",
                               "synthesise GBK \"ABCD\"",
                               "unknown kind 0x07",
                               "last packet, 64 bytes",
                               "report without a reply",
                               "no bytes"};
        QCOMPARE(column(run.rows, 0), info);
        for (int i = 0; i < run.rows.size(); ++i) {
            if (i == 8) // a well-formed cache play, for contrast
                QCOMPARE(run.rows[i][1], QString());
            else
                QVERIFY2(run.rows[i][1].startsWith(QLatin1Char('1')),
                         qPrintable(QStringLiteral("packet %1 not marked").arg(i + 1)));
        }
    }

    void randomPacketsNeverRaiseALuaError() {
        QTemporaryDir dir;
        QRandomGenerator random(20261207);
        const QList<QByteArray> valid = {
            hex("01fd000a0101bbb6d3adb9e2c1d9"),
            hex("01fd00060102a4a4a4e5"),
            hex("01fd000601032d4e8765"),
            hex("01fd000601044e2d6587"),
            hex("01fd000a3103bbb6d3adb9e2c1d9"),
            hex("01fd00023231"),
            hex("01fd000102"),
            hex("0241534f"),
            hex("0253") + "V1.2",
            "\x03" + report("00bc04fd000102"),
            "\x03" + report("00fc"),
            "\x04" + report("005e"),
            "\x05" + QByteArray("芯片已恢复"),
        };
        QList<QByteArray> packets;
        for (int i = 0; i < 3000; ++i) {
            QByteArray p;
            switch (random.bounded(4)) {
            case 0: // a valid packet cut anywhere
                p = valid[random.bounded(int(valid.size()))];
                p.truncate(random.bounded(int(p.size()) + 1));
                break;
            case 1: { // a valid packet with bytes changed
                p = valid[random.bounded(int(valid.size()))];
                for (int k = random.bounded(1, 4); k > 0; --k)
                    p[random.bounded(int(p.size()))] = char(random.bounded(256));
                break;
            }
            case 2: { // a frame of any command and encoding with random text
                p = hex("01fd");
                const int n = random.bounded(0, 40);
                const quint16 length = quint16(random.bounded(2) ? n + 2 : random.bounded(70000));
                p += char(length >> 8);
                p += char(length & 0xFF);
                p += char(QList<int>{0x01, 0x31, 0x32, random.bounded(256)}[random.bounded(4)]);
                p += char(random.bounded(7));
                for (int k = 0; k < n; ++k)
                    p += char(random.bounded(256));
                break;
            }
            default: // anything
                p.resize(random.bounded(0, 80));
                for (char& c : p)
                    c = char(random.bounded(256));
                if (!p.isEmpty() && random.bounded(2))
                    p[0] = char(random.bounded(1, 6));
                break;
            }
            packets << p;
        }
        const QString path = writePackets(dir, packets);
        const auto tree = qav::test::runTshark(path, {QStringLiteral("-V")});
        QVERIFY2(tree.exitCode == 0, qPrintable(tree.diagnosis()));
        QVERIFY2(!tree.luaError(), qPrintable(tree.diagnosis()));
        QVERIFY(!tree.out.contains("dissector fault")); // a Lua error that the dissector caught
        QCOMPARE(tree.out.count("\nFrame ") + tree.out.startsWith("Frame "), 3000);
    }
};

QTEST_GUILESS_MAIN(TestCaptureTshark)
#include "tst_capture_tshark.moc"
