#include "support/zip_writer.h"

#include <zlib.h>

namespace {

void put16(std::vector<unsigned char>& out, std::uint32_t value) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
}

void put32(std::vector<unsigned char>& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

struct EntryRecord {
    std::string name;
    std::uint16_t method;
    std::uint32_t crc;
    std::uint32_t compressedSize;
    std::uint32_t uncompressedSize;
};

const std::uint32_t kDosTime = 0x6000;  // 12:00:00
const std::uint32_t kDosDate = 0x5A21;  // 2025-01-01

// The fields the local header and the central record share, from "method" to the
// name length, with no extra field.
void putCommonFields(std::vector<unsigned char>& out, const EntryRecord& entry) {
    put16(out, 0);  // flags
    put16(out, entry.method);
    put16(out, kDosTime);
    put16(out, kDosDate);
    put32(out, entry.crc);
    put32(out, entry.compressedSize);
    put32(out, entry.uncompressedSize);
    put16(out, static_cast<std::uint32_t>(entry.name.size()));
    put16(out, 0);  // extra
}

// Local headers and data, the central directory, the end record.
std::vector<unsigned char> archiveOf(const std::vector<EntryRecord>& entries,
                                     const std::vector<std::vector<unsigned char>>& payloads) {
    std::vector<unsigned char> out;
    std::vector<std::uint32_t> offsets;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        offsets.push_back(static_cast<std::uint32_t>(out.size()));
        put32(out, 0x04034B50);
        put16(out, 20);  // version needed
        putCommonFields(out, entries[i]);
        out.insert(out.end(), entries[i].name.begin(), entries[i].name.end());
        out.insert(out.end(), payloads[i].begin(), payloads[i].end());
    }

    const std::uint32_t centralOffset = static_cast<std::uint32_t>(out.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        put32(out, 0x02014B50);
        put16(out, 20);  // version made by
        put16(out, 20);  // version needed
        putCommonFields(out, entries[i]);
        put16(out, 0);  // comment
        put16(out, 0);  // disk
        put16(out, 0);  // internal attributes
        put32(out, 0);  // external attributes
        put32(out, offsets[i]);
        out.insert(out.end(), entries[i].name.begin(), entries[i].name.end());
    }
    const std::uint32_t centralSize = static_cast<std::uint32_t>(out.size()) - centralOffset;

    const std::uint32_t count = static_cast<std::uint32_t>(entries.size());
    put32(out, 0x06054B50);
    put16(out, 0);
    put16(out, 0);
    put16(out, count);
    put16(out, count);
    put32(out, centralSize);
    put32(out, centralOffset);
    put16(out, 0);
    return out;
}

}  // namespace

std::vector<unsigned char> zipWithStoredEntries(const std::vector<StoredEntry>& entries) {
    std::vector<EntryRecord> records;
    std::vector<std::vector<unsigned char>> payloads;
    for (const StoredEntry& entry : entries) {
        std::uint32_t crc = static_cast<std::uint32_t>(
            crc32(0L, entry.data.data(), static_cast<uInt>(entry.data.size())));
        if (entry.corruptCrc) crc ^= 0x00010000;
        const std::uint32_t size = static_cast<std::uint32_t>(entry.data.size());
        records.push_back({entry.name, 0, crc, size, size});
        payloads.push_back(entry.data);
    }
    return archiveOf(records, payloads);
}

std::vector<unsigned char> zipWithStoredEntry(const std::string& name,
                                              const std::vector<unsigned char>& data,
                                              bool corruptCrc) {
    return zipWithStoredEntries({{name, data, corruptCrc}});
}

std::vector<unsigned char> zipWithDeflatedZeros(const std::string& name, std::uint32_t size) {
    const std::vector<unsigned char> zeros(1 << 20, 0);
    z_stream stream = {};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> compressed;
    std::vector<unsigned char> chunk(1 << 16);
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0L, Z_NULL, 0));
    std::uint32_t left = size;
    int flush = Z_NO_FLUSH;
    do {
        const std::uint32_t piece = left < zeros.size() ? left : static_cast<std::uint32_t>(zeros.size());
        crc = static_cast<std::uint32_t>(crc32(crc, zeros.data(), piece));
        left -= piece;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = const_cast<Bytef*>(zeros.data());
        stream.avail_in = piece;
        do {
            stream.next_out = chunk.data();
            stream.avail_out = static_cast<uInt>(chunk.size());
            deflate(&stream, flush);
            compressed.insert(compressed.end(), chunk.data(), chunk.data() + (chunk.size() - stream.avail_out));
        } while (stream.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&stream);
    return archiveOf({{name, 8, crc, static_cast<std::uint32_t>(compressed.size()), size}}, {compressed});
}
