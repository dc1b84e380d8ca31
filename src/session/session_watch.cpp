// The watchdog over every run: when the chip stays silent it is asked, a hang
// is written down with its time (in the log, and in the crash test's result
// file), and the run goes on when the chip is back.
#include "link/frame_dispatcher.h"
#include "link/link.h"
#include "session/console_session.h"
#include "session/watchdog.h"
#include "synthesis/gbk_text.h"
#include "tools/step_player.h"

#include <QDateTime>

namespace qav::session {

namespace {
constexpr const char* kSilentLine = "芯片无回传 %1 秒，查询芯片状态";
constexpr const char* kHangLine = "芯片死机：%1，无回传 %2 秒";
constexpr const char* kRecoveredLine = "芯片已恢复：%1，无回传 %2 秒";
constexpr const char* kTimeFormat = "yyyy-MM-dd HH:mm:ss";

QString now() {
    return QDateTime::currentDateTime().toString(QString::fromLatin1(kTimeFormat));
}
} // namespace

void ConsoleSession::connectWatchdog() {
    watchdog_ = std::make_unique<Watchdog>([this] { return runWaitsForChip(); },
                                           [this] { return activeLink().isOpen(); });
    connect(watchdog_.get(), &Watchdog::silent, this, &ConsoleSession::onSilence);
    connect(watchdog_.get(), &Watchdog::query, this,
            [this] { sendCommand(protocol::Command::QueryStatus); });
    connect(watchdog_.get(), &Watchdog::hung, this, &ConsoleSession::onHang);
    connect(watchdog_.get(), &Watchdog::recovered, this, &ConsoleSession::onRecovered);
}

// A run waits for the chip while a sequence plays, while a face waits for a
// synthesis to be spoken, while continuous play or
// a long text waits for the next reply, and while the crash test waits for
// the idle reply that runs its next step (which only the serial link brings).
bool ConsoleSession::runWaitsForChip() const {
    if (player_->isRunning() || awaitingSpoken_)
        return true;
    if (useUsbLink())
        return run_.continueSynthesis;
    return repliesDecoded_ && (run_.continueSynthesis || run_.crash.running());
}

void ConsoleSession::armWatchdog() {
    if (runWaitsForChip())
        watchdog_->arm();
}

void ConsoleSession::chipSpoke() {
    watchdog_->chipSpoke();
}

void ConsoleSession::onSilence(qint64 seconds) {
    logEvent(QString::fromUtf8(kSilentLine).arg(seconds));
}

void ConsoleSession::onHang(qint64 seconds) {
    QString line = QString::fromUtf8(kHangLine).arg(now()).arg(seconds);
    if (!step_.name.isEmpty())
        line += QStringLiteral("，") + step_.name;
    logEvent(line);
    // Right after the line of the step it hung on.
    if (run_.crash.running())
        writeCrashResult(synthesis::toGbk(line + QStringLiteral("\r\n")));
    emit chipHangRecorded(line);
}

void ConsoleSession::onRecovered(qint64 seconds) {
    const QString line = QString::fromUtf8(kRecoveredLine).arg(now()).arg(seconds);
    logEvent(line);
    if (run_.crash.running())
        writeCrashResult(synthesis::toGbk(line + QStringLiteral("\r\n")));
    emit chipRecoveryRecorded(line);
    // The bytes that brought the chip back are read first; an idle reply
    // among them moves the run on by itself.
    resumeAfterReplies_ = true;
}

// The step after the one that hung: as if the idle reply had come on the
// serial link; a held sequence takes its next step.
void ConsoleSession::resumeRun() {
    if (!useUsbLink())
        onIdleReply();
    player_->readyChanged();
}

} // namespace qav::session
