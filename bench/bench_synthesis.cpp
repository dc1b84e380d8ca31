// A whole synthesis request in the window, from the click to the bytes handed
// to the serial port (measure, convert, log, dispatch), and the time from a
// reply byte arriving at the port to its work-log line.
#include "../tests/app/tst_synthesis_fixture.h"
#include "app/form1.h"
#include "app/message_sink.h"
#include "link/serial_port_service.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace qav;

namespace {

struct Console : synthesis_test::Com1Console {
    // Lets the port write out what it was handed and throws it away.
    void drain() {
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents();
            if (readAvailable().isEmpty() && i > 2)
                break;
        }
    }
};

Console* console = nullptr;

double cpuMicros() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

// A text whose first chunk fills a 4096-byte frame: 2045 hanzi and one ASCII
// character (4091 bytes in GBK and BIG5), followed by more text.
QString fullChunkText() {
    QString s;
    for (int i = 0; i < 2045; ++i)
        s += QChar(char16_t(0x4E00 + (i * 37) % 0x5000));
    return s + "a" + QString(100, u'b');
}

void BM_SynthesisRequest(benchmark::State& state) {
    app::Form1& f = console->form();
    f.sendText().setText(fullChunkText());
    f.Combo5->setCurrentIndex(int(state.range(0)));
    f.Combo5_Click();
    int runs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        f.sendText().setSelStart(0);
        if (++runs % 50 == 0)
            f.Command2_Click();
        console->drain();
        state.ResumeTiming();
        f.Command6_Click();
    }
    if (f.state().frameByteCount != 4096)
        state.SkipWithError("the frame is not 4096 bytes");
    console->drain();
}
BENCHMARK(BM_SynthesisRequest)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

// Milliseconds from writing a reply byte to the port to its log line.
std::vector<double> replyLatencies(int count) {
    app::Form1& f = console->form();
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        f.Command2_Click();
        QElapsedTimer t;
        t.start();
        console->write("A");
        while (f.workLog().text().isEmpty() && t.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Console c;
    console = &c;
    if (!c.form().serialPort().portOpen()) {
        std::fprintf(stderr, "COM1 did not open\n");
        return 1;
    }

    // One request by hand, as a plain figure next to the benchmark's.
    c.form().sendText().setText(fullChunkText());
    std::vector<double> cpu;
    for (int i = 0; i < 200; ++i) {
        c.form().sendText().setSelStart(0);
        if (i % 50 == 0)
            c.form().Command2_Click();
        c.drain();
        const double start = cpuMicros();
        c.form().Command6_Click();
        cpu.push_back(cpuMicros() - start);
    }
    std::sort(cpu.begin(), cpu.end());
    std::printf(
        "synthesis request, %d-byte frame, GBK: CPU median %.0f us, 90th percentile %.0f us\n",
        c.form().state().frameByteCount, cpu[cpu.size() / 2], cpu[cpu.size() * 9 / 10]);

    const auto ms = replyLatencies(100);
    std::printf("reply byte to log line: median %.2f ms, 90th percentile %.2f ms, max %.2f ms\n",
                ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back());

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
