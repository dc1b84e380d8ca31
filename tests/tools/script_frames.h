#pragma once
// The frames of the timing scripts and of interrupted play, byte for byte,
// and script 123's steps as its labels and waits, written out by hand so the
// tests do not take them from the lists they check. Texts A and C carry the
// console's web address (www.example.com) and fax number (021-55506218).
//
// Header-only: the tools and the session tests both use it.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace qav::test::script {

// Text A: "默认自动判断，如：[g0]www.example.com[d]。设置成中文，  如：[g1]..."
inline QByteArray textA() {
    return QByteArray::fromHex(
        "FD 00 7E 01 01 C4 AC C8 CF D7 D4 B6 AF C5 D0 B6 CF A3 AC C8 E7 A3 BA 5B 67 30 5D 77 77"
        "77 2E 65 78 61 6D 70 6C 65 2E 63 6F 6D 5B 64 5D A1 A3 C9 E8 D6 C3 B3 C9 D6 D0 CE C4 A3"
        "AC 20 20 C8 E7 A3 BA 5B 67 31 5D 77 77 77 2E 65 78 61 6D 70 6C 65 2E 63 6F 6D 5B 64 5D"
        "A1 A3 C9 E8 D6 C3 B3 C9 D3 A2 CE C4 A3 AC 20 20 C8 E7 A3 BA 5B 67 32 5D 77 77 77 2E 65"
        "78 61 6D 70 6C 65 2E 63 6F 6D 5B 64 5D");
}
// Text B: "Beijing：Tonight to tomorrow ，Cloudy with showers to 19 ℃ ~ 12 ℃", 72 bytes.
inline QByteArray textB() {
    return QByteArray::fromHex(
        "FD 00 45 01 01 42 65 69 6A 69 6E 67 A3 BA 54 6F 6E 69 67 68 74 20 74 6F 20 74 6F 6D 6F"
        "72 72 6F 77 20 A3 AC 43 6C 6F 75 64 79 20 77 69 74 68 20 73 68 6F 77 65 72 73 20 74 6F"
        "20 31 39 20 A1 E6 20 7E 20 31 32 20 A1 E6");
}
// Text C: "www.example.com。-0.17%。-12.6℃。传真是:021-55506218 。联通3G。sound101 ..."
inline QByteArray textC() {
    return QByteArray::fromHex(
        "FD 00 7B 01 01 77 77 77 2E 65 78 61 6D 70 6C 65 2E 63 6F 6D A1 A3 2D 30 2E 31 37 25 A1"
        "A3 2D 31 32 2E 36 A1 E6 A1 A3 B4 AB D5 E6 CA C7 3A 30 32 31 2D 35 35 35 30 36 32 31 38"
        "20 A1 A3 C1 AA CD A8 33 47 A1 A3 73 6F 75 6E 64 31 30 31 20 73 6F 75 6E 64 31 30 32 20"
        "A1 A3 5B 66 30 5D D5 E2 CA C7 B7 A2 D2 F4 B7 E7 B8 F1 CE AA D2 BB D7 D6 D2 BB B6 D9 B5"
        "C4 D0 A7 B9 FB A3 BB 5B 64 5D");
}
// "sound101 测试N" for test N, 1 to 5.
inline QByteArray announcement(int test) {
    return QByteArray::fromHex("FD 00 10 01 01 73 6F 75 6E 64 31 30 31 20 B2 E2 CA D4") +
           char('0' + test);
}
// "sound101 测试完毕，会再循环测试"
inline QByteArray endOfTests() {
    return QByteArray::fromHex("FD 00 21 01 01 73 6F 75 6E 64 31 30 31 20 B2 E2 CA D4 CD EA B1 CF"
                               "A3 AC BB E1 D4 D9 D1 AD BB B7 B2 E2 CA D4");
}
// Interrupted play's "再循环测试", all five characters counted.
inline QByteArray cycleMarker() {
    return QByteArray::fromHex("FD 00 0C 01 01 D4 D9 D1 AD BB B7 B2 E2 CA D4");
}

// Script 123's frame for each of its labels.
inline QMap<QString, QByteArray> script123Frames() {
    return {{QStringLiteral("A"), textA()},
            {QStringLiteral("B"), textB()},
            {QStringLiteral("C"), textC()},
            {QStringLiteral("N1"), announcement(1)},
            {QStringLiteral("N2"), announcement(2)},
            {QStringLiteral("N3"), announcement(3)},
            {QStringLiteral("E"), endOfTests()},
            {QStringLiteral("S"), QByteArray::fromHex("FD000102")},
            {QStringLiteral("P"), QByteArray::fromHex("FD000103")},
            {QStringLiteral("R"), QByteArray::fromHex("FD000104")},
            {QStringLiteral("SB"), QByteArray::fromHex("FD000122")},
            {QStringLiteral("W"), QByteArray::fromHex("FD0001FF")}};
}

struct Step {
    QString label;
    int waitMs;
};

// One pass of script 123, step by step.
inline QList<Step> script123Steps() {
    QList<Step> steps;
    auto add = [&](const char* label, int wait) {
        steps.append({QString::fromLatin1(label), wait});
    };
    // Pauses and resumes, each followed by 1000 ms, then the stop.
    auto pauseResume = [&](const char* sequence) {
        for (const char* p = sequence; *p; ++p)
            add(*p == 'P' ? "P" : "R", 1000);
        add("S", 200);
    };

    add("N1", 1000);
    for (int interval : {200, 500, 1000, 1500, 2000, 3000, 5000, 8000}) {
        add("A", interval);
        add("B", interval);
        add("C", interval);
    }
    add("A", 15000);
    add("C", 15000);
    add("A", 25000);
    add("C", 25000);

    add("N2", 1000);
    add("A", 1000);
    pauseResume("PPRPRRPRPRPPRRPRPRPRPRPRPRPRPRPPRPR");
    add("B", 1000);
    pauseResume("PRPRPRRPPRP");
    add("C", 1000);
    pauseResume("PRPRRPRPRPPRRPRPPR");

    add("N3", 2000);
    const int groups[][2] = {{1000, 1000}, {2000, 2000}, {3000, 1000}, {5000, 1000}, {8000, 1000}};
    for (const auto& [textWait, standbyWait] : groups) {
        for (const char* text : {"A", "B", "C"}) {
            add(text, textWait);
            add("SB", standbyWait);
            add("W", text[0] == 'C' ? 1000 : 200);
        }
    }
    add("E", 4000);
    return steps;
}

// The frames of one pass of script 123, in order.
inline QList<QByteArray> script123FrameList() {
    const QMap<QString, QByteArray> frames = script123Frames();
    QList<QByteArray> list;
    for (const Step& s : script123Steps())
        list << frames.value(s.label);
    return list;
}

} // namespace qav::test::script
