#include "zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;

constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::uint16_t kZip64ExtraId = 0x0001;

constexpr std::size_t kMaxNameSize = 511;
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint32_t kDosDirectoryAttribute = 0x10;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflate = 8;

// Deflate cannot expand better than 1032:1 (a 258-byte match in two bits); a declared
// size beyond that is a lie, and trusting it would let a tiny entry reserve gigabytes.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

// zlib counts in 32-bit units; larger spans are handed over in pieces.
constexpr std::uint64_t kMaxZlibSpan = std::uint64_t{1} << 30;

std::uint16_t read16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t read32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t read64(const unsigned char* p) {
    return static_cast<std::uint64_t>(read32(p)) |
           (static_cast<std::uint64_t>(read32(p + 4)) << 32);
}

// True when [offset, offset + length) lies inside a buffer of `size` bytes.
bool fits(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

struct CentralDirectory {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t count = 0;
    std::uint64_t end = 0;  // where the directory must have ended: the next record's start
};

// The end record is found from the back; a comment may follow it. A candidate whose
// comment reaches exactly to the end of the buffer wins over one that leaves bytes after
// it, so signature bytes inside a comment cannot pose as the record.
bool findEndRecord(const unsigned char* data, std::size_t size, std::size_t& found) {
    if (size < kEndSize) return false;
    const std::size_t last = size - kEndSize;
    const std::size_t first = last > kMaxCommentSize ? last - kMaxCommentSize : 0;
    bool haveLoose = false;
    std::size_t loose = 0;
    for (std::size_t pos = last + 1; pos-- > first;) {
        if (data[pos] != 0x50 || read32(data + pos) != kEndSignature) continue;
        const std::size_t commentEnd = pos + kEndSize + read16(data + pos + 20);
        if (commentEnd == size) {
            found = pos;
            return true;
        }
        if (commentEnd < size && !haveLoose) {
            haveLoose = true;
            loose = pos;
        }
    }
    found = loose;
    return haveLoose;
}

// Reads the ZIP64 end record named by the locator right before the end record; false
// when there is no usable pair. A damaged pair leaves the plain record in charge, and its
// values must then fit the buffer like any others.
bool readZip64End(const unsigned char* data, std::size_t endPos, CentralDirectory& dir) {
    if (endPos < kZip64LocatorSize) return false;
    const std::size_t locatorPos = endPos - kZip64LocatorSize;
    const unsigned char* locator = data + locatorPos;
    if (read32(locator) != kZip64LocatorSignature) return false;
    const std::uint64_t recordPos = read64(locator + 8);
    if (read32(locator + 4) != 0 || read32(locator + 16) > 1) return false;
    if (!fits(recordPos, kZip64EndSize, locatorPos)) return false;
    const unsigned char* record = data + recordPos;
    if (read32(record) != kZip64EndSignature || read64(record + 4) < kZip64EndSize - 12)
        return false;
    if (read32(record + 16) != 0 || read32(record + 20) != 0) return false;
    if (read64(record + 24) != read64(record + 32)) return false;
    dir.count = read64(record + 32);
    dir.size = read64(record + 40);
    dir.offset = read64(record + 48);
    dir.end = recordPos;
    return true;
}

bool locateCentralDirectory(const unsigned char* data, std::size_t size, CentralDirectory& dir) {
    std::size_t endPos = 0;
    if (!findEndRecord(data, size, endPos)) return false;
    const unsigned char* end = data + endPos;
    const std::uint16_t disk = read16(end + 4);
    const std::uint16_t centralDisk = read16(end + 6);
    const std::uint16_t diskCount = read16(end + 8);
    const std::uint16_t totalCount = read16(end + 10);

    if (!readZip64End(data, endPos, dir)) {
        if (disk != 0 || centralDisk != 0 || diskCount != totalCount) return false;
        dir.count = totalCount;
        dir.size = read32(end + 12);
        dir.offset = read32(end + 16);
        dir.end = endPos;
    }
    if (!fits(dir.offset, dir.size, dir.end)) return false;
    // Every central header takes at least 46 bytes; a count that cannot fit is refused
    // before anything is reserved for it.
    if (dir.count > dir.size / kCentralSize ||
        dir.count > std::numeric_limits<std::uint32_t>::max())
        return false;
    return true;
}

// Takes the 64-bit values that the central header left at their all-ones markers.
bool applyZip64Extra(const unsigned char* extra, std::size_t length, ZipEntryInfo& entry,
                     bool wantUncompressed, bool wantCompressed, bool wantOffset) {
    std::size_t pos = 0;
    while (length - pos >= 4) {
        const std::uint16_t id = read16(extra + pos);
        const std::uint16_t blockSize = read16(extra + pos + 2);
        pos += 4;
        if (blockSize > length - pos) break;
        if (id == kZip64ExtraId) {
            const unsigned char* field = extra + pos;
            std::size_t left = blockSize;
            auto take = [&](std::uint64_t& value) {
                if (left < 8) return false;
                value = read64(field);
                field += 8;
                left -= 8;
                return true;
            };
            if (wantUncompressed && !take(entry.uncompressedSize)) return false;
            if (wantCompressed && !take(entry.compressedSize)) return false;
            if (wantOffset && !take(entry.localHeaderOffset)) return false;
            return true;
        }
        pos += blockSize;
    }
    // No ZIP64 field: the all-ones values stand as written.
    return true;
}

bool readCentralDirectory(const unsigned char* data, const CentralDirectory& dir,
                          std::vector<ZipEntryInfo>& entries) {
    entries.reserve(static_cast<std::size_t>(dir.count));
    std::uint64_t pos = dir.offset;
    const std::uint64_t end = dir.offset + dir.size;
    for (std::uint64_t i = 0; i < dir.count; ++i) {
        if (!fits(pos, kCentralSize, end)) return false;
        const unsigned char* h = data + pos;
        if (read32(h) != kCentralSignature) return false;
        const std::uint16_t nameLength = read16(h + 28);
        const std::uint16_t extraLength = read16(h + 30);
        const std::uint16_t commentLength = read16(h + 32);
        const std::uint64_t variable = std::uint64_t{nameLength} + extraLength + commentLength;
        if (!fits(pos + kCentralSize, variable, end)) return false;

        entries.emplace_back();
        ZipEntryInfo& entry = entries.back();
        const std::uint16_t flags = read16(h + 8);
        entry.encrypted = (flags & kFlagEncrypted) != 0;
        entry.method = read16(h + 10);
        entry.dosTime = read16(h + 12);
        entry.dosDate = read16(h + 14);
        entry.crc32 = read32(h + 16);
        entry.compressedSize = read32(h + 20);
        entry.uncompressedSize = read32(h + 24);
        const std::uint32_t externalAttributes = read32(h + 38);
        entry.localHeaderOffset = read32(h + 42);

        const char* name = reinterpret_cast<const char*>(h + kCentralSize);
        entry.name.assign(name, nameLength);
        entry.nameTooLong = nameLength > kMaxNameSize;
        entry.isDirectory = (nameLength > 0 && name[nameLength - 1] == '/') ||
                            (externalAttributes & kDosDirectoryAttribute) != 0;

        const bool wantUncompressed = entry.uncompressedSize == 0xFFFFFFFF;
        const bool wantCompressed = entry.compressedSize == 0xFFFFFFFF;
        const bool wantOffset = entry.localHeaderOffset == 0xFFFFFFFF;
        if ((wantUncompressed || wantCompressed || wantOffset) &&
            !applyZip64Extra(h + kCentralSize + nameLength, extraLength, entry, wantUncompressed,
                             wantCompressed, wantOffset))
            return false;

        pos += kCentralSize + variable;
    }
    // The directory must hold exactly the counted entries, no more and no fewer.
    return pos == end;
}

// The entry's stored bytes, after its local header was checked against the buffer.
bool locateEntryData(const ZipArchive& archive, const ZipEntryInfo& entry,
                     const unsigned char*& bytes) {
    if (entry.nameTooLong || entry.isDirectory || entry.encrypted) return false;
    if (entry.method == kMethodStored) {
        if (entry.compressedSize != entry.uncompressedSize) return false;
    } else if (entry.method == kMethodDeflate) {
        const std::uint64_t limit =
            std::numeric_limits<std::uint64_t>::max() / kMaxDeflateRatio - 1;
        if (entry.compressedSize < limit &&
            entry.uncompressedSize > (entry.compressedSize + 1) * kMaxDeflateRatio)
            return false;
    } else {
        return false;
    }

    const std::uint64_t offset = entry.localHeaderOffset;
    if (!fits(offset, kLocalSize, archive.size)) return false;
    const unsigned char* local = archive.data + offset;
    if (read32(local) != kLocalSignature) return false;
    const std::uint64_t dataStart =
        offset + kLocalSize + read16(local + 26) + std::uint64_t{read16(local + 28)};
    if (!fits(dataStart, entry.compressedSize, archive.size)) return false;
    bytes = archive.data + dataStart;
    return true;
}

// Where the inflated bytes go. `window` gives room for the next piece at `produced`
// bytes into the entry (at most `wanted` bytes); `take` receives each piece once written.
struct SinkTarget {
    const ZipSink& sink;
    unsigned char* buffer;

    void window(std::uint64_t, std::uint64_t wanted, unsigned char*& out, std::size_t& room) {
        out = buffer;
        room = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, kZipSinkPieceSize));
    }
    bool take(const unsigned char* bytes, std::size_t count) { return sink(bytes, count); }
    bool takeStored(const unsigned char* bytes, std::size_t count) { return sink(bytes, count); }
    std::size_t storedPiece() const { return kZipSinkPieceSize; }
};

struct HeapTarget {
    unsigned char* base;

    void window(std::uint64_t produced, std::uint64_t wanted, unsigned char*& out,
                std::size_t& room) {
        out = base + produced;
        room = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, kMaxZlibSpan));
    }
    bool take(const unsigned char*, std::size_t) { return true; }
    bool takeStored(const unsigned char* bytes, std::size_t count) {
        std::memcpy(base, bytes, count);
        base += count;
        return true;
    }
    std::size_t storedPiece() const { return static_cast<std::size_t>(kMaxZlibSpan); }
};

struct InflateStream {
    z_stream stream{};
    bool ready = false;
    ~InflateStream() {
        if (ready) inflateEnd(&stream);
    }
};

template <typename Target>
bool copyStored(const unsigned char* bytes, std::uint64_t size, Target& target, uLong& crc) {
    while (size > 0) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, target.storedPiece()));
        crc = crc32(crc, bytes, static_cast<uInt>(piece));
        if (!target.takeStored(bytes, piece)) return false;
        bytes += piece;
        size -= piece;
    }
    return true;
}

// True only when the stream ends exactly at its last compressed byte and produced exactly
// the declared size. Output is never allowed past the declared size: once it is reached,
// a single probe byte tells a finished stream from an overlong one.
template <typename Target>
bool inflateRaw(const unsigned char* bytes, const ZipEntryInfo& entry, Target& target, uLong& crc) {
    InflateStream z;
    if (inflateInit2(&z.stream, -MAX_WBITS) != Z_OK) return false;
    z.ready = true;

    std::uint64_t inputLeft = entry.compressedSize;
    std::uint64_t produced = 0;
    unsigned char probe = 0;
    for (;;) {
        if (z.stream.avail_in == 0 && inputLeft > 0) {
            const std::uint64_t piece = std::min(inputLeft, kMaxZlibSpan);
            z.stream.next_in = const_cast<Bytef*>(bytes);
            z.stream.avail_in = static_cast<uInt>(piece);
            bytes += piece;
            inputLeft -= piece;
        }
        const std::uint64_t wanted = entry.uncompressedSize - produced;
        unsigned char* out = &probe;
        std::size_t room = 1;
        if (wanted > 0) target.window(produced, wanted, out, room);
        z.stream.next_out = out;
        z.stream.avail_out = static_cast<uInt>(room);

        const int rc = inflate(&z.stream, Z_NO_FLUSH);
        const std::size_t got = room - z.stream.avail_out;
        if (got > 0) {
            if (wanted == 0) return false;
            crc = crc32(crc, out, static_cast<uInt>(got));
            if (!target.take(out, got)) return false;
            produced += got;
        }
        if (rc == Z_STREAM_END)
            return produced == entry.uncompressedSize && z.stream.avail_in == 0 && inputLeft == 0;
        // Z_BUF_ERROR here means the input ran out before the stream ended.
        if (rc != Z_OK) return false;
    }
}

template <typename Target>
bool deliver(const unsigned char* bytes, const ZipEntryInfo& entry, Target& target) {
    uLong crc = crc32(0L, Z_NULL, 0);
    const bool complete = entry.method == kMethodStored
                              ? copyStored(bytes, entry.uncompressedSize, target, crc)
                              : inflateRaw(bytes, entry, target, crc);
    return complete && crc == entry.crc32;
}

const ZipEntryInfo* entryAt(const ZipArchive& archive, std::uint32_t index) {
    if (archive.data == nullptr || index >= archive.entries.size()) return nullptr;
    return &archive.entries[index];
}

}  // namespace

bool zipOpenMemory(ZipArchive& archive, const void* data, std::size_t size) {
    zipClose(archive);
    if (data == nullptr || size == 0) return false;
    try {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        CentralDirectory dir;
        if (!locateCentralDirectory(bytes, size, dir)) return false;
        std::vector<ZipEntryInfo> entries;
        if (!readCentralDirectory(bytes, dir, entries)) return false;
        archive.data = bytes;
        archive.size = size;
        archive.entries.swap(entries);
        return true;
    } catch (...) {
        zipClose(archive);
        return false;
    }
}

std::uint32_t zipEntryCount(const ZipArchive& archive) {
    return static_cast<std::uint32_t>(archive.entries.size());
}

bool zipEntryStat(const ZipArchive& archive, std::uint32_t index, ZipEntryInfo& out) {
    const ZipEntryInfo* entry = entryAt(archive, index);
    if (entry == nullptr || entry->nameTooLong) return false;
    try {
        out = *entry;
        return true;
    } catch (...) {
        return false;
    }
}

bool zipExtractToSink(const ZipArchive& archive, std::uint32_t index, const ZipSink& sink) {
    const ZipEntryInfo* entry = entryAt(archive, index);
    const unsigned char* bytes = nullptr;
    if (entry == nullptr || !sink || !locateEntryData(archive, *entry, bytes)) return false;
    try {
        if (entry->method == kMethodStored) {
            // Stored bytes go to the sink straight from the archive, in bounded pieces.
            SinkTarget target{sink, nullptr};
            return deliver(bytes, *entry, target);
        }
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[kZipSinkPieceSize]);
        SinkTarget target{sink, buffer.get()};
        return deliver(bytes, *entry, target);
    } catch (...) {
        return false;
    }
}

bool zipExtractToHeap(const ZipArchive& archive, std::uint32_t index,
                      std::vector<unsigned char>& out, std::uint64_t maxSize) {
    out.clear();
    const ZipEntryInfo* entry = entryAt(archive, index);
    const unsigned char* bytes = nullptr;
    if (entry == nullptr || entry->uncompressedSize > maxSize ||
        entry->uncompressedSize > out.max_size() || !locateEntryData(archive, *entry, bytes))
        return false;
    try {
        out.resize(static_cast<std::size_t>(entry->uncompressedSize));
        unsigned char spare = 0;
        HeapTarget target{out.empty() ? &spare : out.data()};
        if (deliver(bytes, *entry, target)) return true;
    } catch (...) {
    }
    std::vector<unsigned char>().swap(out);
    return false;
}

void zipClose(ZipArchive& archive) {
    archive.data = nullptr;
    archive.size = 0;
    std::vector<ZipEntryInfo>().swap(archive.entries);
}
