// A run's capture against the chip emulator, read back with tshark and the
// packaged dissector: every frame and reply with its direction and time, the
// texts decoded, the USB reports, and the console's own events.
#include "chip_model.h"
#include "common/tshark_helpers.h"
#include "emulated_bridge.h"
#include "serial_line.h"
#include "session_helpers.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTest>

using namespace qav;
using namespace qav::test;

namespace {

const QStringList kFields = {
    QStringLiteral("frame.time_epoch"), QStringLiteral("qav7120.direction"),
    QStringLiteral("qav7120.frame"),    QStringLiteral("qav7120.reply"),
    QStringLiteral("qav7120.event"),    QStringLiteral("_ws.col.Info")};

// The rows of a capture, each without its time. The times must rise and lie
// within from .. to; a row that breaks that, or a fault of tshark, is a
// problem.
struct Rows {
    QList<QStringList> rows;
    QStringList problems;
};
Rows rowsWithin(const QString& capture, double from, double to) {
    const TsharkOutput out = tsharkFields(capture, kFields);
    Rows result;
    if (out.exitCode != 0 || out.luaError())
        result.problems << out.diagnosis();
    double last = from;
    for (QStringList row : out.rows) {
        const double at = row.takeFirst().toDouble();
        if (at < last || at > to)
            result.problems << QStringLiteral("time %1 not within %2 .. %3")
                                   .arg(at, 0, 'f', 6)
                                   .arg(last, 0, 'f', 6)
                                   .arg(to, 0, 'f', 6);
        last = std::max(last, at);
        result.rows << row;
    }
    return result;
}

// The chip may answer 41 and 4F in one read or in two: one row per reply.
QList<QStringList> oneReplyPerRow(const QList<QStringList>& rows) {
    QList<QStringList> out;
    for (const QStringList& r : rows) {
        const QStringList replies = r.at(2).split(QLatin1Char(','));
        const QStringList infos = r.at(4).split(QStringLiteral(", "));
        if (replies.size() < 2 || replies.size() != infos.size()) {
            out << r;
            continue;
        }
        for (qsizetype i = 0; i < replies.size(); ++i)
            out << QStringList{r.at(0), r.at(1), replies.at(i), r.at(3), infos.at(i)};
    }
    return out;
}

double now() {
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

} // namespace

class TestCaptureRun : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QAV_REQUIRE_TSHARK(); }

    void serialRunIsDecodedFrameByFrame() {
        const double start = now() - 0.001;
        SessionFixture s;
        const QString capture = s.session().status().capturePath;
        QCOMPARE(QFileInfo(capture).fileName(),
                 QFileInfo(s.session().status().journalPath)
                     .fileName()
                     .replace(QStringLiteral("LOG-journal-"), QStringLiteral("LOG-capture-"))
                     .replace(QStringLiteral(".txt"), QStringLiteral(".pcapng")));
        sim::ChipModel chip;
        chip.setTimeScale(200);
        sim::SerialLine line(&chip);
        QVERIFY(line.open(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1")));

        const auto idles = [&] { return s.log().count(QStringLiteral("4F  芯片空闲")); };
        s.text().setText(QStringLiteral("欢迎光临"));
        s.session().synthesize();
        QTRY_COMPARE(idles(), 1);
        s.session().setEncoding(2); // BIG5
        s.text().setText(QStringLiteral("中文"));
        s.session().synthesize();
        QTRY_COMPARE(idles(), 2);
        s.session().sendFrame(QByteArray::fromHex("FD00060101C4E3BAC3")); // a hex send: 你好
        QTRY_COMPARE(idles(), 3);
        s.session().stop();
        QTRY_COMPARE(idles(), 4);
        const Rows read = rowsWithin(capture, start, now() + 0.001);
        QVERIFY2(read.problems.isEmpty(), qPrintable(read.problems.join(QLatin1Char('\n'))));
        const QList<QStringList>& rows = read.rows;

        // direction, frame, reply, event, the summary line
        const QString out = QStringLiteral("2"), in = QStringLiteral("1");
        const QList<QStringList> expected = {
            {out, "fd000a0101bbb6d3adb9e2c1d9", "", "", "synthesise GBK \"欢迎光临\""},
            {in, "", "0x41", "", "received"},
            {in, "", "0x4f", "", "idle"},
            {out, "fd00060102a4a4a4e5", "", "", "synthesise BIG5 \"中文\""},
            {in, "", "0x41", "", "received"},
            {in, "", "0x4f", "", "idle"},
            {out, "fd00060101c4e3bac3", "", "", "synthesise GBK \"你好\""},
            {in, "", "0x41", "", "received"},
            {in, "", "0x4f", "", "idle"},
            {"", "", "", "停止", "停止"},
            {out, "fd000102", "", "", "stop"},
            {in, "", "0x41", "", "received"},
            {in, "", "0x4f", "", "idle"},
        };
        QCOMPARE(oneReplyPerRow(rows), expected);
    }

    void usbFrameShowsItsReports() {
        const double start = now() - 0.001;
        SessionFixture s(SessionFixture::emulatedBridge());
        s.useUsbLink();
        s.text().setText(
            QString(40, QLatin1Char('a'))); // a 45-byte frame: one full packet, one last
        s.session().synthesize();
        QTRY_COMPARE(s.emulator()->framesReceived().size(), 1);
        QTRY_VERIFY(s.log().contains(QStringLiteral("<-0x4F  芯片空闲")));
        const Rows read = rowsWithin(s.session().status().capturePath, start, now() + 0.001);
        QVERIFY2(read.problems.isEmpty(), qPrintable(read.problems.join(QLatin1Char('\n'))));
        const QList<QStringList>& rows = read.rows;
        QStringList info;
        for (const QStringList& r : rows)
            info << r.first() + QLatin1Char(' ') + r.last();
        const QString frame =
            QStringLiteral("fd002a0101") +
            QString(80, QLatin1Char('6')).replace(QStringLiteral("66"), QStringLiteral("61"));
        QCOMPARE(rows.at(1).at(1), frame);
        QCOMPARE(info.mid(0, 8), QStringList({
                                     " F320已联接",
                                     "2 synthesise GBK \"" + QString(40, QLatin1Char('a')) + "\"",
                                     "2 full packet, 31 bytes",
                                     "1 bridge acknowledgement",
                                     "2 last packet, 14 bytes",
                                     "1 bridge acknowledgement",
                                     "1 received, chip was idle",
                                     "1 idle",
                                 }));
    }
};

QTEST_GUILESS_MAIN(TestCaptureRun)
#include "tst_capture_run.moc"
