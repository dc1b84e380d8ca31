#include "protocol/usb_replies.h"

#include "protocol/frame.h"

namespace qav::protocol {

namespace {
// "<-0x" and the code lead every line but the hardware status one.
constexpr const char* kUsbLineLead = "<-0x";
constexpr const char* kHardwarePlayingLine = "<-硬件查询，QAV7120处于播音状态";

const char* usbReplyText(std::uint8_t reply) {
    switch (reply) {
    case reply::kReceived:
        return "  接收成功";
    case reply::kReceiveError:
        return "  接收失败";
    case reply::kInitialised:
        return "  初始化成功回传";
    case reply::kPlaying:
        return "  芯片正在播音";
    case reply::kIdle:
        return "  芯片空闲";
    case reply::kReceivedWasIdle:
        return "接收成功，芯片原状态空闲";
    case reply::kReceivedWasPaused:
        return "接收成功，芯片原状态暂停";
    case reply::kReceivedWasPlaying:
        return "接收成功，芯片原状态播音";
    default:
        return nullptr;
    }
}
} // namespace

std::optional<QString> usbReplyLine(std::uint8_t reply) {
    if (reply == reply::kHardwarePlaying)
        return QString::fromUtf8(kHardwarePlayingLine);
    const char* text = usbReplyText(reply);
    if (!text)
        return std::nullopt;
    return QString::fromLatin1(kUsbLineLead) +
           QStringLiteral("%1").arg(reply, 2, 16, QLatin1Char('0')).toUpper() +
           QString::fromUtf8(text);
}

} // namespace qav::protocol
