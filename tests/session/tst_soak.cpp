// A soak: continuous play against the chip emulator on a pseudo-terminal, ten
// thousand synthesis-and-idle cycles at a high time scale. The engineer's
// habit of clearing the log now and then is followed, so what stays resident
// besides the log's own text must not grow.
#include "chip_model.h"
#include "common/load_helpers.h"
#include "link/serial_port_service.h"
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
        QVERIFY(f.selectPort(0));
        // 115200 baud: the shortest pause before a reply is read.
        QVERIFY(f.serialPort().setSettings(QStringLiteral("115200,N,8,1")));

        int cycles = 0;
        double startMB = 0;
        double startLogMB = 0;
        QObject::connect(&chip, &sim::ChipModel::utteranceStarted, &chip, [&] {
            ++cycles;
            if (cycles % kClearEvery == 0)
                f.workLog().clear();
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
        // Play ends: the chip falls silent and no further frame follows.
        runFor(200);
        const int framesAfterStop = chip.frameCount();
        runFor(200);
        QCOMPARE(chip.frameCount(), framesAfterStop);
        QCOMPARE(chip.state(), sim::ChipModel::State::Idle);
        const double endMB = residentMB();
        const double endLogMB = logMB(console);
        const double growth = (endMB - endLogMB) - (startMB - startLogMB);
        qInfo("%d cycles in %.1f s (%.2f ms a cycle); resident %.1f MB after %d cycles, "
              "%.1f MB at the end; the log holds %.2f MB then and %.2f MB now; "
              "growth beside the log %.2f MB",
              cycles, seconds, seconds * 1000 / cycles, startMB, kWarmUpCycles, endMB, startLogMB,
              endLogMB, growth);
        QVERIFY(cycles >= kCycles);
        QVERIFY(!f.state().continueSynthesis);
        if (!kSanitized)
            QVERIFY2(growth < kMaxGrowthMB, qPrintable(QStringLiteral("%1 MB").arg(growth)));
    }
};

QTEST_GUILESS_MAIN(SoakTest)
#include "tst_soak.moc"
