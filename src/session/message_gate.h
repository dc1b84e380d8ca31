#pragma once
// Every message box of the console goes through here: one box is open at a
// time, and a message that is showing or already waiting is not repeated.
// Others wait their turn, in order; since the console's messages are a small
// fixed set, so is the queue.

#include "session/message_sink.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

namespace qav::session {

class MessageGate : public QObject {
    Q_OBJECT
public:
    explicit MessageGate(MessageSink& sink, QObject* parent = nullptr);

    // afterOk runs when this message has been acknowledged, also when it
    // joined a box that was already showing or waiting.
    void show(const QString& text, std::function<void()> afterOk = {});
    bool isOpen() const { return open_; }

signals:
    void opened();
    void allClosed();

private:
    struct Entry {
        QString text;
        QList<std::function<void()>> afterOk;
    };
    void showNext();
    void closeCurrent();

    MessageSink& sink_;
    QList<Entry> entries_; // the first is showing while open_
    bool open_ = false;
};

} // namespace qav::session
