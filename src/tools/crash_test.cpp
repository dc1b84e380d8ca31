#include "tools/crash_test.h"

#include "synthesis/gbk_text.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <limits>

namespace qav::tools {

namespace {

constexpr const char* kFileNameLead = "死机测试文本";
constexpr const char* kFileNameTail = ".txt";

constexpr TagVariant kVariants[kCrashTagVariants] = {
    {"", ""},          {"[s0][t0][v3]", ""}, {"[s10][t10][v10]", ""}, {"[g1]", "[g0]"},
    {"[g2]", "[g0]"},  {"[h1]", ""},         {"[k10]", ""},           {"[n1]", ""},
    {"[n2]", ""},      {"[g1][h1]", ""},     {"[g2][h1]", ""},        {"[o1]", ""},
    {"[s0][t10]", ""}, {"[s10][t0]", ""},
};

constexpr const char* kHeaderFront = "[d][g1][s10]";
constexpr const char* kHeaderBack = "[g0][d]";
constexpr const char* kHeaderSeparator = "-";
constexpr const char* kLoopLabel = "循环序号：";
constexpr const char* kTextLabel = "    文本序号：";
constexpr const char* kVariantLabel = "    控制标记序号：";
constexpr const char* kLineBreak = "\r\n";
constexpr const char* kCannotCreate = "cannot be created: ";
constexpr const char* kNotAPlainFile = "not a plain file";

// Numbers in the step header and the result line stand behind one blank,
// where a sign would go.
QString signPlace(quint64 n) {
    return QLatin1Char(' ') + QString::number(n);
}

} // namespace

QString crashTextFileName(int textIndex) {
    return QString::fromUtf8(kFileNameLead) +
           QStringLiteral("%1").arg(textIndex + 1, 2, 10, QLatin1Char('0')) +
           QString::fromUtf8(kFileNameTail);
}

TagVariant crashTagVariant(int variant) {
    if (variant < 1 || variant > kCrashTagVariants)
        return kVariants[0];
    return kVariants[variant - 1];
}

CrashStep planCrashStep(const CrashCounters& counters, const QString& fileText) {
    CrashCounters c = counters;
    if (c.tagStep < 0 || c.tagStep >= kCrashTagVariants)
        c.tagStep = 0;
    if (c.textIndex < 0 || c.textIndex >= kCrashTexts)
        c.textIndex = 0;
    if (c.loopIndex < 0)
        c.loopIndex = 0;

    CrashStep step;
    c.tagStep += 1;
    step.tagVariant = c.tagStep;

    const quint64 loopNumber = quint64(c.loopIndex) + 1;
    const quint64 textNumber = quint64(c.textIndex) + 1;
    const quint64 variantNumber = quint64(c.tagStep);
    const QString lineBreak = QString::fromLatin1(kLineBreak);

    const TagVariant tags = crashTagVariant(c.tagStep);
    const QString body = QString::fromUtf8(tags.front) + lineBreak + lineBreak + fileText +
                         QString::fromUtf8(tags.back);
    const QString header = QString::fromUtf8(kHeaderFront) + signPlace(loopNumber) +
                           QString::fromUtf8(kHeaderSeparator) + signPlace(textNumber) +
                           QString::fromUtf8(kHeaderSeparator) + signPlace(variantNumber) +
                           QString::fromUtf8(kHeaderBack);
    step.sendText = header + lineBreak + body;

    step.resultLine = QString::fromUtf8(kLoopLabel) + signPlace(loopNumber) +
                      QString::fromUtf8(kTextLabel) + signPlace(textNumber) +
                      QString::fromUtf8(kVariantLabel) + signPlace(variantNumber) + lineBreak;
    step.resultGbk = synthesis::toGbk(step.resultLine);
    step.unit = QStringLiteral("循环 %1 文本 %2").arg(loopNumber).arg(textNumber);
    step.name = step.unit + QStringLiteral(" 控制标记 %1").arg(variantNumber);

    if (c.tagStep == kCrashTagVariants) {
        c.tagStep = 0;
        c.textIndex += 1;
    }
    if (c.textIndex == kCrashTexts) {
        c.textIndex = 0;
        if (c.loopIndex < std::numeric_limits<qint64>::max())
            c.loopIndex += 1;
    }
    step.next = c;
    return step;
}

std::optional<CrashCounters> countersAfterResultLine(const QString& line) {
    static const QRegularExpression form(
        QStringLiteral("^%1 (\\d{1,18})%2 (\\d{1,2})%3 (\\d{1,2})$")
            .arg(QString::fromUtf8(kLoopLabel), QString::fromUtf8(kTextLabel),
                 QString::fromUtf8(kVariantLabel)));
    const QRegularExpressionMatch m = form.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    const qint64 loop = m.captured(1).toLongLong();
    const int text = m.captured(2).toInt();
    const int variant = m.captured(3).toInt();
    if (loop < 1 || text < 1 || text > kCrashTexts || variant < 1 || variant > kCrashTagVariants)
        return std::nullopt;
    const CrashCounters before{variant - 1, text - 1, loop - 1};
    return planCrashStep(before, QString()).next;
}

qint64 crashTextReadLimit(int chunkLimit) {
    return 2 * qint64(std::max(chunkLimit, 0)) + 2;
}

CrashTextRead readCrashText(const QString& path, qint64 maxBytes) {
    CrashTextRead result;
    QFile file(path);
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
        if (!file.open(QIODevice::WriteOnly)) {
            result.error = QString::fromLatin1(kCannotCreate) + file.errorString();
            return result;
        }
        result.created = true;
        return result;
    }
    // A folder, a pipe or a device of that name: opening a pipe would wait
    // for a writer, and the unattended run with it.
    if (!QFileInfo(path).isFile()) {
        result.error = QString::fromLatin1(kNotAPlainFile);
        return result;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = file.errorString();
        return result;
    }
    QByteArray bytes = file.read(std::max<qint64>(maxBytes, 0));
    if (file.error() != QFileDevice::NoError) {
        result.error = file.errorString();
        return result;
    }
    if (!file.atEnd())
        bytes.truncate(synthesis::wholeGbkPrefix(bytes));
    result.text = synthesis::fromGbk(bytes);
    return result;
}

} // namespace qav::tools
