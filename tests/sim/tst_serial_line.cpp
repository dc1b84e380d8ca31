#include "chip_model.h"
#include "serial_line.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using qav::sim::ChipModel;
using qav::sim::SerialLine;

namespace {
QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// The console's end of the line: COMn opened as a raw serial port.
class Client {
public:
    explicit Client(const QString& path) {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios tio{};
            ::tcgetattr(fd_, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~Client() { close(); }
    bool isOpen() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    void write(const QByteArray& bytes) {
        QCOMPARE(::write(fd_, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }
    // What arrived so far, read without blocking.
    const QByteArray& received() {
        char buffer[256];
        ssize_t n;
        while ((n = ::read(fd_, buffer, sizeof buffer)) > 0)
            received_.append(buffer, n);
        return received_;
    }
    void clear() { received_.clear(); }

private:
    int fd_ = -1;
    QByteArray received_;
};
} // namespace

class TestSerialLine : public QObject {
    Q_OBJECT
private slots:
    void synthesisIsAcknowledgedThenReportedIdle() {
        QTemporaryDir dir;
        ChipModel chip;
        chip.setTimeScale(50);
        SerialLine line(&chip);
        QString error;
        QVERIFY2(line.open(dir.path(), 3, &error), qPrintable(error));
        QCOMPARE(line.linkPath(), dir.filePath(QStringLiteral("COM3")));

        Client client(line.linkPath());
        QVERIFY(client.isOpen());
        // Sent in two writes, as the console sends long frames.
        const QByteArray frame = hex("FD000A0101") + QByteArray("hello wo");
        client.write(frame.first(6));
        QTest::qWait(30);
        client.write(frame.sliced(6));
        QTRY_VERIFY(client.received().startsWith(hex("41")));
        QTRY_COMPARE(client.received(), hex("414F"));

        client.clear();
        client.write(hex("00FF") + hex("FD000121") + hex("FD000121"));
        QTRY_COMPARE(client.received(), hex("414F414F"));
    }

    void truncatedFrameTimesOutWithAnError() {
        QTemporaryDir dir;
        ChipModel chip;
        SerialLine line(&chip);
        line.setFrameTimeoutMs(60);
        QVERIFY(line.open(dir.path(), 1));
        Client client(line.linkPath());
        client.write(hex("FD000501"));
        QTest::qWait(20);
        QVERIFY(client.received().isEmpty());
        QTRY_COMPARE(client.received(), hex("45"));
        client.write(hex("FD000000"));
        QTRY_COMPARE(client.received(), hex("4545"));
        client.write(hex("FD000121"));
        QTRY_COMPARE(client.received(), hex("4545414F"));
    }

    void portCanBeClosedAndOpenedAgain() {
        QTemporaryDir dir;
        ChipModel chip;
        chip.setTimeScale(20); // the text lasts about 90 ms
        SerialLine line(&chip);
        QVERIFY(line.open(dir.path(), 1));
        {
            Client first(line.linkPath());
            first.write(hex("FD000B0101") + QByteArray("一二三四五六七八"));
            QTRY_VERIFY(first.received().startsWith(hex("41")));
            QTRY_VERIFY(line.clientConnected());
        }
        // The idle report of that text finds nobody and must not wait for
        // the next opener.
        QTRY_VERIFY(!line.clientConnected());
        QTest::qWait(150);
        Client second(line.linkPath());
        second.write(hex("FD000158"));
        QTRY_VERIFY(second.received().startsWith(hex("4153")));
    }

    void staleLinkIsReplacedAndOwnLinkRemoved() {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("COM1"));
        QVERIFY(QFile::link(QStringLiteral("/dev/pts/nonexistent"), link));
        ChipModel chip;
        {
            SerialLine line(&chip);
            QVERIFY(line.open(dir.path(), 1));
            QCOMPARE(QFileInfo(link).symLinkTarget(), line.slavePath());
        }
        QVERIFY(!QFileInfo(link).isSymLink());

        // A real file by that name is not ours to replace.
        QFile file(link);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        SerialLine line(&chip);
        QString error;
        QVERIFY(!line.open(dir.path(), 1, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QFileInfo(link).isFile());
    }
};

QTEST_GUILESS_MAIN(TestSerialLine)
#include "tst_serial_line.moc"
