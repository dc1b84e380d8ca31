// A whole synthesis request in the window, from the click to the bytes handed
// to the serial port (measure, convert, log, dispatch), and the time from a
// reply byte arriving at the port to its work-log line.
//
// The serial link hands the port one frame at a time, at the pace of the
// line, so each request is timed with the line free: at 4,000,000 baud (a
// pseudo-terminal takes any speed) a full frame has the line for 11 ms, which
// drain() waits out, untimed.
#include "app/form1.h"
#include "app/text_box.h"
#include "common/link_helpers.h"
#include "common/log_helpers.h"
#include "logview/work_log_view.h"
#include "session/message_sink.h"
#include "synthesis/text_frame.h"
#include "worklog/work_log.h"

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

// A 4096-byte frame's time on the line at 4,000,000 baud, rounded up.
constexpr int kFullFrameLineMs = 11;

// The window in a fresh folder, with a pseudo-terminal linked there as COM1.
struct Console {
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    test::PtyPort pty;
    std::unique_ptr<app::Form1> window;

    Console() {
        QDir::setCurrent(dir.path());
        pty.linkAs(dir.path(), 1);
        window = std::make_unique<app::Form1>(nullptr,
                                              std::make_unique<session::RecordingMessageSink>());
        window->Form_Load();
    }
    ~Console() {
        window.reset();
        QDir::setCurrent(previous);
    }
    app::Form1& form() { return *window; }
    void write(const QByteArray& bytes) { pty.write(bytes); }
    // Lets the port write out what it was handed, throws it away, and waits
    // until the frame's time on the line has passed, so the link is free.
    void drain() {
        QElapsedTimer t;
        t.start();
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            pty.readAvailable();
        } while (
            (window->session().status().serialBacklog > 0 || t.elapsed() <= kFullFrameLineMs) &&
            t.elapsed() < 1000);
        pty.readAvailable();
    }
    // The length of the frame logged last.
    qsizetype lastFrameSize() const {
        const QList<QByteArray> frames = test::loggedFrames(test::allText(window->workLog()));
        return frames.isEmpty() ? 0 : frames.last().size();
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
    if (console->lastFrameSize() < 4095) // 4095 in UTF-16: the last ASCII character does not fit
        state.SkipWithError("the frame does not fill a chunk");
    console->drain();
}
BENCHMARK(BM_SynthesisRequest)
    ->Iterations(200)
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
        while (f.workLog().size() == 0 && t.elapsed() < 1000)
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
    if (!c.form().session().status().portOpen) {
        std::fprintf(stderr, "COM1 did not open\n");
        return 1;
    }
    if (!c.form().session().setLineSettings(QStringLiteral("4000000,N,8,1"))) {
        std::fprintf(stderr, "the line did not take 4000000 baud\n");
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
        int(c.lastFrameSize()), cpu[cpu.size() / 2], cpu[cpu.size() * 9 / 10]);

    // The same request taken apart, to show where the time goes.
    {
        app::Form1& f = c.form();
        app::TextBox& text3 = f.sendText();
        synthesis::TextFrameRequest request;
        request.tableFolder = QCoreApplication::applicationDirPath();
        std::vector<double> stages[4];
        for (int i = 0; i < 100; ++i) {
            if (i % 20 == 0)
                f.Command2_Click();
            c.drain();
            double t[5];
            t[0] = cpuMicros();
            text3.setSelStart(0);
            text3.setSelLength(text3.length());
            const QString selected = text3.selectedText();
            t[1] = cpuMicros();
            const auto built = synthesis::buildTextFrame(selected, request);
            t[2] = cpuMicros();
            text3.setSelLength(built.measure.length);
            t[3] = cpuMicros();
            f.session().sendFrame(built.frame);
            t[4] = cpuMicros();
            for (int k = 0; k < 4; ++k)
                stages[k].push_back(t[k + 1] - t[k]);
        }
        std::printf("medians, us:");
        const char* names[] = {"select", "measure+convert", "cut", "log and hand to the port"};
        for (int k = 0; k < 4; ++k) {
            std::sort(stages[k].begin(), stages[k].end());
            std::printf(" %s %.0f%s", names[k], stages[k][stages[k].size() / 2],
                        k < 3 ? "," : "\n");
        }
    }

    for (const char* settings : {"9600,N,8,1", "115200,N,8,1"}) {
        c.form().session().setLineSettings(QString::fromLatin1(settings));
        const auto ms = replyLatencies(100);
        std::printf("reply byte to log line at %s: median %.2f ms, 90th percentile %.2f ms, "
                    "max %.2f ms\n",
                    settings, ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back());
    }

    c.form().session().setLineSettings(QStringLiteral("4000000,N,8,1"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
