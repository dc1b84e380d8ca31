// The serial link under a sequence that sends faster than the line carries:
// the console holds at most one frame, "停止" goes out right behind the frame
// under way, and every frame reaches the far end whole.
#include "common/link_helpers.h"
#include "common/load_helpers.h"
#include "session_helpers.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace qav;
using namespace qav::test;
using Sequence = session::ConsoleSession::Sequence;

namespace {

// A far end that reads no faster than a 9600-baud line delivers: 960 bytes
// a second.
class SlowReader {
public:
    explicit SlowReader(PtyPort& pty) : pty_(pty) {
        clock_.start();
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { readDue(); });
        timer_.start();
    }
    const QByteArray& bytes() const { return bytes_; }
    qint64 elapsed() const { return clock_.elapsed(); }

private:
    void readDue() {
        const qint64 due = clock_.elapsed() * kBytesPerSecond / 1000 - bytes_.size();
        if (due <= 0)
            return;
        char buffer[256];
        const ssize_t n = ::read(pty_.masterFd(), buffer, size_t(std::min<qint64>(due, 256)));
        if (n > 0)
            bytes_.append(buffer, n);
    }

    static constexpr qint64 kBytesPerSecond = 960;
    PtyPort& pty_;
    QByteArray bytes_;
    QElapsedTimer clock_;
    QTimer timer_;
};

// The frames in a stream of whole frames: FD, 16-bit length, that many bytes.
QList<QByteArray> framesIn(const QByteArray& stream) {
    QList<QByteArray> frames;
    qsizetype at = 0;
    while (at + 3 <= stream.size() && uchar(stream[at]) == 0xFD) {
        const qsizetype size = 3 + (uchar(stream[at + 1]) << 8 | uchar(stream[at + 2]));
        if (at + size > stream.size())
            break;
        frames << stream.mid(at, size);
        at += size;
    }
    return frames;
}

} // namespace

class TestBackPressure : public QObject {
    Q_OBJECT
private slots:
    void interruptedPlayAtZeroWaitKeepsTheLineCurrent() {
        SessionFixture s;
        PtyPort com1;
        QVERIFY(com1.linkAs(s.dir(), 1));
        QVERIFY(s.session().selectPort(QStringLiteral("COM1"))); // 9600 baud
        SlowReader far(com1);
        // 39-byte frames with no wait between them: as fast as the console
        // can send, about three times what the far end reads.
        s.text().setText(QStringLiteral("打断重播测试，一二三四五六七八九十"));
        s.session().toggleSequence(Sequence::InterruptedPlay, 0, 100);

        const int runMs = kSanitized ? 6000 : 15000;
        qint64 largest = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                largest = std::max(largest, s.session().status().serialBacklog);
                return far.elapsed() >= runMs;
            }(),
            runMs + 5000);
        // Never more than the frame under way waits in the console.
        QVERIFY2(s.session().status().largestSerialBacklog <= 39,
                 qPrintable(QString::number(s.session().status().largestSerialBacklog)));
        QVERIFY(largest <= 39);

        const qint64 pressed = far.elapsed();
        s.session().stop();
        const QByteArray stop = QByteArray::fromHex("FD000102");
        QTRY_VERIFY_WITH_TIMEOUT(far.bytes().endsWith(stop), 10000);
        const qint64 late = far.elapsed() - pressed;
        qInfo("the stop reached the far end %lld ms after it was pressed", late);
        QVERIFY2(late < 1500, qPrintable(QString::number(late)));

        // Every frame logged arrived whole and in order, but those the stop
        // took back.
        const QString log = s.log();
        const qsizetype dropped = log.count(QStringLiteral("操作失败：已停止，本帧未发出"));
        QList<QByteArray> logged = loggedFrames(log);
        QCOMPARE(logged.takeLast(), stop);
        QVERIFY(dropped <= 1);
        logged = logged.mid(0, logged.size() - dropped);
        logged << stop;
        QCOMPARE(framesIn(far.bytes()), logged);
        QCOMPARE(far.bytes(), logged.join()); // and nothing else
    }
};

QTEST_GUILESS_MAIN(TestBackPressure)
#include "tst_backpressure.moc"
