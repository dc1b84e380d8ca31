#pragma once
// Every message box of the console goes through here: one box is open at a
// time, and a message that is showing or already waiting is not repeated.
// Others wait their turn, in order; since the console's messages are a small
// fixed set, so is the queue.
//
// While a test sequence runs unattended, a message it has raised once is not
// raised again for the rest of that run. A message that asks the engineer to
// act holds the sequence while its box is open, and after OK it goes on, so
// the engineer can reach "停止" instead of facing the same box again at every
// step. A notice (a link lost, a disk full: faults that heal by themselves,
// each with its line in the log) does not hold anything.

#include "session/message_sink.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

namespace qav::session {

class MessageGate : public QObject {
    Q_OBJECT
public:
    enum Urgency { NeedsAction, Notice };

    explicit MessageGate(MessageSink& sink, QObject* parent = nullptr);

    // afterOk runs when this message has been acknowledged, also when it
    // joined a box that was already showing or waiting.
    void show(const QString& text, std::function<void()> afterOk = {},
              Urgency urgency = NeedsAction);
    bool isOpen() const { return open_; }
    // A message that asks the engineer to act is showing or waiting.
    bool holdsRun() const;

    // From here to endRun(), a text already shown is not shown again.
    void beginRun();
    void endRun();

signals:
    void opened();
    void closed(); // one box was acknowledged
    void allClosed();

private:
    struct Entry {
        QString text;
        QList<std::function<void()>> afterOk;
        Urgency urgency = NeedsAction;
    };
    void showNext();
    void closeCurrent();

    MessageSink& sink_;
    QList<Entry> entries_; // the first is showing while open_
    bool open_ = false;
    bool inRun_ = false;
    QStringList shownInRun_;
};

} // namespace qav::session
