#include "runner/event_command.h"

#include "runner/shell_command.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>
#include <algorithm>

namespace qav::runner {

namespace {
constexpr const char* kLead = "on-hang: ";
} // namespace

struct EventCommand::Run : QObject {
    QProcess process{this};
    QTimer limit{this};
    QString event;
    QByteArray pending; // output after its last line break
};

EventCommand::EventCommand(QString command, int timeoutMs, Terminal& terminal, QObject* parent)
    : QObject(parent), command_(std::move(command)), timeoutMs_(timeoutMs), terminal_(terminal) {}

EventCommand::~EventCommand() {
    for (const auto& run : runs_) {
        run->process.disconnect(this);
        killCommand(run->process);
        run->process.waitForFinished(1000);
    }
}

void EventCommand::say(const QString& text) {
    terminal_.message(QString::fromLatin1(kLead) + text);
}

void EventCommand::run(const Variables& variables) {
    auto owned = std::make_unique<Run>();
    Run* run = owned.get();
    runs_.push_back(std::move(owned));
    for (const auto& [name, value] : variables)
        if (name == QLatin1String("QAV7120_EVENT"))
            run->event = value;

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : variables)
        environment.insert(name, value);
    QProcess& process = run->process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    prepareShellCommand(process, command_);

    // What it prints, a line at a time, so that its lines stay whole among
    // the run's own.
    connect(&process, &QProcess::readyRead, this, [this, run] {
        run->pending += run->process.readAll();
        for (qsizetype end = run->pending.indexOf('\n'); end >= 0;
             end = run->pending.indexOf('\n')) {
            say(QString::fromLocal8Bit(run->pending.left(end)).trimmed());
            run->pending.remove(0, end + 1);
        }
    });
    connect(&process, &QProcess::finished, this, [this, run](int code, QProcess::ExitStatus how) {
        if (run->limit.isActive())
            end(run, how == QProcess::CrashExit ? QStringLiteral("the command for %1 crashed")
                     : code != 0 ? QStringLiteral("the command for %1 ended with exit code %2")
                                       .arg(run->event)
                                       .arg(code)
                                 : QString());
        else
            end(run, QString()); // killed: said already
    });
    connect(&process, &QProcess::errorOccurred, this, [this, run](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            end(run, QStringLiteral("the command for %1 could not be started: %2")
                         .arg(run->event, run->process.errorString()));
    });
    run->limit.setSingleShot(true);
    run->limit.setTimerType(Qt::PreciseTimer); // never before its time
    connect(&run->limit, &QTimer::timeout, this, [this, run] {
        say(QStringLiteral("the command for %1 was still running after %2 s and is killed")
                .arg(run->event)
                .arg(double(timeoutMs_) / 1000));
        killCommand(run->process);
    });
    run->limit.start(timeoutMs_);
    process.start();
}

// The run goes once its process has ended; deleted later, as its own
// signal may be what brought us here.
void EventCommand::end(Run* run, const QString& problem) {
    const auto at =
        std::find_if(runs_.begin(), runs_.end(), [run](const auto& r) { return r.get() == run; });
    if (at == runs_.end())
        return;
    run->limit.stop();
    run->pending += run->process.readAll();
    if (!run->pending.trimmed().isEmpty())
        say(QString::fromLocal8Bit(run->pending).trimmed());
    run->pending.clear();
    if (!problem.isEmpty())
        say(problem);
    Run* done = at->release();
    runs_.erase(at);
    done->process.disconnect(this);
    done->limit.disconnect(this);
    done->deleteLater(); // its process may be what signalled
    if (runs_.empty())
        emit idle();
}

} // namespace qav::runner
