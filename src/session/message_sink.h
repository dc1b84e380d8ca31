#pragma once
// The one seam through which the console raises message boxes. The program
// shows a window-modal message box with an OK button; tests install a
// recorder instead.

#include <QString>
#include <QStringList>
#include <functional>

namespace qav::session {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows the message; afterOk runs once it has been acknowledged. Never
    // waits: a real box calls back when OK is pressed.
    virtual void show(const QString& text, std::function<void()> afterOk) = 0;
};

// Keeps every message instead of showing it; for tests and headless runs.
// Each is acknowledged at once, unless the recorder is told to keep the boxes
// open, as an engineer who is away from the bench would.
class RecordingMessageSink : public MessageSink {
public:
    void show(const QString& text, std::function<void()> afterOk) override {
        messages.append(text);
        if (!keepOpen) {
            if (afterOk)
                afterOk();
            return;
        }
        open_.append(std::move(afterOk));
    }
    // Presses OK on the oldest box still open.
    void acknowledge() {
        if (open_.isEmpty())
            return;
        const auto afterOk = open_.takeFirst();
        if (afterOk)
            afterOk();
    }
    qsizetype openBoxes() const { return open_.size(); }

    QStringList messages;
    bool keepOpen = false;

private:
    QList<std::function<void()>> open_;
};

} // namespace qav::session
