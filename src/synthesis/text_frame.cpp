#include "synthesis/text_frame.h"

namespace qav::synthesis {

using protocol::Encoding;

qsizetype convertText(QStringView text, Encoding encoding, const ConversionTable* table, char* out,
                      qsizetype maxBytes) {
    const bool big5 = encoding == Encoding::Big5;
    const bool le = encoding == Encoding::Utf16Le;
    const bool be = encoding == Encoding::Utf16Be;
    char* p = out;
    auto put16 = [&](char16_t u) {
        if (le) {
            *p++ = char(u & 0xFF);
            *p++ = char(u >> 8);
        } else {
            *p++ = char(u >> 8);
            *p++ = char(u & 0xFF);
        }
    };

    qsizetype pos = 0;
    while (pos < text.size() && p - out < maxBytes) {
        const GbkChar c = gbkCharAt(text, pos);
        pos += c.units;
        if (c.code.isDouble()) {
            if (big5) {
                const auto r = table->record(c.code.lead, c.code.trail);
                *p++ = char(r.big5Lead);
                *p++ = char(r.big5Trail);
            } else if (le || be) {
                put16(table->record(c.code.lead, c.code.trail).unicode);
            } else {
                *p++ = char(c.code.lead);
                *p++ = char(c.code.trail);
            }
            continue;
        }
        const std::uint8_t b = c.code.trail;
        if (le || be) {
            // Above 0x7F the byte is not the code point (0x80 is U+20AC).
            put16(b <= 0x7F ? char16_t(b) : char16_t(c.codePoint));
        } else if (!big5 || b <= 0x7F) {
            *p++ = char(b);
        }
        // else: a GBK single byte above 0x7F has no BIG5 form; left out.
    }
    return p - out;
}

TextFrame buildTextFrame(QStringView selection, const TextFrameRequest& request) {
    TextFrame result;
    result.measure = measureChunk(selection, request.encoding, request.chunkLimit);
    if (result.measure.length == 0)
        return result; // Status::Empty

    std::optional<ConversionTable> table;
    if (needsTable(request.encoding)) {
        table = ConversionTable::load(request.tableFolder);
        if (!table) {
            result.status = TextFrame::Status::TableMissing;
            return result;
        }
    }

    const QStringView part = selection.first(result.measure.length);
    QByteArray frame(protocol::kFrameHeaderSize + 2 * part.size(), Qt::Uninitialized);
    const qsizetype textBytes =
        convertText(part, request.encoding, table ? &*table : nullptr,
                    frame.data() + protocol::kFrameHeaderSize, request.chunkLimit);
    frame.truncate(protocol::kFrameHeaderSize + textBytes);
    protocol::writeHeader(frame.data(), int(frame.size()), request.command, request.parameter);
    result.frame = std::move(frame);
    result.status = TextFrame::Status::Ok;
    return result;
}

} // namespace qav::synthesis
