#pragma once
// The one seam through which the console raises message boxes. The program
// shows a message box with an OK button; tests install a recorder instead.

#include <QString>
#include <QStringList>
#include <functional>

namespace qav::app {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void show(const QString& text) = 0;
    // Shows the message and runs afterOk once it has been acknowledged. Never
    // waits: a real box calls back when OK is pressed; a recorder at once.
    virtual void showThen(const QString& text, std::function<void()> afterOk) {
        show(text);
        if (afterOk)
            afterOk();
    }
};

// Keeps every message instead of showing it; for tests and headless runs.
class RecordingMessageSink : public MessageSink {
public:
    void show(const QString& text) override { messages.append(text); }
    QStringList messages;
};

} // namespace qav::app
