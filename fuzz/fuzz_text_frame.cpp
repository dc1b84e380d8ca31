// Fuzzes text measuring, cutting and conversion over arbitrary text, every
// encoding, both chunk limits and random table files. Input layout:
//   byte 0   bit 0: the text is UTF-16 (else UTF-8); bits 1-2: the table file
//            is right-sized, wrong-sized, absent or a folder; bit 3: cache
//            store instead of synthesis; bit 4: chunk limit 512 instead of
//            4091; bits 5-7: the encoding
//   byte 1-2 the wrong size, the stop of the raw conversion; byte 1 is also
//            the cache segment
//   the rest the text; the table's records are filled from it over and over
//
// Checked on every run:
//   - the part that is sent ends within the selection, never inside a
//     surrogate pair or between CR and LF, and its bytes fit the chunk
//     limit; a shortened part leaves no room for the next character;
//   - a table that cannot be used gives TableMissing and no frame, but only
//     for the encodings that need the table;
//   - a frame is FD, its length (size - 3), the command and the parameter,
//     then exactly the bytes a plain restatement of the conversion gives;
//   - the split pieces put together are the frame, and the first is 2000
//     bytes when the frame is longer;
//   - the raw conversion stops at most one byte past its stop and writes a
//     prefix of the full conversion.
#include "synthesis/conversion_table.h"
#include "synthesis/gbk_text.h"
#include "synthesis/text_frame.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace qav::synthesis;
using qav::protocol::Command;
using qav::protocol::Encoding;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

enum class TableMode { Right, WrongSize, Absent, Folder };

constexpr Encoding kEncodings[] = {Encoding::Gb2312, Encoding::Gbk, Encoding::Big5,
                                   Encoding::Utf16Le, Encoding::Utf16Be};
constexpr int kChunkLimits[] = {4091, 512};

const QString& tableFolder() {
    static const auto dir = [] {
        // In memory where there is such a folder: the table is rewritten on
        // every run.
        const QDir shm(QStringLiteral("/dev/shm"));
        auto d = shm.exists() ? std::make_unique<QTemporaryDir>(shm.filePath("qav-fuzz-XXXXXX"))
                              : std::make_unique<QTemporaryDir>();
        check(d->isValid());
        return d;
    }();
    static const QString path = dir->path();
    return path;
}

// Puts the table file into the state the input asks for; returns its bytes
// when it is usable. The table is only rebuilt and the file only touched when
// they change: a fresh 96 KB buffer and file on every run would be most of the
// run's time.
QByteArray prepareTable(TableMode mode, QByteArrayView fill, int wrongSize) {
    qsizetype size = -1;
    QByteArrayView pattern;
    if (mode == TableMode::Right || mode == TableMode::WrongSize) {
        size = ConversionTable::kFileSize;
        if (mode == TableMode::WrongSize) {
            // Near misses, an empty file and sizes anywhere below.
            static constexpr qsizetype kNear[] = {0, 1, ConversionTable::kFileSize - 1,
                                                  ConversionTable::kFileSize + 1,
                                                  ConversionTable::kFileSize + 4};
            size = wrongSize < 5 ? kNear[wrongSize] : wrongSize;
        }
        // The first bytes of the text over and over, so that the records a
        // text reaches vary with it but the file does not change with every
        // byte of a long text.
        static const char kNoText[] = "\xA5";
        pattern = fill.isEmpty() ? QByteArrayView(kNoText, 1)
                                 : fill.first(std::min<qsizetype>(fill.size(), 64));
    }

    static TableMode lastMode = TableMode::Absent;
    static qsizetype lastSize = -1;
    static QByteArray lastPattern, bytes;
    if (mode == lastMode && size == lastSize && pattern == lastPattern)
        return mode == TableMode::Right ? bytes : QByteArray();

    bytes.clear();
    if (size >= 0) {
        bytes = pattern.toByteArray();
        while (bytes.size() < size)
            bytes += bytes;
        bytes.truncate(size);
    }
    const QString path = ConversionTable::pathIn(tableFolder());
    QFile::remove(path);
    QDir(path).removeRecursively();
    if (mode == TableMode::Folder) {
        check(QDir().mkpath(path));
    } else if (mode != TableMode::Absent) {
        QFile f(path);
        check(f.open(QIODevice::WriteOnly));
        check(f.write(bytes) == bytes.size());
    }
    lastMode = mode;
    lastSize = size;
    lastPattern = pattern.toByteArray();
    return mode == TableMode::Right ? bytes : QByteArray();
}

// What a character is sent as, restated from the conversion's own table.
void referenceBytes(const GbkChar& c, Encoding encoding, const QByteArray& table, QByteArray& out) {
    const bool le = encoding == Encoding::Utf16Le;
    const bool utf16 = le || encoding == Encoding::Utf16Be;
    auto put16 = [&](char16_t u) {
        const char lo = char(u & 0xFF), hi = char(u >> 8);
        out.append(le ? lo : hi).append(le ? hi : lo);
    };
    if (c.code.isDouble()) {
        const qsizetype at =
            4 * (qsizetype(c.code.lead - 0x81) * 191 + qsizetype(c.code.trail - 0x40));
        check(c.code.lead >= 0x81 && c.code.lead <= 0xFE);
        check(c.code.trail >= 0x40 && c.code.trail <= 0xFE);
        if (encoding == Encoding::Big5)
            out.append(table[at + 1]).append(table[at]);
        else if (utf16)
            put16(char16_t(std::uint8_t(table[at + 2]) | std::uint8_t(table[at + 3]) << 8));
        else
            out.append(char(c.code.lead)).append(char(c.code.trail));
        return;
    }
    const std::uint8_t b = c.code.trail;
    if (utf16)
        put16(b <= 0x7F ? char16_t(b) : char16_t(c.codePoint));
    else if (encoding != Encoding::Big5 || b <= 0x7F)
        out.append(char(b));
}

struct Walk {
    qsizetype chars = 0;
    int bytes = 0; // measured
    QByteArray converted;
};

Walk walk(QStringView text, Encoding encoding, const QByteArray& table) {
    Walk w;
    for (qsizetype pos = 0; pos < text.size();) {
        const GbkChar c = gbkCharAt(text, pos);
        check(c.units == 1 || c.units == 2);
        check(pos + c.units <= text.size());
        w.bytes += measuredBytes(c, encoding);
        ++w.chars;
        if (!qav::synthesis::needsTable(encoding) || !table.isEmpty())
            referenceBytes(c, encoding, table, w.converted);
        pos += c.units;
    }
    return w;
}

void checkOne(QStringView text, Encoding encoding, int limit, TableMode mode,
              const QByteArray& table, bool cache, std::uint8_t segment) {
    TextFrameRequest request;
    request.command = cache ? Command::CacheStore : Command::Synthesize;
    request.parameter = cache ? segment : std::uint8_t(encoding);
    request.encoding = encoding;
    request.chunkLimit = limit;
    request.tableFolder = tableFolder();

    const TextFrame result = buildTextFrame(text, request);
    const ChunkMeasure& m = result.measure;

    // The cut.
    check(m.length >= 0 && m.length <= text.size());
    check(m.shortened == (m.length < text.size()));
    check(m.shortened == (m.textByteCount > limit));
    if (text.isEmpty()) {
        check(result.status == TextFrame::Status::Empty && result.frame.isEmpty());
        return;
    }
    check(m.length > 0); // the first character always fits
    const QStringView part = text.first(m.length);
    if (m.shortened) {
        const QChar before = text[m.length - 1], after = text[m.length];
        check(!(before.isHighSurrogate() && after.isLowSurrogate()));
        check(!(before == u'\r' && after == u'\n'));
    }
    const Walk w = walk(part, encoding, table);
    check(w.chars == m.chars);
    check(w.bytes <= limit);
    if (m.shortened) {
        // Full up to one byte, or up to one byte but for the CR kept back.
        const bool crKeptBack =
            text[m.length] == u'\r' && m.length + 1 < text.size() && text[m.length + 1] == u'\n';
        const int crBytes = crKeptBack ? measuredBytes(gbkCharAt(text, m.length), encoding) : 0;
        check(w.bytes + crBytes >= limit - 1);
    }

    // The table.
    const bool usable = mode == TableMode::Right;
    if (needsTable(encoding) && !usable) {
        check(result.status == TextFrame::Status::TableMissing && result.frame.isEmpty());
        return;
    }
    check(result.status == TextFrame::Status::Ok);

    // The frame.
    const QByteArray& f = result.frame;
    check(f.size() >= 5 && f.size() - 5 <= limit);
    check(std::uint8_t(f[0]) == 0xFD);
    check(((std::uint8_t(f[1]) << 8) | std::uint8_t(f[2])) == f.size() - 3);
    check(std::uint8_t(f[3]) == std::uint8_t(request.command));
    check(std::uint8_t(f[4]) == request.parameter);
    check(f.sliced(5) == w.converted);
    if (encoding == Encoding::Gbk || encoding == Encoding::Gb2312)
        check(f.size() - 5 == w.bytes);
    if (encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be)
        check(f.size() - 5 == 2 * w.chars);
}

// The raw conversion over the whole text with a stop of its own.
void checkRawConversion(QStringView text, Encoding encoding, const QByteArray& table,
                        qsizetype stop) {
    std::optional<ConversionTable> t;
    if (needsTable(encoding)) {
        if (table.isEmpty())
            return;
        t = ConversionTable::fromBytes(table);
        check(bool(t));
    }
    const qsizetype room = 2 * text.size();
    std::unique_ptr<char[]> out(new char[std::size_t(room) + 1]);
    const qsizetype written = convertText(text, encoding, t ? &*t : nullptr, out.get(), stop);
    check(written >= 0 && written <= room);
    check(written <= std::max<qsizetype>(stop, 0) + 1);
    const Walk w = walk(text, encoding, table);
    check(w.converted.startsWith(QByteArrayView(out.get(), written)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const std::uint8_t control = data[0];
    const int wrongSize = data[1] | data[2] << 8;
    const char* rest = reinterpret_cast<const char*>(data + 3);
    const qsizetype restSize = qsizetype(size - 3);

    QString text;
    if (control & 1) {
        text.resize(restSize / 2);
        std::memcpy(text.data(), rest, std::size_t(restSize / 2) * sizeof(QChar));
    } else {
        text = QString::fromUtf8(rest, restSize);
    }

    const auto mode = TableMode((control >> 1) & 3);
    const QByteArray table = prepareTable(mode, QByteArrayView(rest, restSize), wrongSize);
    // One encoding and one chunk limit per run: the table is read on every
    // build, and those reads are most of a run's time.
    const bool cache = control & 8;
    const int limit = kChunkLimits[(control >> 4) & 1];
    const Encoding encoding = kEncodings[(control >> 5) % std::size(kEncodings)];
    checkOne(text, encoding, limit, mode, table, cache, data[1]);
    for (Encoding e : kEncodings)
        checkRawConversion(text, e, table, wrongSize % 600);

    // The code table against the platform's own encoder: text whose
    // characters all have a GBK code converts the same both ways.
    QStringEncoder gbk("GBK", QStringConverter::Flag::Stateless);
    bool allCoded = true;
    for (qsizetype pos = 0; pos < text.size() && allCoded;) {
        const GbkChar c = gbkCharAt(text, pos);
        allCoded = c.units == 1 && (c.code.isDouble() || c.code.trail != '?' || text[pos] == u'?');
        pos += c.units;
    }
    if (allCoded) {
        const QByteArray ours = walk(text, Encoding::Gbk, {}).converted;
        check(ours == QByteArray(gbk.encode(text)));
    }
    return 0;
}
