#include "report/report.h"

#include "report/report_page.h"

#include <QDir>
#include <QSaveFile>

namespace qav::report {

namespace {
constexpr int kColumnsPerChart = 6000;
constexpr int kColumnsPerPage = 60000;
constexpr int kFewestColumns = 1000;
} // namespace

int chartColumns(qsizetype captures) {
    return int(std::clamp<qsizetype>(kColumnsPerPage / std::max<qsizetype>(captures, 1),
                                     kFewestColumns, kColumnsPerChart));
}

ReportOutcome writeReport(const QStringList& capturePaths, const QString& pagePath,
                          const QString& program) {
    ReportOutcome outcome;
    QList<CapturePage> pages;
    for (const QString& path : capturePaths) {
        CaptureRun run;
        if (const auto why = readCapture(path, run)) {
            outcome.fault = ReportOutcome::Fault::Capture;
            outcome.message = QDir::toNativeSeparators(path) + QStringLiteral(": ") + *why;
            return outcome;
        }
        if (run.end == CaptureReader::End::Torn)
            outcome.notices << QStringLiteral("%1: ends in the middle of a block; read up to "
                                              "byte %2 of %3")
                                   .arg(QDir::toNativeSeparators(path))
                                   .arg(run.wholeBytes)
                                   .arg(run.fileBytes);
        else if (run.end == CaptureReader::End::Damaged)
            outcome.notices << QStringLiteral("%1: damaged at byte %2 of %3; read up to there")
                                   .arg(QDir::toNativeSeparators(path))
                                   .arg(run.wholeBytes)
                                   .arg(run.fileBytes);
        pages.append(pageOf(std::move(run), chartColumns(capturePaths.size())));
    }
    const QByteArray page = reportPage(pages, {program, QDateTime::currentDateTime()});
    QSaveFile out(pagePath);
    if (!out.open(QIODevice::WriteOnly) || out.write(page) != page.size() || !out.commit()) {
        outcome.fault = ReportOutcome::Fault::Page;
        outcome.message =
            QDir::toNativeSeparators(pagePath) + QStringLiteral(": ") + out.errorString();
    }
    return outcome;
}

} // namespace qav::report
