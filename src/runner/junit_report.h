#pragma once
// The JUnit report of a run, in the form CI servers read:
//
//   testsuites
//     testsuite name tests failures errors skipped time timestamp hostname
//       properties / property name value
//       testcase name classname time
//         failure message type        (a chip hang: verdict, recovery, last frames)
//         error message type          (the link lost for good)
//
// One test case per unit of the run (a text of a loop of the crash test, a
// round of continuous play, a pass of a sequence). Finished cases go to a
// spool file at once, so memory stays the same however long the run; the
// report itself is written at the end, with its counts in front.

#include <QList>
#include <QPair>
#include <QString>
#include <QTemporaryFile>
#include <QXmlStreamWriter>
#include <memory>
#include <optional>

namespace qav::runner {

class JUnitReport {
public:
    struct Suite {
        QString name;      // "qav7120-run crash-test"
        QString timestamp; // the start, ISO 8601 without zone
        double seconds = 0;
        QList<QPair<QString, QString>> properties;
    };

    // The spool; the reason when it cannot be made. className is that of
    // every case: "qav7120.crash-test".
    std::optional<QString> open(const QString& className);
    // A new case begins (the one before ends) at atMs, on the run's clock.
    void beginCase(const QString& name, qint64 atMs);
    bool hasCase() const { return current_.has_value(); }
    // A hang in the case under way. Its text grows with recovered().
    void addFailure(const QString& verdict, const QString& text);
    // The chip is back after the case's last failure.
    void recovered(const QString& line);
    void addError(const QString& message, const QString& text);

    qint64 cases() const { return cases_ + (current_ ? 1 : 0); }
    qint64 failures() const { return failures_; }
    qint64 errors() const { return errors_; }

    // Ends the case under way at endMs and writes the report to path, once,
    // at the end of the run; the reason when it cannot be written.
    std::optional<QString> write(const QString& path, const Suite& suite, qint64 endMs);

private:
    struct Problem {
        bool failure = true; // else an error
        QString message;
        QString text;
    };
    struct Case {
        QString name;
        qint64 startMs = 0;
        QList<Problem> problems;
    };
    void endCase(qint64 endMs);
    void writeSuiteHead(QXmlStreamWriter& w, const Suite& suite) const;
    std::optional<QString> copySpooledCases(QXmlStreamWriter& w);

    QTemporaryFile spool_;
    QXmlStreamWriter spoolWriter_;
    QString className_;
    std::optional<Case> current_;
    qint64 cases_ = 0; // in the spool
    qint64 failures_ = 0;
    qint64 errors_ = 0;
};

} // namespace qav::runner
