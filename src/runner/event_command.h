#pragma once
// The command of --on-hang, run at each hang verdict and recovery with what
// it concerns in its environment (QAV7120_EVENT, QAV7120_LINE, ...).
//
// The run never waits for it: the command starts and the run goes on. What
// it prints goes to standard error behind "on-hang: ", a failure is said
// there, and a command still running after its time limit is killed, with
// whatever it started. Several may run at once, one per event.

#include "runner/terminal.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <memory>
#include <vector>

class QProcess;
class QTimer;

namespace qav::runner {

class EventCommand : public QObject {
    Q_OBJECT
public:
    using Variables = QList<QPair<QString, QString>>;

    EventCommand(QString command, int timeoutMs, Terminal& terminal, QObject* parent = nullptr);
    ~EventCommand() override; // what still runs is killed

    // Starts the command with these variables added to its environment.
    void run(const Variables& variables);
    qsizetype running() const { return static_cast<qsizetype>(runs_.size()); }
    int timeoutMs() const { return timeoutMs_; }

signals:
    // No command runs any more.
    void idle();

private:
    struct Run;
    void end(Run* run, const QString& problem);
    void say(const QString& text);

    QString command_;
    int timeoutMs_;
    Terminal& terminal_;
    std::vector<std::unique_ptr<Run>> runs_;
};

} // namespace qav::runner
