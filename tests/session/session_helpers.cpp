#include "session_helpers.h"

#include "chip_model.h"
#include "emulated_bridge.h"

#include <QDir>
#include <QFile>
#include <algorithm>

namespace qav::test {

void MemorySendText::setText(const QString& text) {
    QString s = text;
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    s.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    text_ = s;
    start_ = length_ = 0;
}

// An offset between CR and LF counts as the offset before the CR.
qsizetype MemorySendText::outsidePair(qsizetype offset) const {
    offset = std::clamp<qsizetype>(offset, 0, text_.size());
    if (offset > 0 && offset < text_.size() && text_[offset - 1] == u'\r' && text_[offset] == u'\n')
        --offset;
    return offset;
}

void MemorySendText::setSelStart(qsizetype start) {
    start_ = outsidePair(start);
    length_ = 0;
}

void MemorySendText::setSelLength(qsizetype length) {
    length_ = outsidePair(start_ + std::max<qsizetype>(length, 0)) - start_;
}

SessionFixture::SessionFixture(std::unique_ptr<link::HidBridge> bridge)
    : previousDir_(QDir::currentPath()) {
    QDir::setCurrent(dir_.path());
    emulator_ = qobject_cast<sim::EmulatedBridge*>(bridge.get());
    session_ = std::make_unique<session::ConsoleSession>(sink_, std::move(bridge));
    session_->setSystemPortsUsed(false); // only ./COMn, whatever the machine has
    session_->setSendText(&text_);
    QObject::connect(session_.get(), &session::ConsoleSession::focusSendText,
                     [this] { ++text_.focusRequests; });
    session_->openWorkFolder(dir_.path());
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
    session_->chooseUsbLink();
    sink_.messages.clear();
}

} // namespace qav::test
