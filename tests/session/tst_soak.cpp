// A soak: continuous play against the chip emulator on a pseudo-terminal, ten
// thousand synthesis-and-idle cycles at a high time scale. The engineer's
// habit of clearing the log now and then is followed, so what stays resident
// besides the log's own text must not grow.
#include "chip_model.h"
#include "common/load_helpers.h"
#include "serial_line.h"
#include "session_helpers.h"

#include <QElapsedTimer>
#include <QTest>

using namespace qav;
using namespace qav::test;

namespace {

// Instrumented builds run several times slower and keep freed memory in
// quarantine: fewer cycles, and no bound on the resident size.
constexpr int kCycles = kSanitized ? 3'000 : 10'000;
constexpr int kWarmUpCycles = 200;
constexpr int kClearEvery = 500; // cycles between two clicks on the clear button
constexpr double kMaxGrowthMB = 5;

// What the log itself holds: its text.
double logMB(SessionFixture& s) {
    return double(s.log().size()) * 2 / (1024 * 1024);
}

} // namespace

class SoakTest : public QObject {
    Q_OBJECT
private slots:
    void continuousPlayCycles() {
        SessionFixture console;
        sim::ChipModel chip;
        chip.setTimeScale(10'000);
        sim::SerialLine line(&chip);
        QString error;
        QVERIFY2(line.open(console.dir(), 1, &error), qPrintable(error));
        session::ConsoleSession& f = console.session();
        QVERIFY(f.selectPort(QStringLiteral("COM1")));
        // 921600 baud: the shortest pause before a reply is read, and each
        // cycle's frame of 144 bytes takes its 2 ms on the line (at 115200
        // baud it would be 13 ms, and the line the pace of the whole soak).
        QVERIFY(f.setLineSettings(QStringLiteral("921600,N,8,1")));
        int framesSent = 0;
        QObject::connect(&f, &session::ConsoleSession::frameSent, &chip, [&] { ++framesSent; });

        int cycles = 0;
        double startMB = 0;
        double startLogMB = 0;
        QObject::connect(&chip, &sim::ChipModel::utteranceStarted, &chip, [&] {
            ++cycles;
            if (cycles % kClearEvery == 0)
                f.clearWorkLog();
            if (cycles == kWarmUpCycles) {
                startMB = residentMB();
                startLogMB = logMB(console);
            }
        });

        console.text().setText(QStringLiteral("欢迎光临，welcome. ") + QString(60, u'测'));
        QElapsedTimer took;
        took.start();
        QVERIFY(f.startContinuousPlay(100000));
        QVERIFY(runUntil([&] { return cycles >= kCycles; }, 240'000));
        const double seconds = took.elapsed() / 1000.0;
        f.stop();
        // Play ends: the frames handed over reach the chip, the stop last
        // (a round still waiting for the line was taken back), the chip falls
        // silent, and no further frame follows.
        const int framesOut = framesSent - int(console.log().count(kDroppedLine));
        QVERIFY(runUntil([&] { return chip.frameCount() == framesOut; }, 5000));
        QCOMPARE(chip.state(), sim::ChipModel::State::Idle);
        runFor(200); // checks that nothing follows
        QCOMPARE(chip.frameCount(), framesOut);
        QCOMPARE(framesSent, framesOut + int(console.log().count(kDroppedLine)));
        const double endMB = residentMB();
        const double endLogMB = logMB(console);
        const double growth = (endMB - endLogMB) - (startMB - startLogMB);
        qInfo("%d cycles in %.1f s (%.2f ms a cycle); resident %.1f MB after %d cycles, "
              "%.1f MB at the end; the log holds %.2f MB then and %.2f MB now; "
              "growth beside the log %.2f MB",
              cycles, seconds, seconds * 1000 / cycles, startMB, kWarmUpCycles, endMB, startLogMB,
              endLogMB, growth);
        QVERIFY(cycles >= kCycles);
        if (!kSanitized)
            QVERIFY2(growth < kMaxGrowthMB, qPrintable(QStringLiteral("%1 MB").arg(growth)));
    }
};

QTEST_GUILESS_MAIN(SoakTest)
#include "tst_soak.moc"
