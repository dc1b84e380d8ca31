#pragma once
// The report page of one or more captures, as both faces make it:
// qav7120-report from its command line, qav7120-run at the end of a run.

#include <QString>
#include <QStringList>

namespace qav::report {

struct ReportOutcome {
    enum class Fault { None, Capture, Page };
    Fault fault = Fault::None;
    QString message;     // what went wrong
    QStringList notices; // captures read only in part
};

// Reads each capture in turn and writes the page to pagePath, whole or not
// at all. program names the maker on the page ("qav7120-report 1.3").
ReportOutcome writeReport(const QStringList& capturePaths, const QString& pagePath,
                          const QString& program);

// Columns per chart: a few screens' worth of pixel columns, fewer per
// capture when there are many, so that the page stays a few megabytes.
int chartColumns(qsizetype captures);

} // namespace qav::report
