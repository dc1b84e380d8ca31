// Faults from outside the console: a serial device or USB bridge that goes
// away in the middle of a frame, a damaged conversion table, and crash-test
// files that are missing, unreadable or huge. The session must say so, keep
// what it logged, stay responsive, and work again once the fault is gone.
#include "chip_model.h"
#include "common/link_helpers.h"
#include "common/load_helpers.h"
#include "emulated_bridge.h"
#include "serial_line.h"
#include "session_helpers.h"
#include "synthesis/conversion_table.h"
#include "tools/crash_test.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

using namespace qav;
using namespace qav::test;

namespace {

const QString kEntryHead = QStringLiteral("发出一帧，字节数 ");
const QString kAckTimeoutLine = QStringLiteral("操作失败：等待F320应答超时，本帧已放弃\r\n");
const QString kResultFile = QStringLiteral("死机测试文本-测试结果.txt");

// A synthesis frame of GBK text.
QByteArray gbkFrame(const QByteArray& text) {
    const int length = int(text.size()) + 2;
    return QByteArray::fromHex("FD") + char(length >> 8) + char(length & 0xFF) +
           QByteArray::fromHex("0101") + text;
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    // ---- the serial device goes away in the middle of a 4096-byte frame ----

    void serialPeerVanishesMidFrame_data() {
        QTest::addColumn<int>("taken");
        QTest::newRow("nothing taken, output held") << 0;
        QTest::newRow("after the first write") << 2000;
        QTest::newRow("inside the second write") << 3100;
    }
    void serialPeerVanishesMidFrame() {
        QFETCH(int, taken);
        SessionFixture s;
        auto com1 = std::make_unique<PtyPort>();
        QVERIFY(com1->linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));

        // 4091 text bytes: the largest frame the serial link carries.
        const QString text = QString(2045, u'中') + QLatin1Char('a');
        const QByteArray frame = gbkFrame(gbk(text));
        QCOMPARE(frame.size(), 4096);
        QCOMPARE(frame.first(5), QByteArray::fromHex("FD0FFD0101"));
        if (taken == 0) {
            // The far end stops taking bytes, so the frame stays in the
            // console's output queue when it goes.
            const int fd =
                ::open(com1->slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(fd >= 0);
            QCOMPARE(::tcflow(fd, TCOOFF), 0);
            ::close(fd);
        }
        s.text().setText(text);
        s.session().synthesize();
        if (taken > 0)
            QCOMPARE(com1->read(taken).left(taken), frame.left(taken));
        else
            QVERIFY(com1->readFor(50).isEmpty()); // checks that nothing gets through
        com1->closeSlave();
        com1->closeMaster();
        // An unplugged adapter takes its device node with it. (A stale link
        // could otherwise reach a pseudo-terminal that another program opens
        // under the freed number.)
        QFile::remove(s.path(QStringLiteral("COM1")));

        QTRY_VERIFY(!s.session().status().portOpen);
        QTest::qWait(100); // checks that no second message follows
        QCOMPARE(s.messages(), QStringList{kPortMessage});
        // The frame's entry is whole; behind it only the line with the cause.
        const QString entry = frameEntry(frame);
        const QString log = s.log();
        QVERIFY2(log.startsWith(entry + QStringLiteral("串口COM1已断开：")),
                 qPrintable(log.right(80)));
        QCOMPARE(log.count(QStringLiteral("\r\n")), 3);

        // Choosing the port while the device is still gone fails with the message.
        s.messages().clear();
        QVERIFY(!s.session().selectPort(QStringLiteral("COM1")));
        QCOMPARE(s.messages(), QStringList{kPortMessage});

        // The device is back under the same name: the same choice opens it.
        com1 = std::make_unique<PtyPort>();
        QVERIFY(com1->linkAs(s.dir(), 1));
        s.messages().clear();
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        QVERIFY(s.messages().isEmpty());
        s.session().synthesize(); // the same text again, whole
        QCOMPARE(com1->read(frame.size()), frame);
        QCOMPARE(s.log(), log + entry);
    }

    // ---- the USB bridge goes away in the middle of a frame ----

    void usbBridgeVanishesMidFrameAndReturns() {
        SessionFixture s(SessionFixture::emulatedBridge());
        sim::EmulatedBridge& bridge = *s.emulator();
        s.useUsbLink();
        const int limit = SessionFixture::Options().usbAckTimeoutMs;
        QCOMPARE(limit, 500);

        bridge.vanishAfter(3);
        s.text().setText(QString(512, QLatin1Char('a')));
        StallProbe stalls;
        stalls.start();
        QElapsedTimer clock;
        clock.start();
        s.session().synthesize();
        QTRY_VERIFY_WITH_TIMEOUT(s.log().contains(kAckTimeoutLine), limit + 2000);
        const qint64 gaveUpAfter = clock.elapsed();
        stalls.stop();
        QVERIFY2(gaveUpAfter <= limit + 400, qPrintable(QString::number(gaveUpAfter)));
        QVERIFY2(stalls.maxWallMs < 250, qPrintable(QString::number(stalls.maxWallMs)));
        QCOMPARE(bridge.reportsWritten().size(), 3);
        QVERIFY(s.messages().isEmpty());

        // While it is away, each frame is reported once and dropped. Nothing
        // of the frame given up is left waiting: the next frame is tried at
        // once, and its message is there when the call returns.
        s.session().sendFrame(protocol::commandFrame(protocol::Command::QueryStatus));
        QCOMPARE(s.messages(), QStringList{QStringLiteral("USB连接失败")});
        QVERIFY(s.log().endsWith(QStringLiteral("操作失败请先联接\r\n")));

        // Back again: the next frame is found and goes out whole.
        bridge.comeBack();
        bridge.clearRecords();
        const QString text = QStringLiteral("欢迎光临") + QString(200, QLatin1Char('b'));
        s.text().setText(text);
        s.session().synthesize();
        QTRY_COMPARE(bridge.framesReceived(), QList<QByteArray>{gbkFrame(gbk(text))});
        QTRY_VERIFY(s.log().contains(QStringLiteral("<-0xAA接收成功，芯片原状态空闲\r\n")));
        QCOMPARE(s.log().count(kAckTimeoutLine), 1);
        QCOMPARE(s.messages().size(), 1);
    }

    void usbBridgeBackBeforeTheLimit() {
        // Plugged out and in again quickly: the packet in flight is lost all
        // the same. The frame is given up at the limit, and the frame that
        // waited behind it goes out whole.
        SessionFixture s(SessionFixture::emulatedBridge());
        sim::EmulatedBridge& bridge = *s.emulator();
        s.useUsbLink();
        bridge.vanishAfter(2);
        s.text().setText(QString(300, QLatin1Char('c')));
        s.session().synthesize();
        QTRY_COMPARE(bridge.reportsWritten().size(), 2);
        bridge.comeBack();
        s.session().sendFrame(
            protocol::commandFrame(protocol::Command::QueryStatus)); // waits its turn
        QTest::qWait(50); // checks that the query does not go out meanwhile
        QCOMPARE(bridge.reportsWritten().size(), 2);
        const QByteArray query = QByteArray::fromHex("FD000121");
        QTRY_VERIFY_WITH_TIMEOUT(bridge.framesReceived().contains(query),
                                 SessionFixture::Options().usbAckTimeoutMs + 2000);
        QCOMPARE(bridge.framesReceived(), QList<QByteArray>{query});
        QCOMPARE(s.log().count(kAckTimeoutLine), 1);
        QVERIFY(s.messages().isEmpty());
    }

    // ---- the conversion table cannot be used ----

    void conversionTableUnusable_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QByteArray>("frame"); // of "中文abc", once the table is sound
        const std::tuple<int, const char*, const char*> encodings[] = {
            {2, "BIG5", "FD 00 09 01 02 A4 A4 A4 E5 61 62 63"},
            {3, "UTF-16LE", "FD 00 0C 01 03 2D 4E 87 65 61 00 62 00 63 00"},
            {4, "UTF-16BE", "FD 00 0C 01 04 4E 2D 65 87 00 61 00 62 00 63"}};
        for (const char* fault : {"missing", "a folder", "one byte short", "one byte long", "empty",
                                  "dangling link", "a pipe"}) {
            for (const auto& [encoding, name, frame] : encodings)
                QTest::addRow("%s, %s", fault, name)
                    << QString::fromLatin1(fault) << encoding << QByteArray::fromHex(frame);
        }
    }
    void conversionTableUnusable() {
        QFETCH(QString, fault);
        QFETCH(int, encoding);
        QFETCH(QByteArray, frame);
        QTemporaryDir tables;
        const QString path = synthesis::ConversionTable::pathIn(tables.path());
        const QString good =
            synthesis::ConversionTable::pathIn(QCoreApplication::applicationDirPath());
        QVERIFY(QFileInfo(good).isFile());
        auto writeTable = [&](qsizetype size) {
            QFile in(good), out(path);
            QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
            QByteArray bytes = in.readAll();
            bytes.resize(size, '\0');
            out.write(bytes);
        };
        const qsizetype full = synthesis::ConversionTable::kFileSize;
        if (fault == QLatin1String("a folder"))
            QVERIFY(QDir(tables.path()).mkdir(QFileInfo(path).fileName()));
        else if (fault == QLatin1String("one byte short"))
            writeTable(full - 1);
        else if (fault == QLatin1String("one byte long"))
            writeTable(full + 1);
        else if (fault == QLatin1String("empty"))
            writeTable(0);
        else if (fault == QLatin1String("dangling link"))
            QVERIFY(QFile::link(tables.filePath(QStringLiteral("gone.dat")), path));
        else if (fault == QLatin1String("a pipe")) // nobody writes to it
            QCOMPARE(::mkfifo(QFile::encodeName(path), 0600), 0);

        SessionFixture::Options options;
        options.tableFolder = tables.path();
        SessionFixture s(nullptr, options);
        PtyPort com1;
        QVERIFY(com1.linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        s.session().setEncoding(encoding);
        s.text().setText(QStringLiteral("中文abc"));

        s.session().synthesize();
        QCOMPARE(s.messages(), QStringList{kTableMessage});
        QVERIFY(com1.readFor(50).isEmpty()); // checks that nothing is sent
        QVERIFY(s.log().isEmpty());
        QCOMPARE(s.text().text(), QStringLiteral("中文abc"));

        // Once a sound table is in its place the same request goes out.
        QFile::remove(path);
        QDir(tables.path()).rmdir(QFileInfo(path).fileName());
        writeTable(full);
        s.session().synthesize();
        QCOMPARE(s.messages().size(), 1);
        QCOMPARE(com1.read(frame.size()), frame);
        QCOMPARE(s.log(), frameEntry(frame));
    }

    // ---- crash-test files ----

    void crashRunGoesOnPastAnUnreadableText() {
        SessionFixture s;
        QVERIFY(QDir(s.dir()).mkdir(tools::crashTextFileName(0)));
        s.writeFile(QStringLiteral("死机测试文本02.txt"), gbk(QStringLiteral("第二个文本")));
        sim::ChipModel chip;
        chip.setTimeScale(10'000);
        sim::SerialLine line(&chip);
        QVERIFY(line.open(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));

        // The chip's idle replies carry the run through all fourteen steps of
        // the unreadable text and on into the next file.
        s.session().crashStep();
        QTRY_VERIFY_WITH_TIMEOUT(s.readFile(kResultFile).count("\r\n") >= 16, 20000);
        s.session().setRepliesDecoded(false); // the run stops here
        QCOMPARE(s.messages(),
                 QStringList{QStringLiteral("无法读取测试文本文件：死机测试文本01.txt")});
        QVERIFY(QFileInfo(s.path(QStringLiteral("死机测试文本01.txt"))).isDir());
        QVERIFY(s.log().contains(hexLine(gbk(QStringLiteral("第二个文本")))));
        QVERIFY(
            gbkText(s.readFile(kResultFile))
                .contains(QStringLiteral("循环序号： 1    文本序号： 2    控制标记序号： 2\r\n")));
    }

    void crashTextThatIsAPipe() {
        SessionFixture s;
        QCOMPARE(::mkfifo(QFile::encodeName(s.path(QStringLiteral("死机测试文本01.txt"))), 0600),
                 0);
        s.session().crashStep(); // returns: nothing waits for a writer
        QCOMPARE(s.messages(),
                 QStringList{QStringLiteral("无法读取测试文本文件：死机测试文本01.txt")});
        QCOMPARE(s.text().text(), QStringLiteral("[d][g1][s10] 1- 1- 1[g0][d]\r\n\r\n\r\n"));
        QCOMPARE(gbkText(s.readFile(kResultFile)),
                 QStringLiteral("循环序号： 1    文本序号： 1    控制标记序号： 1\r\n"));
        // The next step takes the next variant; the message is not repeated.
        s.session().crashStep();
        QVERIFY(
            gbkText(s.readFile(kResultFile))
                .endsWith(QStringLiteral("循环序号： 1    文本序号： 1    控制标记序号： 2\r\n")));
        QCOMPARE(s.messages().size(), 1);
    }

    void crashRunWithoutItsResultFile() {
        // The result file cannot be opened (a pipe of its name, which nobody
        // reads): the steps go on all the same, and that is said once, at the
        // first step.
        SessionFixture s;
        s.session(); // the working folder is open, and the result file with it
        QVERIFY(QFile::remove(s.path(kResultFile)));
        QCOMPARE(::mkfifo(QFile::encodeName(s.path(kResultFile)), 0600), 0);
        s.session().openWorkFolder(s.dir());
        QVERIFY(s.messages().isEmpty());
        s.session().crashStep();
        QCOMPARE(s.messages().size(), 1);
        QVERIFY2(s.messages().first().startsWith(QStringLiteral("死机测试结果文件未能打开：") +
                                                 s.path(kResultFile) + QStringLiteral("，")),
                 qPrintable(s.messages().first()));
        QVERIFY(s.messages().first().endsWith(
            QStringLiteral("\n测试继续进行，工作记录照常记录每一步。")));
        s.session().crashStep();
        QCOMPARE(s.messages().size(), 1);
        QCOMPARE(
            loggedFrames(s.log()),
            (QList<QByteArray>{gbkFrame("[d][g1][s10] 1- 1- 1[g0][d]\r\n\r\n\r\n"),
                               gbkFrame("[d][g1][s10] 1- 1- 2[g0][d]\r\n[s0][t0][v3]\r\n\r\n")}));
    }

    void hugeCrashTextIsNotReadWhole() {
        SessionFixture s;
        const QByteArray line = gbk(QStringLiteral("这是一行测试文本，abc 123。\r\n"));
        {
            QFile big(s.path(tools::crashTextFileName(0)));
            QVERIFY(big.open(QIODevice::WriteOnly));
            const QByteArray block = line.repeated((1 << 20) / line.size());
            while (big.size() < 50 * 1024 * 1024)
                QCOMPARE(big.write(block), block.size());
        }
        PtyPort com1;
        QVERIFY(com1.linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));
        const qint64 peakBefore = processMemoryKb("VmHWM");

        QElapsedTimer clock;
        clock.start();
        s.session().crashStep();
        const qint64 took = clock.elapsed();
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));

        const qint64 readLimit = tools::crashTextReadLimit(s.session().status().chunkLimit);
        QVERIFY2(s.text().length() < readLimit + 100,
                 qPrintable(QString::number(s.text().length())));
        QVERIFY(s.text().text().contains(QStringLiteral("\r\n这是一行测试文本，abc 123。\r\n")));
        if (peakBefore > 0)
            QVERIFY2(processMemoryKb("VmHWM") - peakBefore < 20 * 1024,
                     qPrintable(QString::number(processMemoryKb("VmHWM") - peakBefore)));
        // One frame of a whole chunk goes out.
        const QByteArray sent = com1.read(4096);
        QVERIFY(sent.size() >= 4095);
        QCOMPARE(s.log().count(kEntryHead), 1);
        QCOMPARE(s.messages(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
