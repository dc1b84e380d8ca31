#include "session_helpers.h"

#include "chip_model.h"
#include "emulated_bridge.h"

#include <QDir>
#include <QFile>

namespace qav::test {

SessionFixture::SessionFixture(std::unique_ptr<link::HidBridge> bridge, const Options& options)
    : previousDir_(QDir::currentPath()), options_(options), bridge_(std::move(bridge)) {
    QDir::setCurrent(dir_.path());
    emulator_ = qobject_cast<sim::EmulatedBridge*>(bridge_.get());
}

void SessionFixture::setOptions(const Options& options) {
    Q_ASSERT(!session_); // before the session is first used
    options_ = options;
}

session::ConsoleSession& SessionFixture::session() {
    if (!session_) {
        Options options = options_;
        options.systemPorts = false; // only ./COMn, whatever the machine has
        session_ = std::make_unique<session::ConsoleSession>(sink_, std::move(bridge_), options);
        QObject::connect(session_.get(), &session::ConsoleSession::focusSendText,
                         [this] { ++focusRequests_; });
        session_->openWorkFolder(dir_.path());
    }
    return *session_;
}

SessionFixture::~SessionFixture() {
    session_.reset();
    QDir::setCurrent(previousDir_);
}

std::unique_ptr<link::HidBridge> SessionFixture::emulatedBridge() {
    auto bridge = std::make_unique<sim::EmulatedBridge>();
    bridge->chip().setTimeScale(1000);
    return bridge;
}

QString SessionFixture::path(const QString& name) const {
    return QDir(dir()).filePath(name);
}

void SessionFixture::writeFile(const QString& name, const QByteArray& bytes) const {
    QFile f(path(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray SessionFixture::readFile(const QString& name) const {
    QFile f(path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void SessionFixture::useUsbLink() {
    session().useUsbLink(true);
    sink_.messages.clear();
}

} // namespace qav::test
