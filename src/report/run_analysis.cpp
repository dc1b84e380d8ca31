#include "report/run_analysis.h"

#include "protocol/frame.h"
#include "protocol/serial_replies.h"
#include "protocol/usb_replies.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace qav::report {

namespace {
using worklog::PacketKind;

// The console's event texts that the report looks for.
constexpr const char* kHangPrefix = "芯片死机：";
constexpr const char* kRecoveryPrefix = "芯片已恢复：";
constexpr const char* kStopEvent = "停止";
constexpr const char* kClearEvent = "清空";
constexpr const char* kBridgeLostPrefix = "F320读取失败：";
constexpr const char* kBridgeBackEvent = "F320已重新联接";

const QRegularExpression& portLost() {
    static const QRegularExpression re(QStringLiteral("^串口COM\\d+已断开："));
    return re;
}
const QRegularExpression& portBack() {
    static const QRegularExpression re(QStringLiteral("^串口COM\\d+已重新打开$"));
    return re;
}
const QRegularExpression& lostPackets() {
    static const QRegularExpression re(QStringLiteral("^抓包文件丢失 (\\d+) 个数据包$"));
    return re;
}

constexpr qint64 toMs(qint64 micros) {
    return micros >= 0 ? micros / 1000 : -((-micros + 999) / 1000);
}

bool spokenCommand(const std::optional<std::uint8_t>& command) {
    using protocol::Command;
    return command == std::uint8_t(Command::Synthesize) ||
           command == std::uint8_t(Command::CachePlay);
}
} // namespace

std::optional<RunStart> parseRunStart(const QString& event) {
    static const QRegularExpression form(
        QStringLiteral("^测试开始 test=(\\S+) port=(\\S+) settings=(\\S+)$"));
    const auto m = form.match(event);
    if (!m.hasMatch())
        return std::nullopt;
    return RunStart{m.captured(1), m.captured(2), m.captured(3)};
}

std::optional<qint64> CaptureRun::meanTimeBetweenHangsMs() const {
    if (hangs.isEmpty())
        return std::nullopt;
    return durationMs() / hangs.size();
}

// The matcher is given the capture's microseconds as its clock: it only
// takes differences, so its times come back in microseconds.
RunAnalysis::RunAnalysis() : matcher_([this](const protocol::FrameTiming& t) { settled(t); }) {}

void RunAnalysis::add(const CapturedPacket& p) {
    const qint64 ms = toMs(p.micros);
    if (!run_.firstMs)
        run_.firstMs = ms;
    run_.lastMs = std::max(run_.lastMs, ms);
    switch (p.kind) {
    case PacketKind::FrameOut:
        frameSent(p.micros, p.data);
        break;
    case PacketKind::SerialIn:
        chipSpoke(p.micros, p.data, false);
        break;
    case PacketKind::UsbReportIn:
        chipSpoke(p.micros, p.data, true);
        break;
    case PacketKind::Event:
        event(p.micros, QString::fromUtf8(p.data));
        break;
    case PacketKind::UsbReportOut: // the frames are captured whole as well
        break;
    }
}

void RunAnalysis::frameSent(qint64 micros, QByteArrayView frame) {
    const qint64 ms = toMs(micros);
    if (lastChipMs_ < 0)
        lastChipMs_ = ms;
    recent_.frame(ms, frame);
    matcher_.frameSent(QByteArray::fromRawData(frame.data(), frame.size()), QString(),
                       QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC), micros);
}

void RunAnalysis::chipSpoke(qint64 micros, QByteArrayView bytes, bool usb) {
    const qint64 ms = toMs(micros);
    lastChipMs_ = ms;
    auto reply = [&](std::uint8_t code) {
        recent_.reply(ms, code);
        matcher_.reply(code, micros);
    };
    if (usb) {
        if (bytes.size() >= 2 && protocol::usbReplyLine(std::uint8_t(bytes[1])))
            reply(std::uint8_t(bytes[1]));
        return;
    }
    const QByteArray chunk = QByteArray::fromRawData(bytes.data(), bytes.size());
    for (const auto& line : protocol::decodeSerialReplies(chunk, QString()))
        reply(line.code);
}

void RunAnalysis::event(qint64 micros, const QString& text) {
    const qint64 ms = toMs(micros);
    auto mark = [&](Mark::Kind kind) { run_.marks.push_back({ms, kind, text}); };
    if (text.startsWith(QString::fromUtf8(kHangPrefix))) {
        run_.hangs.append(
            {lastChipMs_ >= 0 ? lastChipMs_ : ms, ms, text, std::nullopt, {}, recent_.lines()});
    } else if (text.startsWith(QString::fromUtf8(kRecoveryPrefix))) {
        if (!run_.hangs.isEmpty() && !run_.hangs.last().recoveryMs) {
            run_.hangs.last().recoveryMs = ms;
            run_.hangs.last().recovery = text;
        }
    } else if (text == QString::fromUtf8(kStopEvent)) {
        mark(Mark::Kind::Stop);
    } else if (text == QString::fromUtf8(kClearEvent)) {
        mark(Mark::Kind::Clear);
    } else if (portLost().match(text).hasMatch() ||
               text.startsWith(QString::fromUtf8(kBridgeLostPrefix))) {
        mark(Mark::Kind::LinkLost);
    } else if (portBack().match(text).hasMatch() || text == QString::fromUtf8(kBridgeBackEvent)) {
        mark(Mark::Kind::LinkBack);
    } else if (const auto m = lostPackets().match(text); m.hasMatch()) {
        run_.lostPackets += m.captured(1).toLongLong();
    } else if (!run_.start) {
        run_.start = parseRunStart(text);
    }
}

void RunAnalysis::settled(const protocol::FrameTiming& t) {
    FrameRecord f;
    f.sentMs = t.sentAt.toMSecsSinceEpoch();
    f.length = qint32(std::min<qsizetype>(t.length, std::numeric_limits<qint32>::max()));
    f.hasCommand = t.command.has_value();
    f.command = t.command.value_or(0);
    f.spoken = spokenCommand(t.command);
    if (t.msToReceived) {
        f.msToReceived = float(double(*t.msToReceived) / 1000);
        run_.toReceived.add(qRound64(double(*t.msToReceived) / 1000));
    }
    if (t.msToIdle) {
        f.msToIdle = float(double(*t.msToIdle) / 1000);
        if (f.spoken)
            run_.toIdle.add(qRound64(double(*t.msToIdle) / 1000));
    }
    if (f.spoken)
        ++run_.steps;
    run_.frames.push_back(f);
}

CaptureRun RunAnalysis::finish() {
    matcher_.settleAll();
    return std::move(run_);
}

std::optional<QString> readCapture(const QString& path, CaptureRun& run) {
    QFile file(path);
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (info.isDir())
        return QStringLiteral("a folder, not a capture");
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    CaptureReader reader(file);
    if (const auto why = reader.start())
        return why;
    RunAnalysis analysis;
    CapturedPacket packet;
    while (reader.next(packet))
        analysis.add(packet);
    run = analysis.finish();
    run.path = path;
    run.end = reader.end();
    run.wholeBytes = reader.wholeBytes();
    run.fileBytes = info.size();
    return std::nullopt;
}

} // namespace qav::report
