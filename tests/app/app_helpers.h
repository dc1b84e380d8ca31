#pragma once
// Test helper: a console window in a fresh working folder.
//
//   ConsoleFixture c;                         // temp folder is now the current dir
//   c.writeFile("初始默认文本.txt", gbkBytes); // data files before start-up
//   Form1& f = c.load();                      // builds Form1, runs Form_Load
//   QCOMPARE(c.messages(), QStringList{...}); // message boxes, recorded
//
// The previous current directory comes back when the fixture goes. Link a
// pseudo-terminal as COM1 (common/link_helpers.h) before load() to start with an
// open port.

#include "app/form1.h"
#include "common/log_helpers.h"
#include "logview/work_log_view.h"
#include "session/message_sink.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace qav::test {

class ConsoleFixture {
public:
    ConsoleFixture();
    ~ConsoleFixture();
    ConsoleFixture(const ConsoleFixture&) = delete;
    ConsoleFixture& operator=(const ConsoleFixture&) = delete;

    QString dir() const { return dir_.path(); }
    QString path(const QString& name) const;
    void writeFile(const QString& name, const QByteArray& bytes) const;
    QByteArray readFile(const QString& name) const;

    // The window, built on first use with a recording message sink. Its serial
    // port looks for COMn in the folder only, never at the machine's own ports.
    app::Form1& form();
    // form(), then Form_Load.
    app::Form1& load();
    // Closes and destroys the window (Form_Unload runs through closeEvent).
    // The recorded messages go with it.
    void close();

    QStringList& messages() { return recorder_->messages; }
    // The session's options, before the window is built.
    session::ConsoleSession::Options& options() { return options_; }

private:
    QTemporaryDir dir_;
    QString previousDir_;
    session::ConsoleSession::Options options_;
    session::RecordingMessageSink* recorder_ = nullptr;
    std::unique_ptr<app::Form1> form_;
};

} // namespace qav::test
