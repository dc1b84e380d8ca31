// Faults from outside the console: a serial device or USB bridge that goes
// away in the middle of a frame, a damaged conversion table, crash-test files
// that are missing, unreadable or huge, a work log that cannot be exported,
// and an initial text that is not GBK. The window must say so, keep what it
// logged, stay responsive, and work again once the fault is gone.
#include "app/app_helpers.h"
#include "chip_model.h"
#include "emulated_bridge.h"
#include "link/link_helpers.h"
#include "link/serial_port_service.h"
#include "link/usb_packet_sender.h"
#include "synthesis/conversion_table.h"
#include "synthesis/text_frame.h"
#include "tools/crash_test.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

using namespace qav;
using namespace qav::test;

namespace {

const QString kEntryHead = QStringLiteral("发出一帧，字节数 ");
const QString kPortMessage = QString::fromUtf8(qav::session::ConsoleSession::kPortMessage);
const QString kTableMessage = QString::fromUtf8(synthesis::kTableMissingMessage);
const QString kResultFile = QStringLiteral("死机测试文本-测试结果.txt");
const QString kInitialFile = QStringLiteral("初始默认文本.txt");

void pick(QComboBox* combo, int index) {
    combo->setCurrentIndex(index);
    emit combo->activated(index); // as a user's pick
}

QString entryOf(const QByteArray& frame) {
    return kEntryHead + QLatin1Char(' ') + QString::number(frame.size()) + QStringLiteral("\r\n") +
           QStringLiteral("----> ") + hexLine(frame) + QStringLiteral("\r\n");
}

// A synthesis frame of GBK text, as the console builds it.
QByteArray gbkFrame(const QByteArray& text) {
    const int length = int(text.size()) + 2;
    return QByteArray::fromHex("FD") + char(length >> 8) + char(length & 0xFF) +
           QByteArray::fromHex("0101") + text;
}

QString gbkText(const QByteArray& bytes) {
    QStringDecoder decoder("GBK");
    return decoder.decode(bytes);
}

// Peak resident memory of this process, in kB.
qint64 peakResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

// Counts the event loop's turns and the longest gap between two of them
// while it runs, so a test can tell a wait that holds up the window.
class StallWatch {
public:
    StallWatch() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { longest_ = std::max(longest_, clock_.restart()); });
        clock_.start();
        timer_.start();
    }
    qint64 longestMs() const { return longest_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

// Plays a chip at the far end of a pseudo-terminal: every whole frame that
// arrives is answered with 0x4F, "idle", as a chip does once it has spoken.
class IdleAnswerer {
public:
    explicit IdleAnswerer(PtyPort& pty) : pty_(pty) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { serve(); });
        timer_.start(2);
    }
    int framesAnswered() const { return answered_; }

private:
    void serve() {
        pending_ += pty_.readAvailable();
        while (pending_.size() >= 3) {
            const qsizetype size = 3 + (uchar(pending_[1]) << 8 | uchar(pending_[2]));
            if (pending_.size() < size)
                return;
            pending_.remove(0, size);
            ++answered_;
            pty_.write(QByteArray(1, char(0x4F)));
        }
    }
    PtyPort& pty_;
    QTimer timer_;
    QByteArray pending_;
    int answered_ = 0;
};

// The message boxes the window has open.
QList<QMessageBox*> openBoxes(QWidget& window) {
    QList<QMessageBox*> open;
    for (QMessageBox* box : window.findChildren<QMessageBox*>())
        if (box->isVisible())
            open.append(box);
    return open;
}

// Presses OK on every open message box, as the engineer would.
void pressOkOnAll(QWidget& window) {
    for (QMessageBox* box : openBoxes(window))
        box->button(QMessageBox::Ok)->click();
    QCoreApplication::sendPostedEvents();
}

// A console on the USB link with the bridge emulator behind it, in a
// working folder of its own.
struct UsbConsole {
    QTemporaryDir dir;
    QString previousDir = QDir::currentPath();
    session::RecordingMessageSink* messages = new session::RecordingMessageSink;
    sim::EmulatedBridge* bridge = new sim::EmulatedBridge;
    std::unique_ptr<app::Form1> form;

    UsbConsole() {
        QDir::setCurrent(dir.path());
        bridge->chip().setTimeScale(1000);
        form = std::make_unique<app::Form1>(std::unique_ptr<link::HidBridge>(bridge),
                                            std::unique_ptr<session::MessageSink>(messages));
        form->serialPort().setSystemPortsUsed(false);
        form->Form_Load();
        form->Option4_Click();
        messages->messages.clear();
        form->Command2_Click();
    }
    ~UsbConsole() {
        form.reset();
        QDir::setCurrent(previousDir);
    }
    const QString& log() const { return form->workLog().text(); }
};

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
        ConsoleFixture c;
        auto com1 = std::make_unique<PtyPort>();
        QVERIFY(com1->linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        QVERIFY(f.serialPort().portOpen());
        f.Command2_Click();

        // 4091 text bytes: the largest frame the serial link carries.
        const QString text = QString(2045, u'中') + QLatin1Char('a');
        const QByteArray frame = gbkFrame(gbk(text));
        QCOMPARE(frame.size(), 4096);
        if (taken == 0) {
            // The far end stops taking bytes, so the frame stays in the
            // console's output queue when it goes.
            const int fd =
                ::open(com1->slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(fd >= 0);
            QCOMPARE(::tcflow(fd, TCOOFF), 0);
            ::close(fd);
        }
        f.sendText().setText(text);
        f.Command6_Click();
        if (taken > 0)
            QCOMPARE(com1->read(taken).left(taken), frame.left(taken));
        else
            QVERIFY(com1->readFor(50).isEmpty());
        com1->closeSlave();
        com1->closeMaster();
        // An unplugged adapter takes its device node with it. (A stale link
        // could otherwise reach a pseudo-terminal that another program opens
        // under the freed number.)
        QFile::remove(c.path(QStringLiteral("COM1")));

        QTRY_VERIFY(!f.serialPort().portOpen());
        QTest::qWait(100);
        QCOMPARE(c.messages(), QStringList{kPortMessage});
        // The frame's entry is whole; behind it only the line with the cause.
        const QString entry = entryOf(frame);
        const QString log = f.workLog().text();
        QVERIFY2(log.startsWith(entry + QStringLiteral("串口COM1已断开：")),
                 qPrintable(log.right(80)));
        QCOMPARE(log.count(QStringLiteral("\r\n")), 3);
        f.workLogView().flush();
        QCOMPARE(f.Text4->toPlainText(),
                 QString(log).replace(QStringLiteral("\r\n"), "\n"));

        // Picking the port while the device is still gone fails with the message.
        c.messages().clear();
        pick(f.Combo1, 0);
        QVERIFY(!f.serialPort().portOpen());
        QCOMPARE(c.messages(), QStringList{kPortMessage});

        // The device is back under the same name: the same pick opens it.
        com1 = std::make_unique<PtyPort>();
        QVERIFY(com1->linkAs(c.dir(), 1));
        c.messages().clear();
        pick(f.Combo1, 0);
        QVERIFY(f.serialPort().portOpen());
        QVERIFY(c.messages().isEmpty());
        f.Command6_Click(); // the same text again, whole
        QCOMPARE(com1->read(frame.size()), frame);
        QCOMPARE(f.workLog().text(), log + entry);

        // And the log leaves intact at close.
        c.close();
        QCOMPARE(c.readFile(QStringLiteral("LOG.txt")),
                 gbk(QStringLiteral("导出数据\r\n") + log + entry + QStringLiteral("\r\n")));
    }

    // ---- the USB bridge goes away in the middle of a frame ----

    void usbBridgeVanishesMidFrameAndReturns() {
        UsbConsole u;
        app::Form1& f = *u.form;
        const int limit = f.session().usbSender().ackTimeout();
        QCOMPARE(limit, link::UsbPacketSender::kDefaultAckTimeoutMs);
        const QString timeoutLine =
            QString::fromUtf8(link::UsbPacketSender::kAckTimeoutLine) + QStringLiteral("\r\n");

        u.bridge->vanishAfter(3);
        f.sendText().setText(QString(512, QLatin1Char('a')));
        StallWatch stalls;
        QElapsedTimer clock;
        clock.start();
        f.Command6_Click();
        QTRY_VERIFY_WITH_TIMEOUT(u.log().contains(timeoutLine), limit + 2000);
        const qint64 gaveUpAfter = clock.elapsed();
        QVERIFY2(gaveUpAfter <= limit + 400, qPrintable(QString::number(gaveUpAfter)));
        QVERIFY2(stalls.longestMs() < 250, qPrintable(QString::number(stalls.longestMs())));
        QCOMPARE(u.bridge->reportsWritten().size(), 3);
        QVERIFY(!f.session().usbSender().ackPending());
        QVERIFY(!f.session().usbSender().busy());
        QVERIFY(u.messages->messages.isEmpty());

        // While it is away, each frame is reported once and dropped.
        f.Command28_Click();
        QCOMPARE(u.messages->messages, QStringList{QStringLiteral("USB连接失败")});
        QVERIFY(u.log().endsWith(QStringLiteral("操作失败请先联接\r\n")));

        // Back again: the next frame is found and goes out whole.
        u.bridge->comeBack();
        u.bridge->clearRecords();
        const QString text = QStringLiteral("欢迎光临") + QString(200, QLatin1Char('b'));
        f.sendText().setText(text);
        f.Command6_Click();
        QTRY_COMPARE(u.bridge->framesReceived(), QList<QByteArray>{gbkFrame(gbk(text))});
        QTRY_VERIFY(u.log().contains(QStringLiteral("<-0xAA接收成功，芯片原状态空闲\r\n")));
        QCOMPARE(u.log().count(timeoutLine), 1);
        QCOMPARE(u.messages->messages.size(), 1);
    }

    void usbBridgeBackBeforeTheLimit() {
        // Plugged out and in again quickly: the packet in flight is lost all
        // the same. The frame is given up at the limit, and the frame that
        // waited behind it goes out whole.
        UsbConsole u;
        app::Form1& f = *u.form;
        u.bridge->vanishAfter(2);
        f.sendText().setText(QString(300, QLatin1Char('c')));
        f.Command6_Click();
        QTRY_COMPARE(u.bridge->reportsWritten().size(), 2);
        u.bridge->comeBack();
        f.Command28_Click(); // waits its turn
        QTest::qWait(50);
        QCOMPARE(u.bridge->reportsWritten().size(), 2);
        const QByteArray query = QByteArray::fromHex("FD000121");
        QTRY_VERIFY_WITH_TIMEOUT(u.bridge->framesReceived().contains(query),
                                 f.session().usbSender().ackTimeout() + 2000);
        QCOMPARE(u.bridge->framesReceived(), QList<QByteArray>{query});
        QCOMPARE(u.log().count(QString::fromUtf8(link::UsbPacketSender::kAckTimeoutLine)), 1);
        QVERIFY(u.messages->messages.isEmpty());
    }

    // ---- the conversion table cannot be used ----

    void conversionTableUnusable_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("encoding");
        for (const char* fault : {"missing", "a folder", "one byte short", "one byte long", "empty",
                                  "dangling link", "a pipe"}) {
            for (const auto& [encoding, name] :
                 {std::pair{2, "BIG5"}, std::pair{3, "UTF-16LE"}, std::pair{4, "UTF-16BE"}}) {
                QTest::addRow("%s, %s", fault, name) << QString::fromLatin1(fault) << encoding;
            }
        }
    }
    void conversionTableUnusable() {
        QFETCH(QString, fault);
        QFETCH(int, encoding);
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

        ConsoleFixture c;
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        f.session().setConversionTableFolder(tables.path());
        f.Command2_Click();
        f.Combo5->setCurrentIndex(encoding);
        f.Combo5_Click();
        f.sendText().setText(QStringLiteral("中文abc"));

        f.Command6_Click();
        QCOMPARE(c.messages(), QStringList{kTableMessage});
        QVERIFY(com1.readFor(50).isEmpty());
        QVERIFY(f.workLog().text().isEmpty());
        QVERIFY(f.Command6->isEnabled());
        QCOMPARE(f.sendText().text(), QStringLiteral("中文abc"));

        // Once a sound table is in its place the same request goes out.
        QFile::remove(path);
        QDir(tables.path()).rmdir(QFileInfo(path).fileName());
        writeTable(full);
        f.Command6_Click();
        QCOMPARE(c.messages().size(), 1);
        const QByteArray sent = com1.read(5).left(5);
        QCOMPARE(sent.size(), 5);
        QCOMPARE(uchar(sent[4]), uchar(encoding));
        QCOMPARE(f.workLog().text().count(kEntryHead), 1);
    }

    // ---- crash-test files ----

    void crashRunGoesOnPastAnUnreadableText() {
        ConsoleFixture c;
        QVERIFY(QDir(c.dir()).mkdir(tools::crashTextFileName(0)));
        c.writeFile(tools::crashTextFileName(1), gbk(QStringLiteral("第二个文本")));
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        QVERIFY(f.serialPort().portOpen());
        IdleAnswerer chip(com1);

        // The chip's idle replies carry the run through all fourteen steps of
        // the unreadable text and on into the next file.
        f.Command25_Click();
        QTRY_VERIFY_WITH_TIMEOUT(c.readFile(kResultFile).count("\r\n") >= 16, 20000);
        f.Check1->setChecked(false); // the run stops here
        QCOMPARE(c.messages().size(), 1);
        QCOMPARE(c.messages().first(),
                 QStringLiteral("无法读取测试文本文件：") + tools::crashTextFileName(0));
        QVERIFY(QFileInfo(c.path(tools::crashTextFileName(0))).isDir());
        const QString log = f.workLog().text();
        QVERIFY(log.contains(hexLine(gbk(QStringLiteral("第二个文本")))));
        QVERIFY(
            gbkText(c.readFile(kResultFile))
                .contains(QStringLiteral("循环序号： 1    文本序号： 2    控制标记序号： 2\r\n")));
    }

    void crashTextThatIsAPipe() {
        ConsoleFixture c;
        QCOMPARE(::mkfifo(QFile::encodeName(c.path(tools::crashTextFileName(0))), 0600), 0);
        app::Form1& f = c.load();
        c.messages().clear();
        f.Command25_Click(); // returns: nothing waits for a writer
        QCOMPARE(c.messages(), QStringList{QStringLiteral("无法读取测试文本文件：") +
                                           tools::crashTextFileName(0)});
        QCOMPARE(f.sendText().text(), QStringLiteral("[d][g1][s10] 1- 1- 1[g0][d]\r\n\r\n\r\n"));
        QCOMPARE(f.state().crash.tagStep, 1);
    }

    void hugeCrashTextIsNotReadWhole() {
        ConsoleFixture c;
        const QByteArray line = gbk(QStringLiteral("这是一行测试文本，abc 123。\r\n"));
        {
            QFile big(c.path(tools::crashTextFileName(0)));
            QVERIFY(big.open(QIODevice::WriteOnly));
            const QByteArray block = line.repeated((1 << 20) / line.size());
            while (big.size() < 50 * 1024 * 1024)
                QCOMPARE(big.write(block), block.size());
        }
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        f.Command2_Click();
        const qint64 peakBefore = peakResidentKb();

        QElapsedTimer clock;
        clock.start();
        f.Command25_Click();
        const qint64 took = clock.elapsed();
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));

        const qint64 readLimit = tools::crashTextReadLimit(f.state().chunkLimit);
        QVERIFY2(f.sendText().length() < readLimit + 100,
                 qPrintable(QString::number(f.sendText().length())));
        QVERIFY(
            f.sendText().text().contains(QStringLiteral("\r\n这是一行测试文本，abc 123。\r\n")));
        if (peakBefore > 0)
            QVERIFY2(peakResidentKb() - peakBefore < 20 * 1024,
                     qPrintable(QString::number(peakResidentKb() - peakBefore)));
        // One frame of a whole chunk goes out.
        const QByteArray sent = com1.read(4096);
        QVERIFY(sent.size() >= 4095);
        QCOMPARE(f.workLog().text().count(kEntryHead), 1);
        QCOMPARE(c.messages(), QStringList());
    }

    // ---- LOG.txt cannot be written when the window closes ----

    void unwritableLogAtCloseStillEnds_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a folder") << QStringLiteral("folder");
        QTest::newRow("a pipe nobody reads") << QStringLiteral("pipe"); // would wait for ever
        QTest::newRow("a full disk") << QStringLiteral("full");
    }
    void unwritableLogAtCloseStillEnds() {
        QFETCH(QString, kind);
        if (kind == QLatin1String("full") && !QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full here");
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const QString logPath = dir.filePath(QStringLiteral("LOG.txt"));
        {
            // Real message boxes, as the program shows them.
            app::Form1 f;
            f.serialPort().setSystemPortsUsed(false);
            f.Form_Load();
            f.show();
            QVERIFY(QTest::qWaitForWindowExposed(&f));
            pressOkOnAll(f); // the port message of start-up
            f.Command7_Click();
            if (kind == QLatin1String("pipe"))
                QCOMPARE(::mkfifo(QFile::encodeName(logPath), 0600), 0);
            else if (kind == QLatin1String("full"))
                QVERIFY(QFile::link(QStringLiteral("/dev/full"), logPath));
            else
                QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("LOG.txt")));

            f.close();
            const QList<QMessageBox*> boxes = openBoxes(f);
            QCOMPARE(boxes.size(), 1);
            QVERIFY(boxes.first()->text().startsWith(QStringLiteral("工作记录未能导出到LOG.txt")));
            QTest::qWait(50);
            QVERIFY(f.isVisible()); // until the message is acknowledged
            QVERIFY(!f.serialPort().portOpen());
            pressOkOnAll(f);
            QTRY_VERIFY(!f.isVisible());
            QVERIFY(openBoxes(f).isEmpty()); // the export is not tried again
            // Nothing is left open, so the program's event loop ends.
            for (QWidget* w : QApplication::topLevelWidgets())
                QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
        }
        QDir::setCurrent(previous);
    }

    // ---- an initial text that is not GBK ----

    void startUpFilesThatArePipes() {
        // Start-up waits for no writer and no reader: the send text area
        // stays empty, and the crash test runs without its result file.
        ConsoleFixture c;
        QCOMPARE(::mkfifo(QFile::encodeName(c.path(kInitialFile)), 0600), 0);
        QCOMPARE(::mkfifo(QFile::encodeName(c.path(kResultFile)), 0600), 0);
        app::Form1& f = c.load();
        QCOMPARE(f.sendText().text(), QString());
        QCOMPARE(c.messages(), QStringList{kPortMessage});
        QVERIFY(!f.session().crashResultFile());
        f.Command25_Click();
        QCOMPARE(f.state().crash.tagStep, 1);
    }

    void initialTextWithBytesThatAreNotGbk() {
        ConsoleFixture c;
        // Lead bytes with a trail they cannot have (0x7F, 0x30), and a lead
        // byte the file ends inside.
        const QByteArray bytes = gbk(QStringLiteral("开始")) + "ab\x81\x7F" + "cd\xB0\x30\r\n" +
                                 gbk(QStringLiteral("末")) + "\xB0";
        c.writeFile(kInitialFile, bytes);
        PtyPort com1;
        QVERIFY(com1.linkAs(c.dir(), 1));
        app::Form1& f = c.load();
        QVERIFY(c.messages().isEmpty());
        const QString text = f.sendText().text();
        const QString bad(QChar::ReplacementCharacter);
        QCOMPARE(text, QStringLiteral("开始ab") + bad + QStringLiteral("\x7F") +
                           QStringLiteral("cd") + bad + QStringLiteral("0\r\n末") + bad);

        // The console goes on: the text is sent, each replacement as '?'.
        f.Command2_Click();
        f.Command6_Click();
        QString sendable = text;
        sendable.replace(QChar::ReplacementCharacter, QLatin1Char('?'));
        const QByteArray frame = gbkFrame(gbk(sendable));
        QCOMPARE(com1.read(frame.size()), frame);
        QCOMPARE(f.workLog().text(), entryOf(frame));
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
