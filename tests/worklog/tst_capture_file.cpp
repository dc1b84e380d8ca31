// The capture file's bytes: the pcapng blocks written out by hand, the file
// as the writer leaves it, and what it does when the system refuses a write.
#include "common/hex_bytes.h"
#include "worklog/capture_file.h"
#include "worklog/pcapng.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using qav::worklog::CaptureFile;
using qav::worklog::PacketKind;
namespace pcapng = qav::worklog::pcapng;

using qav::test::hex;

namespace {
// Section header: magic, version 1.0, length -1, shb_userappl
// "qav7120-console" (15 bytes and one of padding), opt_endofopt.
const QByteArray kSectionHeader = hex("0a0d0d0a 34000000"
                                      "4d3c2b1a 0100 0000 ffffffffffffffff"
                                      "0400 0f00 71617637313230 2d636f6e736f6c65 00"
                                      "00000000"
                                      "34000000");
// Interface: USER0 (147), snap length 0, if_name "qav7120", if_tsresol 6.
const QByteArray kInterface = hex("01000000 2c000000"
                                  "9300 0000 00000000"
                                  "0200 0700 71617637313230 00"
                                  "0900 0100 06 000000"
                                  "00000000"
                                  "2c000000");
const QByteArray kHeaders = kSectionHeader + kInterface;

constexpr qint64 kTime = 1765000000123456; // 0x0006454216093240
// The stop frame sent at kTime: kind 01 and FD 00 01 02, three bytes of
// padding, epb_flags outbound (2).
const QByteArray kStopBlock = hex("06000000 34000000 00000000"
                                  "42450600 40320916"
                                  "05000000 05000000"
                                  "01 fd000102 000000"
                                  "0200 0400 02000000 00000000"
                                  "34000000");
const QByteArray kStopFrame = hex("fd000102");

// An event block at kTime, kind 05 and the UTF-8 text; no options.
QByteArray eventBlock(const QByteArray& utf8) {
    const int captured = 1 + int(utf8.size());
    const int padding = (4 - captured % 4) % 4;
    const int total = 32 + captured + padding;
    QByteArray b = hex("06000000");
    b += char(total);
    b += hex("000000 00000000 42450600 40320916");
    b += char(captured) + hex("000000") + char(captured) + hex("000000");
    b += '\x05' + utf8 + QByteArray(padding, '\0');
    b += char(total) + hex("000000");
    return b;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Files may not grow past `bytes` until the end of the scope, as on a full
// disk; SIGXFSZ is ignored, so writes fail with EFBIG instead.
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes) {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit small = old_;
        small.rlim_cur = rlim_t(bytes);
        ok_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok() const { return ok_; }

private:
    rlimit old_{};
    bool ok_ = false;
};
} // namespace

class TestCaptureFile : public QObject {
    Q_OBJECT
private slots:
    void blocksByteForByte() {
        QCOMPARE(pcapng::sectionHeaderBlock("qav7120-console"), kSectionHeader);
        QCOMPARE(pcapng::interfaceDescriptionBlock("qav7120"), kInterface);

        QByteArray block;
        pcapng::appendEnhancedPacketBlock(block, kTime, PacketKind::FrameOut, kStopFrame);
        QCOMPARE(block, kStopBlock);
        // Inbound, and three bytes that need no padding; appended after the first.
        pcapng::appendEnhancedPacketBlock(block, 1, PacketKind::SerialIn, "AOJ");
        QCOMPARE(block.sliced(kStopBlock.size()), hex("06000000 30000000 00000000"
                                                      "00000000 01000000"
                                                      "04000000 04000000"
                                                      "02 414f4a"
                                                      "0200 0400 01000000 00000000"
                                                      "30000000"));
        block.clear();
        pcapng::appendEnhancedPacketBlock(block, kTime, PacketKind::Event, "停止");
        QCOMPARE(block, hex("06000000 28000000 00000000 42450600 40320916"
                            "07000000 07000000"
                            "05 e5819ce6ada2 00"
                            "28000000"));
        QCOMPARE(block, eventBlock("停止"));
    }

    void packetsLongerThanWiresharkReadsAreCut() {
        // Wireshark stops reading a file at a packet of more than 262144
        // bytes: the block keeps 262144, its original length says 300001.
        const QByteArray big(300000, '\x41');
        QByteArray block;
        pcapng::appendEnhancedPacketBlock(block, 0, PacketKind::FrameOut, big);
        QCOMPARE(block.size(), 12 + 20 + 262144 + 12);
        QCOMPARE(block.sliced(20, 8), hex("00000400 e1930400"));
        QCOMPARE(block.sliced(28, 2), QByteArray("\x01\x41"));
        QCOMPARE(block.sliced(28 + 262144, 16), hex("0200 0400 02000000 00000000 2c000400"));

        // Serial bytes are never cut: they take as many packets as they need.
        QTemporaryDir dir;
        CaptureFile capture;
        QVERIFY(!capture.open(dir.filePath(QStringLiteral("c.pcapng"))));
        QByteArray bytes(300000, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7);
        capture.serialReceived(bytes, kTime);
        const QByteArray file = readAll(capture.path());
        const qsizetype first = kHeaders.size();
        QCOMPARE(file.sliced(first + 20, 8), hex("00000400 00000400"));
        QCOMPARE(file.sliced(first + 29, 262143), bytes.first(262143));
        const qsizetype second = first + 12 + 20 + 262144 + 12;
        QCOMPARE(file.sliced(second + 20, 8), hex("e2930000 e2930000")); // 1 + 37857
        QCOMPARE(file.sliced(second + 29, 37857), bytes.sliced(262143));
        QCOMPARE(file.size(), capture.size());
    }

    void capturePathFollowsTheJournal() {
        using qav::worklog::capturePathForJournal;
        QCOMPARE(capturePathForJournal(QStringLiteral("/w/LOG-journal-20261207-153619-4242.txt")),
                 QStringLiteral("/w/LOG-capture-20261207-153619-4242.pcapng"));
        QCOMPARE(capturePathForJournal(QStringLiteral("LOG-journal-20261207-153619-4242-2.txt")),
                 QStringLiteral("LOG-capture-20261207-153619-4242-2.pcapng"));
        QCOMPARE(capturePathForJournal(QStringLiteral("run/LOG-journal-x.txt")),
                 QStringLiteral("run/LOG-capture-x.pcapng"));
        for (const char* other : {"", "/w/LOG.txt", "/w/LOG-journal-.txt",
                                  "/w/LOG-journal-1.txt.new", "/w/LOG-journal-1/"})
            QCOMPARE(capturePathForJournal(QString::fromUtf8(other)), QString());
    }

    void fileHoldsTheHeadersAndEachBlockAsItComes() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("LOG-capture-1.pcapng"));
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(1000, 'x')); // emptied by open
        }
        CaptureFile capture;
        capture.frameSent(kStopFrame, kTime); // not open yet: nothing happens
        QVERIFY(!capture.isOpen());
        QVERIFY(!capture.open(path));
        QVERIFY(capture.isOpen());
        QCOMPARE(capture.path(), path);
        QCOMPARE(readAll(path), kHeaders);
        capture.frameSent(kStopFrame, kTime);
        QCOMPARE(readAll(path), kHeaders + kStopBlock);
        capture.event(QStringLiteral("停止"), kTime);
        QCOMPARE(readAll(path), kHeaders + kStopBlock + eventBlock("停止"));
        QCOMPARE(capture.size(), readAll(path).size());
        capture.close();
        QVERIFY(!capture.isOpen());
        capture.frameSent(kStopFrame, kTime);
        QCOMPARE(readAll(path).size(), kHeaders.size() + kStopBlock.size() + 40);
    }

    void fileThatCannotBeMadeGivesTheReason() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("plain"));
        QFile(file).open(QIODevice::WriteOnly);
        CaptureFile capture;
        QSignalSpy problems(&capture, &CaptureFile::storageProblem);

        // A folder that is a file: the system's reason, even for root.
        const auto notADir = capture.open(file + QStringLiteral("/LOG-capture-1.pcapng"));
        QVERIFY(notADir.has_value());
        QVERIFY2(!notADir->isEmpty(), "no reason");
        QVERIFY(!capture.isOpen());

        // A device, and a pipe with no reader: refused at once, not waited on.
        QCOMPARE(capture.open(QStringLiteral("/dev/full")).value_or(QString()),
                 QStringLiteral("not a regular file"));
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(capture.open(fifo).has_value());
        QVERIFY(!capture.isOpen());

        // A disk with no room for the headers: no file is left.
        const QString full = dir.filePath(QStringLiteral("full.pcapng"));
        std::optional<QString> refused;
        {
            FileSizeLimit limit(50);
            QVERIFY(limit.ok());
            refused = capture.open(full);
        }
        QVERIFY(refused.has_value());
        QVERIFY(!QFile::exists(full));
        QVERIFY(!capture.isOpen());
        capture.frameSent(kStopFrame, kTime);
        QCOMPARE(problems.size(), 0); // open() says it; no signal
    }

    void refusedWritesAreCutBackCountedAndReportedOnce() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("LOG-capture-1.pcapng"));
        CaptureFile capture;
        QSignalSpy problems(&capture, &CaptureFile::storageProblem);
        QVERIFY(!capture.open(path));
        {
            // Room for one stop block and ten bytes more.
            FileSizeLimit limit(kHeaders.size() + kStopBlock.size() + 10);
            QVERIFY(limit.ok());
            capture.frameSent(kStopFrame, kTime);
            capture.frameSent(QByteArray(4096, '\xFD'), kTime); // torn after ten bytes
            capture.serialReceived("O", kTime);                 // likewise
            QCOMPARE(readAll(path), kHeaders + kStopBlock);
            QCOMPARE(capture.size(), kHeaders.size() + kStopBlock.size());
            QCOMPARE(capture.lostPackets(), 2);
            QCOMPARE(problems.size(), 1);
            const QString message = problems[0][0].toString();
            QVERIFY2(message.startsWith(QStringLiteral("抓包文件未能写入") + path +
                                        QStringLiteral("：")),
                     qPrintable(message));
            QVERIFY2(message.endsWith(QStringLiteral("。")), qPrintable(message));
        }
        // Room again: the loss is said in front of the next packet.
        capture.event(QStringLiteral("停止"), kTime);
        QCOMPARE(readAll(path), kHeaders + kStopBlock + eventBlock("抓包文件丢失 2 个数据包") +
                                    eventBlock("停止"));
        QCOMPARE(capture.lostPackets(), 0);
        QCOMPARE(problems.size(), 1);

        // A later episode is reported again.
        {
            FileSizeLimit limit(capture.size() + 3);
            capture.frameSent(kStopFrame, kTime);
        }
        QCOMPARE(problems.size(), 2);
        capture.frameSent(kStopFrame, kTime);
        QCOMPARE(readAll(path), kHeaders + kStopBlock + eventBlock("抓包文件丢失 2 个数据包") +
                                    eventBlock("停止") + eventBlock("抓包文件丢失 1 个数据包") +
                                    kStopBlock);
    }
};

QTEST_GUILESS_MAIN(TestCaptureFile)
#include "tst_capture_file.moc"
