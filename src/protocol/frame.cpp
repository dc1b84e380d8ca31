#include "protocol/frame.h"

namespace qav::protocol {

QByteArray commandFrame(Command command) {
    QByteArray frame(4, '\0');
    frame[0] = char(kFrameHeader);
    frame[1] = 0x00;
    frame[2] = 0x01;
    frame[3] = char(command);
    return frame;
}

void writeHeader(char* buffer, int frameLength, Command command, std::uint8_t parameter) {
    const int length = frameLength - 3;
    buffer[0] = char(kFrameHeader);
    buffer[1] = char((length >> 8) & 0xFF);
    buffer[2] = char(length & 0xFF);
    buffer[3] = char(command);
    buffer[4] = char(parameter);
}

std::optional<QByteArray> parameterFrame(Command command, std::uint8_t parameter,
                                         QByteArrayView data) {
    const qsizetype total = kFrameHeaderSize + data.size();
    if (total - 3 > kMaxLengthField)
        return std::nullopt;
    QByteArray frame(total, Qt::Uninitialized);
    writeHeader(frame.data(), int(total), command, parameter);
    std::copy(data.begin(), data.end(), frame.begin() + kFrameHeaderSize);
    return frame;
}

} // namespace qav::protocol
