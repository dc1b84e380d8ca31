#include "runner/frame_timing.h"

namespace qav::runner {

namespace {
QByteArray csvField(const QString& text) {
    QByteArray utf8 = text.toUtf8();
    if (!utf8.contains(',') && !utf8.contains('"') && !utf8.contains('\n') && !utf8.contains('\r'))
        return utf8;
    return '"' + utf8.replace('"', "\"\"") + '"';
}

QByteArray number(const std::optional<qint64>& ms) {
    return ms ? QByteArray::number(*ms) : QByteArray();
}
} // namespace

std::optional<QString> TimingCsv::open(const QString& path) {
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return file_.errorString();
    if (file_.write(header()) < 0 || !file_.flush())
        return file_.errorString();
    return std::nullopt;
}

void TimingCsv::write(const FrameTiming& timing) {
    if (!file_.isOpen() || error_)
        return;
    if (file_.write(row(timing)) < 0 || !file_.flush())
        error_ = file_.errorString();
}

std::optional<QString> TimingCsv::close() {
    if (file_.isOpen()) {
        if (!file_.flush() && !error_)
            error_ = file_.errorString();
        file_.close();
    }
    return error_;
}

QByteArray TimingCsv::header() {
    return "sent,command,length,ms_to_41,ms_to_4F,step\n";
}

QByteArray TimingCsv::row(const FrameTiming& t) {
    const QDateTime at = t.sentAt.toOffsetFromUtc(t.sentAt.offsetFromUtc());
    QByteArray line = at.toString(Qt::ISODateWithMs).toLatin1();
    line += ',';
    if (t.command)
        line += QByteArray::number(*t.command | 0x100, 16).right(2).toUpper();
    line += ',' + QByteArray::number(t.length) + ',' + number(t.msToReceived) + ',' +
            number(t.msToIdle) + ',' + csvField(t.step) + '\n';
    return line;
}

} // namespace qav::runner
