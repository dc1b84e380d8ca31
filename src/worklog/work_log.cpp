#include "worklog/work_log.h"

#include "worklog/log_codec.h"

#include <QDir>
#include <charconv>
#include <cstring>

namespace qav::worklog {

namespace {
constexpr const char* kFrameSent = "发出一帧，字节数 ";
constexpr const char* kSentArrow = "----> ";
constexpr const char* kNotWritten = "工作记录未能写入";
constexpr const char* kKeptInMemory = "。未写入的记录暂存在内存中，每秒重试一次。";
constexpr const char* kMemoryFull =
    "：内存中暂存的记录已满64 MB，此后的记录在磁盘恢复写入前不再保存。";
constexpr const char* kTemporaryFile = "临时文件";
// An entry is encoded and written in pieces of at most this many characters.
constexpr qsizetype kPieceChars = 16 * 1024;
} // namespace

WorkLog::WorkLog(QObject* parent)
    : QObject(parent),
      index_([this](qint64 from, qint64 to, char* out) { journal_.readInto(from, to, out); }) {
    const auto where = [this] {
        return journal_.path().isEmpty() ? QString::fromUtf8(kTemporaryFile)
                                         : QDir::toNativeSeparators(journal_.path());
    };
    connect(&journal_, &Journal::writeFailed, this, [this, where](const QString& reason) {
        emit storageProblem(QString::fromUtf8(kNotWritten) + where() + QStringLiteral("：") +
                            reason + QString::fromUtf8(kKeptInMemory));
    });
    connect(&journal_, &Journal::memoryFull, this, [this, where] {
        emit storageProblem(QString::fromUtf8(kNotWritten) + where() +
                            QString::fromUtf8(kMemoryFull));
    });
    connect(&journal_, &Journal::resumed, this, [this](qint64 lost) { markLoss(lost); });
}

// Entries were let go and the disk takes bytes again: the gap gets its line
// before anything after it is kept.
void WorkLog::markLoss(qint64 lostBytes) {
    QByteArray line;
    const qint64 codes =
        encodeLogText(QString::fromUtf8(kLostLine).arg(lostBytes) + QStringLiteral("\r\n"), line);
    journal_.appendPastLimit(line.constData(), line.size());
    index_.appended(line.constData(), line.size(), codes);
    emit appended();
}

// "发出一帧，字节数  N" CR LF "----> " and the bytes in hex, CR LF, written
// straight into the buffer as GBK: everything after the heading is ASCII, so
// the entry never passes through a QString. This is the entry the log takes
// most often.
void WorkLog::appendFrame(QByteArrayView frame) {
    static const QByteArray heading = [] {
        QByteArray gbk;
        encodeLogText(QString::fromUtf8(kFrameSent), gbk);
        return gbk;
    }();
    static const qint64 headingCodes = QString::fromUtf8(kFrameSent).size();
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char count[24];
    const auto counted = std::to_chars(count, count + sizeof count, frame.size());
    const qsizetype countSize = counted.ptr - count;
    const qsizetype arrowSize = qsizetype(std::strlen(kSentArrow));
    const qsizetype perByte = hexPrefixBytes_.size() + 3;
    encoded_.resize(heading.size() + 1 + countSize + 2 + arrowSize + frame.size() * perByte + 2);
    char* p = encoded_.data();
    const auto put = [&p](const char* data, qsizetype size) {
        std::memcpy(p, data, size_t(size));
        p += size;
    };
    put(heading.constData(), heading.size());
    *p++ = ' ';
    put(count, countSize);
    put("\r\n", 2);
    put(kSentArrow, arrowSize);
    for (const char c : frame) {
        const auto b = static_cast<unsigned char>(c);
        put(hexPrefixBytes_.constData(), hexPrefixBytes_.size());
        *p++ = kDigits[b >> 4];
        *p++ = kDigits[b & 0x0F];
        *p++ = ' ';
    }
    put("\r\n", 2);
    if (keep(headingCodes + (encoded_.size() - heading.size())))
        emit appended();
}

bool WorkLog::keep(qint64 codes) {
    if (!journal_.append(encoded_.constData(), encoded_.size()))
        return false; // no room anywhere: said once, and not part of the log
    index_.appended(encoded_.constData(), encoded_.size(), codes);
    return true;
}

void WorkLog::append(const QString& text) {
    appendText(text, false);
}

void WorkLog::appendLine(const QString& line) {
    appendText(line, true);
}

void WorkLog::appendText(QStringView text, bool lineBreak) {
    if (text.isEmpty() && !lineBreak)
        return;
    // Nearly every entry is one piece; a long one goes in pieces, never cut
    // inside a surrogate pair. A piece that finds no room is counted as lost
    // by the journal, and so is every piece after it.
    bool kept = false;
    qsizetype from = 0;
    do {
        qsizetype to = std::min(text.size(), from + kPieceChars);
        if (to < text.size() && text[to - 1].isHighSurrogate())
            ++to;
        encoded_.resize(0); // keeps its capacity: no allocation per entry
        qint64 codes = encodeLogText(text.sliced(from, to - from), encoded_);
        if (lineBreak && to == text.size()) {
            encoded_ += "\r\n";
            codes += 2;
        }
        kept = keep(codes) || kept;
        from = to;
    } while (from < text.size());
    if (kept)
        emit appended();
}

void WorkLog::clear() {
    journal_.clear();
    index_.clear();
    emit cleared();
}

QString WorkLog::line(qint64 line) const {
    const QByteArray bytes = index_.lineBytes(line);
    return decodeLogText(bytes.constData(), bytes.size());
}

QString WorkLog::text(qint64 from, qint64 to) const {
    from = std::clamp<qint64>(from, 0, size());
    to = std::clamp<qint64>(to, from, size());
    const QByteArray bytes = index_.read(index_.byteOf(from), index_.byteOf(to));
    return decodeLogText(bytes.constData(), bytes.size());
}

std::optional<QString> WorkLog::exportTo(const QString& path) {
    return journal_.exportTo(path);
}

std::optional<QString> WorkLog::openJournal(const QString& folder) {
    return journal_.openIn(folder);
}

} // namespace qav::worklog
