#pragma once
// The console's tests and their rules, in one table that both faces read:
// the window for its buttons' starting values, qav7120-run for its command
// line. The starting values of the window are the runner's defaults.

#include <QString>
#include <QStringView>
#include <array>

namespace qav::session {

enum class TestKind { CrashTest, ContinuousPlay, InterruptedPlay, Script123, Script45, Speak };

struct TestRules {
    TestKind kind;
    const char* name;    // as qav7120-run names it
    const char* caption; // the window's button
    // Speaks texts of its own: the send text is not used.
    bool ownTexts;
    // Each step is run by the chip's idle reply, which only the serial link
    // passes on.
    bool serialOnly;
    // A timed sequence, which a second press of its button stops.
    bool sequence;
};

inline constexpr std::array kTests{
    TestRules{TestKind::CrashTest, "crash-test", "1-死机测试", true, true, false},
    TestRules{TestKind::ContinuousPlay, "continuous-play", "4-连续播放文本框内容", false, false,
              false},
    TestRules{TestKind::InterruptedPlay, "interrupted-play", "5-打断重播文本框", false, false,
              true},
    TestRules{TestKind::Script123, "script-123", "2-内测123", true, false, true},
    TestRules{TestKind::Script45, "script-45", "3-内测45", true, false, true},
    TestRules{TestKind::Speak, "speak", "合成", false, false, false},
};

inline const TestRules& testRules(TestKind kind) {
    for (const TestRules& t : kTests)
        if (t.kind == kind)
            return t;
    return kTests.front();
}

// Nothing when no test has that name.
inline const TestRules* testNamed(QStringView name) {
    for (const TestRules& t : kTests)
        if (name == QLatin1String(t.name))
            return &t;
    return nullptr;
}

// "crash-test, continuous-play, … or speak".
inline QString testNames() {
    QString names;
    for (std::size_t i = 0; i < kTests.size(); ++i) {
        if (i > 0)
            names += QLatin1String(i + 1 == kTests.size() ? " or " : ", ");
        names += QLatin1String(kTests[i].name);
    }
    return names;
}

// The window's starting values.
inline constexpr int kReplaySeconds = 500000; // continuous play's duration box
inline constexpr int kInterruptBaseMs = 1000; // interrupted play's base delay
inline constexpr int kInterruptPasses = 100;  // and its passes per cycle
inline constexpr std::array kBaudRates{4800, 9600, 57600, 115200};
inline constexpr int kDefaultBaud = 9600;

} // namespace qav::session
