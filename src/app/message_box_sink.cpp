#include "app/message_box_sink.h"

#include <QMessageBox>

namespace qav::app {

void MessageBoxSink::show(const QString& text, std::function<void()> afterOk) {
    QWidget* parent = parent_.data();
    const QString title = parent ? parent->windowTitle() : QString();
    auto* box = new QMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    if (afterOk)
        QObject::connect(box, &QMessageBox::finished, box, [afterOk](int) { afterOk(); });
    box->open();
}

} // namespace qav::app
