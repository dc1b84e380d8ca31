// The --on-hang command on its own: what reaches its environment, what it
// prints and how it fails, and that nothing waits for it.
#include "runner/event_command.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#ifndef Q_OS_WIN
#include <QFile>
#include <sys/types.h>
#endif

using namespace qav::runner;

namespace {

// What the runner writes to standard error, kept in a file.
class StandardError {
public:
    StandardError() : file_(std::tmpfile()), terminal_(file_, false, false) {}
    ~StandardError() { std::fclose(file_); }
    Terminal& terminal() { return terminal_; }
    QString text() const {
        std::fflush(file_);
        std::rewind(file_);
        QByteArray bytes;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;)
            bytes.append(buffer, qsizetype(n));
        return QString::fromLocal8Bit(bytes);
    }

private:
    std::FILE* file_;
    Terminal terminal_;
};

#ifdef Q_OS_WIN
const QString kShowEvent = QStringLiteral("echo %QAV7120_EVENT%: %QAV7120_LINE%");
// cmd prints in the system's ANSI code page, which is GBK only on a Chinese
// Windows; Wine's here is not, so the line stays ASCII.
const QString kLine = QStringLiteral("no reply for 66 s");
const QString kFail = QStringLiteral("echo no mail server& exit 3");
#else
const QString kShowEvent = QStringLiteral("echo \"$QAV7120_EVENT: $QAV7120_LINE\"");
const QString kFail = QStringLiteral("echo no mail server; exit 3");
const QString kLine = QStringLiteral("芯片死机：无回传 66 秒");

// Neither gone nor a zombie waiting to be reaped.
bool running(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray fields = stat.readAll();
    const qsizetype state = fields.lastIndexOf(')') + 2;
    return state < fields.size() && fields.at(state) != 'Z' && fields.at(state) != 'X';
}
#endif

} // namespace

class TestEventCommand : public QObject {
    Q_OBJECT
private slots:
    void variablesReachTheCommandAndItsWordsTheRun() {
        StandardError err;
        EventCommand command(kShowEvent, 30'000, err.terminal());
        QSignalSpy idle(&command, &EventCommand::idle);
        command.run({{QStringLiteral("QAV7120_EVENT"), QStringLiteral("hang")},
                     {QStringLiteral("QAV7120_LINE"), kLine}});
        QCOMPARE(command.running(), 1);
        QVERIFY(idle.wait(10'000));
        QCOMPARE(command.running(), 0);
        QCOMPARE(err.text(), QStringLiteral("qav7120-run: on-hang: hang: %1\n").arg(kLine));
    }

    void aFailureIsSaidAndTheNextEventStillRuns() {
        StandardError err;
        EventCommand command(kFail, 30'000, err.terminal());
        QSignalSpy idle(&command, &EventCommand::idle);
        command.run({{QStringLiteral("QAV7120_EVENT"), QStringLiteral("hang")}});
        command.run({{QStringLiteral("QAV7120_EVENT"), QStringLiteral("recovered")}});
        QCOMPARE(command.running(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(command.running(), 0, 10'000);
        QCOMPARE(idle.size(), 1);
        const QString text = err.text();
        QCOMPARE(text.count(QStringLiteral("qav7120-run: on-hang: no mail server\n")), 2);
        QVERIFY(text.contains(
            QStringLiteral("qav7120-run: on-hang: the command for hang ended with exit code 3\n")));
        QVERIFY(text.contains(QStringLiteral(
            "qav7120-run: on-hang: the command for recovered ended with exit code 3\n")));
    }

    // The command and what it started are killed at the limit; until then
    // the event loop, and with it the run, goes on.
    void aCommandThatNeverEndsIsKilledWithWhatItStarted() {
#ifdef Q_OS_WIN
        QSKIP("cmd has no sleep of its own, and Wine's cmd cannot be made to wait for a child "
              "to kill; the group kill is Linux's");
#else
        QTemporaryDir dir;
        const QString pidFile = dir.filePath(QStringLiteral("pid"));
        StandardError err;
        EventCommand command(QStringLiteral("sleep 600 & echo $! > '%1'; wait").arg(pidFile), 500,
                             err.terminal());
        QSignalSpy idle(&command, &EventCommand::idle);
        QElapsedTimer clock;
        clock.start();
        command.run({{QStringLiteral("QAV7120_EVENT"), QStringLiteral("hang")}});
        QVERIFY(clock.elapsed() < 200);
        // A timer of the run's still fires while the command sleeps.
        QElapsedTimer ticked;
        QTimer::singleShot(100, [&] { ticked.start(); });
        QTRY_VERIFY(ticked.isValid());
        QVERIFY(command.running() == 1);

        QVERIFY(idle.wait(10'000));
        QVERIFY2(clock.elapsed() >= 500, qPrintable(err.text()));
        QVERIFY(err.text().contains(QStringLiteral(
            "qav7120-run: on-hang: the command for hang was still running after 0.5 s and is "
            "killed\n")));
        QFile pid(pidFile);
        QVERIFY(pid.open(QIODevice::ReadOnly));
        const pid_t sleeper = pid_t(pid.readAll().trimmed().toInt());
        QVERIFY(sleeper > 0);
        // The sleep the shell started went with it.
        QTRY_VERIFY(!running(sleeper));
#endif
    }
};

QTEST_GUILESS_MAIN(TestEventCommand)
#include "tst_event_command.moc"
