#pragma once
// The crash test: ten text files, each spoken under fourteen tag variants in
// turn, one step per idle reply of the chip. Each step writes one line to the
// result file before its synthesis starts, so that after a hang the last line
// names the loop, text and variant the chip was speaking.

#include <QByteArray>
#include <QString>
#include <optional>

namespace qav::tools {

inline constexpr int kCrashTagVariants = 14;
inline constexpr int kCrashTexts = 10;

struct CrashCounters {
    int tagStep = 0;      // variant of the latest step, 1..14; 0 before a text's first
    int textIndex = 0;    // 0-based; the file number is one more
    qint64 loopIndex = 0; // completed passes over all ten texts

    bool running() const { return tagStep > 0 || textIndex > 0 || loopIndex > 0; }
};

// "死机测试文本01.txt" .. "死机测试文本10.txt".
QString crashTextFileName(int textIndex);

// Text in front of and behind the file text for variant 1..14.
struct TagVariant {
    const char* front;
    const char* back;
};
TagVariant crashTagVariant(int variant);

struct CrashStep {
    QString sendText;     // the new content of the send text area, CR LF line breaks
    QString resultLine;   // ends in CR LF
    QByteArray resultGbk; // the result line as written to the file
    CrashCounters next;   // counters after the step, rolled over
    int tagVariant = 1;
    QString name; // "循环 1 文本 3 控制标记 7"
    QString unit; // "循环 1 文本 3": the text of a loop the step belongs to
};

// One step from the counters before it and the text of the file that
// crashTextFileName(counters.textIndex) names. Counters out of their range
// are taken as the start of a text or loop; the loop count stops at its
// largest value instead of wrapping.
CrashStep planCrashStep(const CrashCounters& counters, const QString& fileText);

// The counters after the step that a result line names, as planCrashStep
// left them; the line without its CR LF. Nothing for any other line, and for
// numbers out of their range.
std::optional<CrashCounters> countersAfterResultLine(const QString& line);

// Only the first chunk of the send text area is ever spoken, and the file
// text stands behind the step header and the tags. A decoded GBK byte
// counts at least one byte of a chunk for every two it takes from the file,
// so twice the chunk limit is as much of a file as can reach the chip.
qint64 crashTextReadLimit(int chunkLimit);

struct CrashTextRead {
    QString text;
    bool created = false;         // the file was missing and has been created empty
    std::optional<QString> error; // why it could not be read; text is then empty
};

// Reads at most maxBytes from the start of the file, cut back to the end of
// the last whole GBK character, and decodes it. A missing file is created
// empty; a file that cannot be read (no rights, a folder, pipe or device of
// that name) yields an empty text and the reason.
CrashTextRead readCrashText(const QString& path, qint64 maxBytes);

} // namespace qav::tools
