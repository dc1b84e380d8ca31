// Converting a full chunk of double-byte text to BIG5 and to UTF-16 with the
// table read once per conversion, against the same conversion done with one
// positioned 4-byte read of the table file per character.
#include "synthesis/text_frame.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringDecoder>
#include <benchmark/benchmark.h>
#include <cstdio>

using namespace qav::synthesis;
using qav::protocol::Encoding;

namespace {

constexpr int kChars = 2045; // the most double-byte characters a serial chunk holds

QString folder() {
    return QCoreApplication::applicationDirPath();
}

// 2045 different GB2312 hanzi, from B0 A1 on.
QString chunkText() {
    QByteArray gbk;
    for (int lead = 0xB0; gbk.size() < 2 * kChars; ++lead)
        for (int trail = 0xA1; trail <= 0xFE && gbk.size() < 2 * kChars; ++trail)
            gbk.append(char(lead)).append(char(trail));
    return QStringDecoder("GBK").decode(gbk);
}

QByteArray convertOurs(const QString& text, Encoding encoding) {
    const auto table = ConversionTable::load(folder());
    QByteArray out(2 * text.size(), Qt::Uninitialized);
    out.truncate(convertText(text, encoding, &*table, out.data(), 4091));
    return out;
}

// One seek and one 4-byte read per character.
QByteArray convertPositioned(const QString& text, Encoding encoding) {
    QFile file(ConversionTable::pathIn(folder()));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    QByteArray out;
    out.reserve(2 * text.size());
    char r[4];
    for (qsizetype pos = 0; pos < text.size();) {
        const GbkChar c = gbkCharAt(text, pos);
        pos += c.units;
        file.seek(qint64(ConversionTable::recordIndex(c.code.lead, c.code.trail)) * 4);
        file.read(r, 4);
        if (encoding == Encoding::Big5)
            out.append(r[1]).append(r[0]);
        else
            out.append(r[2]).append(r[3]);
    }
    return out;
}

void BM_Ours(benchmark::State& state) {
    const QString text = chunkText();
    const auto encoding = Encoding(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(convertOurs(text, encoding));
}
void BM_PositionedRead(benchmark::State& state) {
    const QString text = chunkText();
    const auto encoding = Encoding(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(convertPositioned(text, encoding));
}
BENCHMARK(BM_Ours)
    ->Arg(int(Encoding::Big5))
    ->Arg(int(Encoding::Utf16Le))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PositionedRead)
    ->Arg(int(Encoding::Big5))
    ->Arg(int(Encoding::Utf16Le))
    ->Unit(benchmark::kMicrosecond);

double microsPerRun(QByteArray (*f)(const QString&, Encoding), const QString& text, Encoding e) {
    const int runs = 200;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < runs; ++i)
        benchmark::DoNotOptimize(f(text, e));
    return t.nsecsElapsed() / 1000.0 / runs;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!ConversionTable::load(folder())) {
        std::fprintf(stderr, "no conversion table in %s\n", qPrintable(folder()));
        return 1;
    }
    const QString text = chunkText();
    for (Encoding e : {Encoding::Big5, Encoding::Utf16Le}) {
        if (convertOurs(text, e) != convertPositioned(text, e)) {
            std::fprintf(stderr, "the two methods disagree\n");
            return 1;
        }
        const double ours = microsPerRun(convertOurs, text, e);
        const double positioned = microsPerRun(convertPositioned, text, e);
        std::printf("%s: table read once %.1f us, positioned reads %.1f us, ratio %.1fx\n",
                    e == Encoding::Big5 ? "BIG5" : "UTF-16", ours, positioned, positioned / ours);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
