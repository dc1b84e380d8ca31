#pragma once
// The record of console-wide variables that the handlers and the session
// share. What the links and the work log hold themselves (the active link,
// the acknowledgement wait, the hex prefix) is read from them, not copied
// here. Counters that could pass 32767 on real input are held wider than the
// 16-bit integers of the original design.

#include "protocol/frame.h"
#include "tools/crash_test.h"

#include <QString>

namespace qav::session {

struct ConsoleState {
    QString chunkLimitNotice;
    int frameByteCount = 0; // bytes of the last synthesis or cache-store frame
    int encodingCode = int(protocol::Encoding::Gbk);
    double replayCount = 0; // seconds of continuous play left
    int chunkLimit = protocol::kSerialChunkLimit;
    int lastFrameIndex = 0; // of the frame last logged and sent
    tools::CrashCounters crash;
    int serialPortNumber = 1;
    int textByteCount = 0; // of the last selection measured
    bool sliderTagsEnabled = true;
    bool continueSynthesis = false;
};

} // namespace qav::session
