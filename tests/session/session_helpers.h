#pragma once
// Test helper: a console session without a window, in a fresh working folder.
//
//   SessionFixture s;                          // temp folder is now the current dir
//   PtyPort com1;  com1.linkAs(s.dir(), 1);    // a serial device, if the test wants one
//   s.session().selectPort(u"COM1"_qs);         // as start-up opens it
//   s.text().setText(u"欢迎"_qs);             // the send text area
//   s.session().synthesize();
//   QCOMPARE(s.log(), ...);                     // the work log's text
//   QCOMPARE(s.messages(), QStringList{...});   // message boxes, recorded
//
// The session's working folder is the fixture's temporary folder, opened as
// start-up opens it (journal, crash-test result file).
// SessionFixture(SessionFixture::emulatedBridge()) puts the bridge emulator
// behind the USB link. The serial port looks for COMn in the folder only,
// never at the machine's own ports. The previous current directory comes
// back when the fixture goes.

#include "common/log_helpers.h"
#include "session/console_session.h"
#include "session/message_sink.h"
#include "session/text_buffer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace qav::sim {
class EmulatedBridge;
}

namespace qav::test {

// Message boxes and log lines the session tests look for.
inline const QString kPortMessage =
    QStringLiteral("串口不存在或被占用,若电脑没有串口，请使用USB转串口设备");
inline const QString kTableMessage = QStringLiteral(
    "您目前选择的编码是Big5或Unicode（见界面右下角的编码选择）！ "
    "找不到GBKToBig5AndUnicode.dat文件！ 无法解析文件编码！ 请选择GBK编码，再合成！");
// A frame that a stop took back before it went out.
inline const QString kDroppedLine = QStringLiteral("操作失败：已停止，本帧未发出\r\n");

class SessionFixture {
public:
    using Options = session::ConsoleSession::Options;
    explicit SessionFixture(std::unique_ptr<link::HidBridge> bridge = {},
                            const Options& options = {});
    ~SessionFixture();
    SessionFixture(const SessionFixture&) = delete;
    SessionFixture& operator=(const SessionFixture&) = delete;

    // The bridge emulator, its chip 1000 times faster than real time.
    static std::unique_ptr<link::HidBridge> emulatedBridge();

    QString dir() const { return dir_.path(); }
    QString path(const QString& name) const;
    void writeFile(const QString& name, const QByteArray& bytes) const;
    QByteArray readFile(const QString& name) const;

    // Made at its first use, in the folder, with the options set by then.
    session::ConsoleSession& session();
    QString log() { return allText(session().workLog()); }
    // The frames of the work log, in order.
    QList<QByteArray> frames() { return loggedFrames(log()); }
    // The session's options, before it is first used. Only COMn entries of
    // the folder are ever ports.
    void setOptions(const Options& options);
    session::TextBuffer& text() { return session().sendText(); }
    // How often the session asked for the text box's focus.
    int focusRequests() const { return focusRequests_; }
    void resetFocusRequests() { focusRequests_ = 0; }
    session::RecordingMessageSink& sink() { return sink_; }
    QStringList& messages() { return sink_.messages; }
    // The bridge, when it is the emulator.
    sim::EmulatedBridge* emulator() const { return emulator_; }

    // The USB link, with its chunk-limit notice taken off the messages.
    void useUsbLink();

private:
    QTemporaryDir dir_;
    QString previousDir_;
    session::RecordingMessageSink sink_;
    Options options_;
    std::unique_ptr<link::HidBridge> bridge_; // until the session takes it
    int focusRequests_ = 0;
    sim::EmulatedBridge* emulator_ = nullptr;
    std::unique_ptr<session::ConsoleSession> session_;
};

} // namespace qav::test
