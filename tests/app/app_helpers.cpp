#include "app_helpers.h"

#include <QDir>
#include <QFile>

namespace qav::test {

ConsoleFixture::ConsoleFixture() : previousDir_(QDir::currentPath()) {
    QDir::setCurrent(dir_.path());
}

ConsoleFixture::~ConsoleFixture() {
    form_.reset();
    QDir::setCurrent(previousDir_);
}

QString ConsoleFixture::path(const QString& name) const {
    return QDir(dir()).filePath(name);
}

void ConsoleFixture::writeFile(const QString& name, const QByteArray& bytes) const {
    QFile f(path(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray ConsoleFixture::readFile(const QString& name) const {
    QFile f(path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

app::Form1& ConsoleFixture::form() {
    if (!form_) {
        auto recorder = std::make_unique<session::RecordingMessageSink>();
        recorder_ = recorder.get();
        session::ConsoleSession::Options options = options_;
        options.systemPorts = false; // only ./COMn, whatever the machine has
        form_ = std::make_unique<app::Form1>(nullptr, std::move(recorder), options);
    }
    return *form_;
}

app::Form1& ConsoleFixture::load() {
    form().Form_Load();
    return *form_;
}

void ConsoleFixture::close() {
    if (form_)
        form_->close();
    form_.reset();
}

} // namespace qav::test
