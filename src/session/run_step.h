#pragma once
// A step of a run, as the faces report it and as a hang names it.

#include <QMetaType>
#include <QString>

namespace qav::session {

struct RunStep {
    enum class Kind { None, CrashStep, ContinuousRound, SequenceStep };
    Kind kind = Kind::None;
    // What the chip was given, in words: "死机测试 循环 1 文本 3 控制标记 7",
    // "连续播放 第 12 轮", "内测123 第 2 遍 第 57 步 P".
    QString name;
    // The unit of a report the step belongs to: a text of a loop of the
    // crash test, a round of continuous play, a pass of a sequence.
    QString unit;
};

} // namespace qav::session

Q_DECLARE_METATYPE(qav::session::RunStep)
