#pragma once
// Message boxes as the engineer sees them: a window-modal box with an OK
// button. The box is opened, never executed, so the caller returns at once
// and the window keeps serving events while the box is up.

#include "session/message_sink.h"

#include <QPointer>

class QWidget;

namespace qav::app {

class MessageBoxSink : public session::MessageSink {
public:
    explicit MessageBoxSink(QWidget* parent) : parent_(parent) {}
    void show(const QString& text, std::function<void()> afterOk) override;

private:
    QPointer<QWidget> parent_;
};

} // namespace qav::app
