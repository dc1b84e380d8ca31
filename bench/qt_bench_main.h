#pragma once
// The benchmarks drive real widgets, timers and ports, so they run inside a
// QApplication (offscreen unless a platform is chosen).

#include <QApplication>
#include <benchmark/benchmark.h>

inline void runBenchmarksInApplication(int& argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
