#pragma once
// The conversion table "GBKToBig5AndUnicode.dat": one 4-byte record for every
// double-byte GBK code, lead 0x81 .. 0xFE and trail 0x40 .. 0xFE, in that
// order, no header:
//   bytes 0 .. 1  BIG5 code, little-endian (trail byte, then lead byte)
//   bytes 2 .. 3  UTF-16 code unit, little-endian
// The table is read whole, in one read, each time a text is converted, so a
// table replaced between two conversions is picked up at the next one.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace qav::synthesis {

class ConversionTable {
public:
    static constexpr const char* kFileName = "GBKToBig5AndUnicode.dat";
    static constexpr int kLeadFirst = 0x81, kLeadLast = 0xFE;
    static constexpr int kTrailFirst = 0x40, kTrailLast = 0xFE;
    static constexpr int kTrailsPerLead = kTrailLast - kTrailFirst + 1;                // 191
    static constexpr int kRecordCount = (kLeadLast - kLeadFirst + 1) * kTrailsPerLead; // 24066
    static constexpr int kRecordSize = 4;
    static constexpr qsizetype kFileSize = qsizetype(kRecordCount) * kRecordSize; // 96264

    struct Record {
        std::uint8_t big5Lead = 0, big5Trail = 0;
        char16_t unicode = 0;
    };

    // Index of the record of (lead, trail), or -1 outside the table's range.
    static int recordIndex(std::uint8_t lead, std::uint8_t trail) {
        if (lead < kLeadFirst || lead > kLeadLast || trail < kTrailFirst || trail > kTrailLast)
            return -1;
        return (lead - kLeadFirst) * kTrailsPerLead + (trail - kTrailFirst);
    }

    // Reads the table from `folder`. Nothing when the file is absent, is not a
    // plain file, cannot be read, or is not exactly kFileSize bytes long (a
    // damaged table would otherwise be read past its end).
    static std::optional<ConversionTable> load(const QString& folder);
    static QString pathIn(const QString& folder);

    // A table over bytes already in memory; nothing unless they are kFileSize long.
    static std::optional<ConversionTable> fromBytes(QByteArray bytes);

    // The record of a double-byte code; (lead, trail) must be in range.
    Record record(std::uint8_t lead, std::uint8_t trail) const {
        const auto* r = reinterpret_cast<const std::uint8_t*>(data_.constData()) +
                        qsizetype(recordIndex(lead, trail)) * kRecordSize;
        return Record{r[1], r[0], char16_t(r[2] | r[3] << 8)};
    }

private:
    explicit ConversionTable(QByteArray data) : data_(std::move(data)) {}
    QByteArray data_;
};

} // namespace qav::synthesis
