#pragma once
// The one seam through which the console raises message boxes. The program
// shows a message box with an OK button; tests install a recorder instead.

#include <QString>
#include <QStringList>

namespace qav::app {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void show(const QString& text) = 0;
};

// Keeps every message instead of showing it; for tests and headless runs.
class RecordingMessageSink : public MessageSink {
public:
    void show(const QString& text) override { messages.append(text); }
    QStringList messages;
};

} // namespace qav::app
