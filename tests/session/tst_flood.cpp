// A flood on the serial line: while continuous play runs against the chip
// model, the far end also pours random bytes into the port as fast as the
// pseudo-terminal takes them. The log may only gain lines the console
// recognises, the session must keep the event loop turning, and afterwards
// "停止" must still go out and be logged.
#include "chip_model.h"
#include "common/link_helpers.h"
#include "common/load_helpers.h"
#include "frame_parser.h"
#include "link/serial_port_service.h"
#include "session_helpers.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <random>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

using namespace qav;
using namespace qav::test;

namespace {

// Instrumented builds run everything several times slower: a fifth of the
// bytes, and a looser bound on the longest stall.
constexpr qint64 kFloodBytes = kSanitized ? 200'000 : 1'000'000;
constexpr double kMaxStallMs = kSanitized ? 150 : 50;
// The bound above is on the loop's own work between two ticks. A wait that
// blocks the thread does no work, so the wall-clock gap is bounded as well,
// more loosely: on a busy machine other processes take the processor too.
constexpr double kMaxWallStallMs = 3 * kMaxStallMs;

// The far end of COM1: a pseudo-terminal whose master the test holds. The
// chip model answers the frames read from it; a second thread can pour bytes
// into it at the same time.
class FloodLine {
public:
    FloodLine() : master_(line_.masterFd()) {}
    ~FloodLine() { stopFlood(); }
    bool linkAs(const QString& dir) { return line_.linkAs(dir, 1); }
    // Bytes sent that the console has not read yet.
    qsizetype unread() const { return line_.unreadByConsole(); }

    // Everything the console has sent so far.
    QByteArray readAvailable() {
        QByteArray got;
        char buffer[8192];
        for (;;) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, n);
        }
        return got;
    }
    // Queues bytes for the console and writes what the line takes now; the
    // rest goes on a later pump(). Never waits: the console reads on this
    // same thread.
    void send(const QByteArray& bytes) {
        pending_ += bytes;
        pump();
    }
    void pump() {
        while (!pending_.isEmpty()) {
            const ssize_t n = ::write(master_, pending_.constData(), size_t(pending_.size()));
            if (n <= 0)
                return;
            pending_.remove(0, n);
        }
    }

    // These bytes, from a thread of their own.
    void startSending(const QByteArray& bytes) {
        thread_ = std::thread([this, bytes] {
            qsizetype done = 0;
            while (done < bytes.size() && !stop_) {
                const ssize_t w =
                    ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
                if (w > 0) {
                    done += w;
                } else {
                    pollfd p{master_, POLLOUT, 0};
                    ::poll(&p, 1, 20);
                }
            }
            finished_ = true;
        });
    }

    // Random bytes on a thread of their own: as fast as the line takes them,
    // or spread evenly over `spreadMs`.
    void startFlood(qint64 total, unsigned seed, int spreadMs = 0) {
        written_ = 0;
        thread_ = std::thread([this, total, seed, spreadMs] {
            std::mt19937 random(seed);
            const auto start = std::chrono::steady_clock::now();
            const qint64 chunkSize = spreadMs > 0 ? 1024 : 4096;
            char chunk[4096];
            while (written_ < total && !stop_) {
                if (spreadMs > 0)
                    std::this_thread::sleep_until(
                        start + std::chrono::microseconds(written_ * spreadMs * 1000 / total));
                const qint64 n = std::min<qint64>(chunkSize, total - written_);
                for (qint64 i = 0; i < n; ++i)
                    chunk[i] = char(random() & 0xFF);
                qint64 done = 0;
                while (done < n && !stop_) {
                    const ssize_t w = ::write(master_, chunk + done, size_t(n - done));
                    if (w > 0) {
                        done += w;
                        written_ += w;
                    } else {
                        pollfd p{master_, POLLOUT, 0};
                        ::poll(&p, 1, 20);
                    }
                }
            }
            finished_ = true;
        });
    }
    bool floodFinished() const { return finished_; }
    qint64 floodWritten() const { return written_; }
    void stopFlood() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

private:
    PtyPort line_;
    const int master_;
    QByteArray pending_;
    std::thread thread_;
    std::atomic<qint64> written_{0};
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
};

struct LogCensus {
    int frames = 0;
    int replies = 0;
    int versionLines = 0;
    qint64 overrunBytes = 0; // as the overrun lines count them
    QString fault;           // empty when every entry is one the console writes
};

// Walks the log entry by entry. A frame entry, one of the fixed reply lines,
// an overrun line, or a version line, whose text runs to the line break that
// precedes the next entry (the version text is whatever the line carried,
// breaks included).
LogCensus takeCensus(const QString& log) {
    static const QString frameHead = QStringLiteral("发出一帧，字节数  ");
    static const QString arrow = QStringLiteral("----> ");
    static const QString replyHead = QStringLiteral("<---- 返回：");
    static const QString overrunHead = QStringLiteral("串口接收溢出，丢失 ");
    static const QString versionHead = replyHead + QStringLiteral("58  软件版本号：");
    static const QStringList fixed = {
        replyHead + QStringLiteral("41  接收成功\r\n"),
        replyHead + QStringLiteral("45  接收失败\r\n"),
        replyHead + QStringLiteral("4A  初始化成功回传\r\n"),
        replyHead + QStringLiteral("4E  芯片正在播音\r\n"),
        replyHead + QStringLiteral("4F  芯片空闲\r\n"),
    };
    // An overrun line may follow a version line directly: it starts an entry
    // too, or its bytes would be counted as part of the version text.
    const auto entryStartsAt = [&](qsizetype p) {
        if (p == log.size())
            return true;
        const QStringView rest = QStringView(log).sliced(p);
        return rest.startsWith(frameHead) || rest.startsWith(replyHead) ||
               rest.startsWith(overrunHead);
    };
    LogCensus census;
    qsizetype p = 0;
    while (p < log.size()) {
        const QStringView rest = QStringView(log).sliced(p);
        if (rest.startsWith(frameHead)) {
            const qsizetype countEnd = log.indexOf(u"\r\n", p);
            const qsizetype hexEnd = countEnd < 0 ? -1 : log.indexOf(u"\r\n", countEnd + 2);
            bool counted = false;
            const int count =
                log.mid(p + frameHead.size(), countEnd - p - frameHead.size()).toInt(&counted);
            const QStringView hex =
                hexEnd < 0 ? QStringView()
                           : QStringView(log).sliced(countEnd + 2, hexEnd - countEnd - 2);
            if (!counted || !hex.startsWith(arrow) || hex.size() != arrow.size() + 3 * count) {
                census.fault = QStringLiteral("bad frame entry at %1").arg(p);
                return census;
            }
            ++census.frames;
            p = hexEnd + 2;
            continue;
        }
        bool matched = false;
        for (const QString& line : fixed) {
            if (rest.startsWith(line)) {
                ++census.replies;
                p += line.size();
                matched = true;
                break;
            }
        }
        if (matched)
            continue;
        static const QRegularExpression overrun(QStringLiteral("^") + overrunHead +
                                                QStringLiteral("(\\d+) 字节\r\n"));
        if (const auto m = overrun.match(rest.left(64).toString()); m.hasMatch()) {
            census.overrunBytes += m.captured(1).toLongLong();
            p += m.capturedLength();
            continue;
        }
        if (rest.startsWith(versionHead)) {
            qsizetype end = log.indexOf(u"\r\n", p + versionHead.size());
            while (end >= 0 && !entryStartsAt(end + 2))
                end = log.indexOf(u"\r\n", end + 2);
            if (end < 0) {
                census.fault = QStringLiteral("unfinished version line at %1").arg(p);
                return census;
            }
            ++census.versionLines;
            p = end + 2;
            continue;
        }
        census.fault = QStringLiteral("unknown entry at %1: %2").arg(p).arg(rest.left(40));
        return census;
    }
    return census;
}

} // namespace

class FloodTest : public QObject {
    Q_OBJECT
private slots:
    // The census reads an overrun line that follows a version line as an
    // entry of its own, and counts its bytes.
    void censusOfAnOverrunAfterAVersionLine() {
        const LogCensus census =
            takeCensus(QStringLiteral("<---- 返回：58  软件版本号：S\x00\r\nx\r\n"
                                      "串口接收溢出，丢失 4096 字节\r\n"
                                      "<---- 返回：4F  芯片空闲\r\n"
                                      "<---- 返回：58  软件版本号：S1\r\n"
                                      "串口接收溢出，丢失 17 字节\r\n"));
        QVERIFY2(census.fault.isEmpty(), qPrintable(census.fault));
        QCOMPARE(census.versionLines, 2);
        QCOMPARE(census.replies, 1);
        QCOMPARE(census.overrunBytes, 4096 + 17);
    }

    void floodDuringContinuousPlay_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("spreadMs");
        QTest::newRow("full speed, 9600 baud") << QStringLiteral("9600,N,8,1") << 9600 << 0;
        QTest::newRow("full speed, 115200 baud") << QStringLiteral("115200,N,8,1") << 115200 << 0;
        // Many more receive events, each with a few hundred bytes.
        QTest::newRow("spread over 4 s, 115200 baud")
            << QStringLiteral("115200,N,8,1") << 115200 << 4000;
    }
    void floodDuringContinuousPlay() {
        QFETCH(QString, settings);
        QFETCH(int, baud);
        QFETCH(int, spreadMs);
        SessionFixture console;
        FloodLine line;
        QVERIFY(line.linkAs(console.dir()));
        session::ConsoleSession& f = console.session();
        QVERIFY(f.selectPort(QStringLiteral("COM1")));
        QVERIFY(f.setLineSettings(settings));
        // Only the port knows how many received bytes it had no room for; the
        // log must account for every one of them.
        const auto* port = f.findChild<const link::SerialPortService*>();
        QVERIFY(port);

        // The chip's end of the line, as in the chip tests: whole frames in,
        // replies out; everything the console sent is kept.
        sim::ChipModel chip;
        chip.setTimeScale(5000);
        sim::FrameParser parser;
        QByteArray sent;
        QObject::connect(&chip, &sim::ChipModel::spontaneousReply, &chip,
                         [&](const QByteArray& bytes) { line.send(bytes); });
        QTimer chipSide;
        chipSide.setInterval(1);
        QObject::connect(&chipSide, &QTimer::timeout, &chip, [&] {
            const QByteArray bytes = line.readAvailable();
            sent += bytes;
            for (const auto& e : parser.feed(bytes))
                if (e.kind == sim::FrameParser::Event::Kind::Frame)
                    line.send(chip.handleFrame(e.bytes));
            line.pump();
        });
        chipSide.start();

        // Continuous play of a selection of a longer text: frames of 4005
        // bytes, each a 12 KB line in the log. The link gives each frame its
        // time on the line, ten bits a byte: 4.2 s at 9600 baud, 0.35 s at
        // 115200.
        constexpr qsizetype kFrameBytes = 4005;
        const int frameMs = int((kFrameBytes * 10 * 1000 + baud - 1) / baud);
        console.text().setText(QString(2200, u'好') + QStringLiteral("and the rest"));
        console.text().setSelStart(0);
        console.text().setSelLength(2000);
        QVERIFY(f.startContinuousPlay(600));
        QVERIFY(runUntil([&] { return chip.frameCount() >= 2; }, frameMs + 5000));

        qint64 reported = 0;
        QObject::connect(port, &link::Link::inputOverrun, &chip,
                         [&](qint64 bytes) { reported += bytes; });
        StallProbe probe;
        probe.start();
        QElapsedTimer took;
        took.start();
        line.startFlood(kFloodBytes, 7120, spreadMs);
        QVERIFY(runUntil([&] { return line.floodFinished(); }, 120'000));
        const double floodMs = took.elapsed();
        // What is still in the line is read and decoded. A burst of dropped
        // bytes is logged with the delivery that ends it; under load the last
        // one may still be on its way.
        QVERIFY(runUntil([&] { return line.unread() == 0; }, 5000));
        QVERIFY(runUntil([&] { return reported == port->droppedBytes(); }, 5000));
        probe.stop();
        chipSide.stop();
        QCOMPARE(line.floodWritten(), kFloodBytes);

        const QString log = console.log();
        const LogCensus census = takeCensus(log);
        qInfo("flood of %lld bytes in %.0f ms; %lld bytes over the receive buffer dropped; "
              "log: %d frames, %d reply lines, %d version lines, %lld characters; "
              "longest stall %.1f ms (%.1f ms of our own processor time), %lld probe ticks",
              kFloodBytes, floodMs, port->droppedBytes(), census.frames, census.replies,
              census.versionLines, qint64(log.size()), probe.maxWallMs, probe.maxCpuMs,
              probe.ticks);
        QVERIFY2(census.fault.isEmpty(), qPrintable(census.fault));
        QVERIFY(census.replies > 0);
        // Every byte lost to the full buffer is accounted for in the log.
        QCOMPARE(census.overrunBytes, port->droppedBytes());
        QVERIFY(probe.maxCpuMs <= kMaxStallMs);
        QVERIFY(probe.maxWallMs <= kMaxWallStallMs);
        // However fast the frames came, the port never held more than one.
        QVERIFY2(f.status().largestSerialBacklog <= kFrameBytes,
                 qPrintable(QString::number(f.status().largestSerialBacklog)));

        // Still usable: the stop goes out right after the frame under way, is
        // logged, and play ends. A round that waited for the line is taken
        // back with its line.
        chipSide.start();
        const qsizetype logBefore = log.size();
        const qsizetype sentBefore = sent.size();
        f.stop();
        const QString afterStop = console.log().mid(logBefore);
        QVERIFY2(afterStop.startsWith(kStopEntry) ||
                     afterStop.startsWith(kDroppedLine + kStopEntry),
                 qPrintable(afterStop.left(200)));
        const QByteArray stop("\xFD\x00\x01\x02", 4);
        QVERIFY(runUntil([&] { return sent.indexOf(stop, sentBefore) >= 0; }, frameMs + 5000));
        const qsizetype stopAt = sent.indexOf(stop, sentBefore);
        QVERIFY(runUntil(
            [&] {
                return console.log().mid(logBefore).contains(
                    QStringLiteral("<---- 返回：41  接收成功\r\n"));
            },
            5000));
        // The chip's idle reply to the stop starts no further round. (The wait
        // checks that nothing happens.)
        runFor(200);
        QCOMPARE(sent.size(), stopAt + 4);
        chipSide.stop();
    }

    void noiseAfterAVersionByte() {
        // A stray 0x53 at the head of a long burst: the version line takes a
        // bounded part of it, without a stall.
        SessionFixture console;
        FloodLine line;
        QVERIFY(line.linkAs(console.dir()));
        QVERIFY(console.session().selectPort(QStringLiteral("COM1")));
        std::mt19937 random(53);
        QByteArray burst("S");
        while (burst.size() < 60'000)
            burst += char(random() & 0xFF);
        StallProbe probe;
        probe.start();
        line.startSending(burst);
        QVERIFY(runUntil([&] { return line.floodFinished(); }, 5000));
        QVERIFY(runUntil([&] { return !console.log().isEmpty(); }, 5000));
        QVERIFY(runUntil([&] { return line.unread() == 0; }, 5000));
        runFor(100); // checks that the rest of the burst adds no long line
        probe.stop();
        const QString log = console.log();
        QVERIFY(log.startsWith(QStringLiteral("<---- 返回：58  软件版本号：S")));
        QVERIFY(log.size() < 400);
        qInfo("longest stall %.1f ms (%.1f ms of our own processor time)", probe.maxWallMs,
              probe.maxCpuMs);
        QVERIFY(probe.maxCpuMs <= kMaxStallMs);
        QVERIFY(probe.maxWallMs <= kMaxWallStallMs);
    }
};

QTEST_GUILESS_MAIN(FloodTest)
#include "tst_flood.moc"
