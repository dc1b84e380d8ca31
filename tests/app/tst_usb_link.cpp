// The window on the USB link, with the bridge emulator (or hidapi with no
// bridge attached) behind it.

#include "app/form1.h"
#include "chip_model.h"
#include "emulated_bridge.h"
#include "link/hidapi_bridge.h"
#include "link/serial_port_service.h"
#include "link/usb_packet_sender.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

using namespace qav;

namespace {

const QString kConnectFailed = QStringLiteral("USB连接失败");
const QString kNotConnectedLine = QStringLiteral("操作失败请先联接\r\n");

QByteArray bytesOf(const link::Report& report) {
    return QByteArray(reinterpret_cast<const char*>(report.data()), int(report.size()));
}

// A pseudo-terminal whose slave is linked as COMn in a directory.
class Pty {
public:
    bool linkAs(const QString& dir, int number) {
        char name[256];
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            return false;
        return QFile::link(QString::fromLocal8Bit(name),
                           dir + QStringLiteral("/COM%1").arg(number));
    }
    void write(const QByteArray& bytes) {
        QVERIFY(::write(master_, bytes.data(), bytes.size()) == bytes.size());
    }
    ~Pty() {
        if (master_ >= 0)
            ::close(master_);
        if (slave_ >= 0)
            ::close(slave_);
    }

private:
    int master_ = -1;
    int slave_ = -1;
};

// A console started in a directory of its own.
struct Console {
    QTemporaryDir dir;
    QString oldDir = QDir::currentPath();
    session::RecordingMessageSink* messages = new session::RecordingMessageSink;
    sim::EmulatedBridge* bridge = nullptr;
    std::unique_ptr<app::Form1> form;
    std::unique_ptr<Pty> pty;

    explicit Console(std::unique_ptr<link::HidBridge> hid = {}, bool serialLine = false) {
        QDir::setCurrent(dir.path());
        if (serialLine) {
            pty = std::make_unique<Pty>();
            pty->linkAs(dir.path(), 1);
        }
        if (!hid) {
            bridge = new sim::EmulatedBridge;
            bridge->chip().setTimeScale(1000);
            hid.reset(bridge);
        }
        form = std::make_unique<app::Form1>(std::move(hid),
                                            std::unique_ptr<session::MessageSink>(messages));
        form->Form_Load();
        messages->messages.clear();
        form->Command2_Click();
    }
    ~Console() {
        form.reset();
        QDir::setCurrent(oldDir);
    }
    const QString& log() const { return form->workLog().text(); }
    QList<QByteArray> synthesisTexts() const {
        QList<QByteArray> texts;
        for (const QByteArray& frame : bridge->framesReceived())
            if (frame.size() > 5 && frame[3] == 0x01)
                texts.append(frame.mid(5));
        return texts;
    }
};

QString usbNotice(app::Form1& form) {
    return QStringLiteral(" 512") + form.state().chunkLimitNotice;
}

} // namespace

class TestUsbLink : public QObject {
    Q_OBJECT
private slots:
    void choosingUsbWithoutBridge() {
        Console console(std::make_unique<link::HidapiBridge>());
        app::Form1& form = *console.form;
        form.Option4_Click();
        QCOMPARE(console.messages->messages, (QStringList{usbNotice(form), kConnectFailed}));
        QVERIFY(form.session().useUsbLink());
        QCOMPARE(form.state().chunkLimit, 512);
        QVERIFY(form.state().chunkLimitNotice.startsWith(QStringLiteral("字节：")));

        // One message and one log line per frame, however many reports it needs.
        console.messages->messages.clear();
        form.sendText().setText(QString(600, QLatin1Char('a')));
        form.Command6_Click();
        form.Command7_Click();
        QCOMPARE(console.messages->messages, (QStringList{kConnectFailed, kConnectFailed}));
        QCOMPARE(console.log().count(kNotConnectedLine), 2);
        QVERIFY(!form.session().usbSender().ackPending());
    }

    void framesAndRepliesOverTheBridge() {
        Console console;
        app::Form1& form = *console.form;
        form.Option4_Click();
        QCOMPARE(console.messages->messages, QStringList{usbNotice(form)});

        form.Command28_Click(); // status query while idle
        QCOMPARE(console.bridge->reportsWritten().size(), 1);
        QCOMPARE(bytesOf(console.bridge->reportsWritten()[0]),
                 QByteArray::fromHex("00BC04FD000121") + QByteArray(26, '\0'));
        QTRY_VERIFY(console.log().endsWith(QStringLiteral("<-0xAA接收成功，芯片原状态空闲\r\n")));

        // A long synthesis, and a stop pressed while it is still going out:
        // the stop follows the synthesis' last report.
        console.bridge->clearRecords();
        console.bridge->setAckDelay(2);
        form.sendText().setText(QString(512, QLatin1Char('b')));
        form.Command6_Click();
        QVERIFY(form.session().usbSender().ackPending());
        form.Command7_Click();
        QTRY_COMPARE(console.bridge->reportsWritten().size(), 18);
        QTRY_COMPARE(console.bridge->framesReceived().size(), 2);
        QCOMPARE(bytesOf(console.bridge->reportsWritten()[17]).left(7),
                 QByteArray::fromHex("00BC04FD000102"));
        QTRY_VERIFY(console.log().contains(QStringLiteral("<-0x4F  芯片空闲\r\n")));
        QVERIFY(!form.session().usbSender().ackPending());
        QVERIFY(console.messages->messages.size() == 1);
    }

    void replyLines() {
        Console console;
        app::Form1& form = *console.form;
        form.Option4_Click();
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
            emit console.bridge->inputReport(report);
            if (!line.isEmpty())
                expected += line + QStringLiteral("\r\n");
        }
        QCOMPARE(console.log(), expected);
    }

    void longTextGoesOnPieceByPiece() {
        Console console;
        app::Form1& form = *console.form;
        form.Option4_Click();
        console.bridge->setAckDelay(1);
        // 1300 bytes: two full pieces of 512 and the rest, Chinese in the middle.
        const QString text = QString(500, QLatin1Char('x')) + QString(100, QChar(0x4E2D)) +
                             QString(600, QLatin1Char('y'));
        form.sendText().setText(text);
        // Continuous play for 100 s: the text is sent once, piece by piece.
        form.Text2->setPlainText(QStringLiteral("100"));
        form.Command3_Click();
        QVERIFY(form.state().continueSynthesis);
        QTRY_VERIFY(!form.state().continueSynthesis);
        QVERIFY(form.Timer1->isActive()); // ended by the text, not by the countdown
        QTRY_VERIFY(!form.session().usbSender().busy());
        QTest::qWait(50); // no further piece may follow

        const QByteArray gbk = QStringEncoder("GBK").encode(text);
        QCOMPARE(console.synthesisTexts(),
                 (QList<QByteArray>{gbk.left(512), gbk.mid(512, 512), gbk.mid(1024)}));
        // The last piece stays selected.
        QCOMPARE(form.sendText().selStart() + form.sendText().selLength(),
                 form.sendText().length());
        QCOMPARE(form.sendText().selectedText(), QString(276, QLatin1Char('y')));
    }

    void stopEndsALongTextAtThePieceInFlight() {
        Console console;
        app::Form1& form = *console.form;
        form.Option4_Click();
        console.bridge->setAckDelay(2);
        form.sendText().setText(QString(2000, QLatin1Char('s')));
        // Stop pressed once the first piece is through, before the bridge
        // has answered its last report: no further piece may go out, so none
        // may have been started by the answers to its full reports either.
        bool stopped = false;
        connect(console.bridge, &sim::EmulatedBridge::frameReceived, &form, [&] {
            if (!stopped) {
                stopped = true;
                QTimer::singleShot(0, &form, [&] { form.Command7_Click(); });
            }
        });
        form.Command6_Click();
        form.state().continueSynthesis = true;
        QTRY_COMPARE(console.bridge->framesReceived().size(), 2);
        QTest::qWait(50);
        QCOMPARE(console.synthesisTexts(), QList<QByteArray>{QByteArray(512, 's')});
        QCOMPARE(console.bridge->framesReceived().last(), QByteArray::fromHex("FD000102"));
        QVERIFY(!form.state().continueSynthesis);
    }

    void serialLineKeepsWorkingBesideUsb() {
        Console console({}, true);
        app::Form1& form = *console.form;
        QVERIFY(form.serialPort().portOpen());
        form.Option4_Click();
        QVERIFY(form.serialPort().portOpen());
        console.pty->write(QByteArray(1, 0x4F));
        QTRY_VERIFY(console.log().contains(QStringLiteral("4F  芯片空闲")));
        form.Command28_Click();
        QTRY_COMPARE(console.bridge->framesReceived().size(), 1);
        QVERIFY(form.serialPort().portOpen());
    }
};

QTEST_MAIN(TestUsbLink)
#include "tst_usb_link.moc"
