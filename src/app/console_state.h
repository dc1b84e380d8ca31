#pragma once
// The record of window-level variables that every handler of Form1 shares.
// Counters that could pass 32767 on real input are held wider than the
// 16-bit integers of the original design.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace qav::app {

struct ConsoleState {
    QString chunkLimitNotice;
    bool useUsbLink = false;
    std::uint8_t usbAckPending = 0; // mirror of the USB dispatcher's wait, for display and tests
    QByteArray frameBuffer;
    int frameByteCount = 0;
    int encodingCode = 1;
    double replayCount = 0;
    int chunkLimit = 4091;
    std::uint8_t frameHeader = 0xFD;
    int lastFrameIndex = 0;
    int convertedFrameLength = 0;
    int crashTagStep = 0;
    int crashTextIndex = 0;
    qint64 crashLoopIndex = 0;
    int serialPortNumber = 1;
    int textByteCount = 0;
    bool sliderTagsEnabled = true;
    bool continueSynthesis = false;
    QString hexPrefix;
};

inline constexpr int kSerialChunkLimit = 4091;
inline constexpr int kUsbChunkLimit = 512;

} // namespace qav::app
