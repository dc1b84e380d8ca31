#pragma once
// The report page: one HTML file that holds everything it shows, the
// charting library (dygraphs) included, so that it opens offline in any
// browser and fetches nothing.
//
//   summary table      one row per capture: test, port, baud, start, duration,
//                      steps, hangs, mean time between hangs, frame→0x41 and
//                      frame→idle median, 99th percentile and max
//   per capture        reply times against wall-clock time (zoomable), with
//                      each hang shaded from the chip's last byte to its
//                      verdict and on to its recovery, and lines where a link
//                      was lost or came back, "停止" and "清空"; a histogram
//                      of frame→idle; the hangs with their last frames; notes
//                      on a capture that was cut off
//
// Times are shown in the local time of the machine that makes the page.

#include "report/column_reduction.h"
#include "report/run_analysis.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

namespace qav::report {

// A capture as the page shows it; the frames themselves are no longer needed.
struct CapturePage {
    CaptureRun run;
    ReducedChart chart;
    Histogram histogram;
};

// Reduces a capture's frames for the page, and lets them go.
CapturePage pageOf(CaptureRun run, int chartColumns);

// The summary row of a capture: each cell's class and text, in column order.
// A value the capture does not hold is "—".
QList<QPair<QString, QString>> summaryCells(const CaptureRun& run);

// What a hang's report says: its verdict, its recovery, and the last frames
// before it, as the JUnit report words it.
QString hangText(const Hang& hang);

struct PageMaker {
    QString program; // "qav7120-report 1.3"
    QDateTime madeAt;
};
QByteArray reportPage(const QList<CapturePage>& captures, const PageMaker& maker);

} // namespace qav::report
