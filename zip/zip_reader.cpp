#include "zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
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
constexpr std::size_t kMaxComment = 0xFFFF;
constexpr std::size_t kMaxNameLength = 511;

constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint8_t kDosDirectoryAttribute = 0x10;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflate = 8;

// Both the sink chunk size and the bound on one zlib call, whose counters are 32-bit.
constexpr std::size_t kChunk = 256 * 1024;
constexpr std::size_t kZlibStep = 1u << 30;
// Deflate cannot expand one compressed bit into more than about 516 bytes; a declared
// size beyond that is a lie, refused before anything is allocated.
constexpr std::uint64_t kMaxDeflateRatio = 1032;
constexpr std::uint64_t kDeflateSlack = 1024;

std::uint16_t read16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t read32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t read64(const unsigned char* p) {
    return static_cast<std::uint64_t>(read32(p)) | (static_cast<std::uint64_t>(read32(p + 4)) << 32);
}

// True when [offset, offset + length) lies inside a buffer of the given size.
bool fits(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

struct EndRecord {
    std::uint64_t entryCount = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryOffset = 0;
    std::uint64_t recordsStart = 0;  // where the directory must end at the latest
};

// Finds the end record from the back; a record whose comment ends exactly at the end
// of the buffer wins over one followed by stray bytes.
bool findEndRecord(const unsigned char* data, std::size_t size, std::size_t& position) {
    if (size < kEndSize) return false;
    const std::size_t last = size - kEndSize;
    const std::size_t first = last > kMaxComment ? last - kMaxComment : 0;
    bool haveLoose = false;
    std::size_t loose = 0;
    for (std::size_t pos = last + 1; pos-- > first;) {
        if (data[pos] != 0x50 || read32(data + pos) != kEndSignature) continue;
        const std::size_t commentLength = read16(data + pos + 20);
        if (pos + kEndSize + commentLength == size) {
            position = pos;
            return true;
        }
        if (!haveLoose && pos + kEndSize + commentLength < size) {
            haveLoose = true;
            loose = pos;
        }
    }
    position = loose;
    return haveLoose;
}

bool readZip64End(const unsigned char* data, std::size_t endPos, EndRecord& end) {
    if (endPos < kZip64LocatorSize) return false;
    const unsigned char* locator = data + endPos - kZip64LocatorSize;
    if (read32(locator) != kZip64LocatorSignature) return false;
    if (read32(locator + 4) != 0 || read32(locator + 16) > 1) return false;  // multi-disk
    const std::uint64_t recordOffset = read64(locator + 8);
    const std::uint64_t locatorPos = endPos - kZip64LocatorSize;
    if (!fits(recordOffset, kZip64EndSize, locatorPos)) return false;
    const unsigned char* record = data + recordOffset;
    if (read32(record) != kZip64EndSignature) return false;
    if (read32(record + 16) != 0 || read32(record + 20) != 0) return false;
    const std::uint64_t onDisk = read64(record + 24);
    end.entryCount = read64(record + 32);
    end.directorySize = read64(record + 40);
    end.directoryOffset = read64(record + 48);
    end.recordsStart = recordOffset;
    return onDisk == end.entryCount;
}

bool readEndRecord(const unsigned char* data, std::size_t size, EndRecord& end) {
    std::size_t pos = 0;
    if (!findEndRecord(data, size, pos)) return false;
    const unsigned char* p = data + pos;
    const std::uint16_t disk = read16(p + 4);
    const std::uint16_t directoryDisk = read16(p + 6);
    const std::uint16_t onDisk = read16(p + 8);
    const std::uint16_t total = read16(p + 10);
    const std::uint32_t directorySize = read32(p + 12);
    const std::uint32_t directoryOffset = read32(p + 16);

    const bool hasLocator = pos >= kZip64LocatorSize &&
                            read32(data + pos - kZip64LocatorSize) == kZip64LocatorSignature;
    const bool saturated = total == 0xFFFF || onDisk == 0xFFFF || directorySize == 0xFFFFFFFF ||
                           directoryOffset == 0xFFFFFFFF || disk == 0xFFFF || directoryDisk == 0xFFFF;
    if (hasLocator || saturated) return readZip64End(data, pos, end);

    if (disk != 0 || directoryDisk != 0 || onDisk != total) return false;
    end.entryCount = total;
    end.directorySize = directorySize;
    end.directoryOffset = directoryOffset;
    end.recordsStart = pos;
    return true;
}

// Replaces the saturated 32-bit values with those of the ZIP64 extra field, which holds
// only the saturated ones, in this fixed order.
bool applyZip64Extra(const unsigned char* extra, std::size_t length, bool needUncompressed,
                     bool needCompressed, bool needOffset, ZipEntryInfo& entry) {
    std::size_t at = 0;
    while (length - at >= 4) {
        const std::uint16_t id = read16(extra + at);
        const std::size_t blockSize = read16(extra + at + 2);
        at += 4;
        if (blockSize > length - at) break;
        if (id == kZip64ExtraId) {
            const unsigned char* field = extra + at;
            std::size_t left = blockSize;
            auto take = [&](std::uint64_t& value) {
                if (left < 8) return false;
                value = read64(field);
                field += 8;
                left -= 8;
                return true;
            };
            if (needUncompressed && !take(entry.uncompressedSize)) return false;
            if (needCompressed && !take(entry.compressedSize)) return false;
            if (needOffset && !take(entry.localHeaderOffset)) return false;
            return true;
        }
        at += blockSize;
    }
    return !needUncompressed && !needCompressed && !needOffset;
}

bool readCentralEntry(const unsigned char* p, std::size_t available, std::size_t& consumed,
                      ZipEntryInfo& entry) {
    if (available < kCentralSize || read32(p) != kCentralSignature) return false;
    const std::size_t nameLength = read16(p + 28);
    const std::size_t extraLength = read16(p + 30);
    const std::size_t commentLength = read16(p + 32);
    const std::size_t total = kCentralSize + nameLength + extraLength + commentLength;
    if (total > available) return false;

    const std::uint16_t flags = read16(p + 8);
    entry.encrypted = (flags & kFlagEncrypted) != 0;
    entry.method = read16(p + 10);
    entry.dosTime = read16(p + 12);
    entry.dosDate = read16(p + 14);
    entry.crc32 = read32(p + 16);
    const std::uint32_t compressed = read32(p + 20);
    const std::uint32_t uncompressed = read32(p + 24);
    const std::uint32_t externalAttributes = read32(p + 38);
    const std::uint32_t offset = read32(p + 42);
    entry.compressedSize = compressed;
    entry.uncompressedSize = uncompressed;
    entry.localHeaderOffset = offset;

    const char* name = reinterpret_cast<const char*>(p + kCentralSize);
    entry.name.assign(name, nameLength);
    entry.nameTooLong = nameLength > kMaxNameLength;
    entry.isDirectory = (nameLength > 0 && name[nameLength - 1] == '/') ||
                        (externalAttributes & kDosDirectoryAttribute) != 0;

    const bool needUncompressed = uncompressed == 0xFFFFFFFF;
    const bool needCompressed = compressed == 0xFFFFFFFF;
    const bool needOffset = offset == 0xFFFFFFFF;
    if (needUncompressed || needCompressed || needOffset) {
        if (!applyZip64Extra(p + kCentralSize + nameLength, extraLength, needUncompressed,
                             needCompressed, needOffset, entry))
            return false;
    }
    consumed = total;
    return true;
}

bool readCentralDirectory(ZipArchive& archive, const EndRecord& end) {
    if (!fits(end.directoryOffset, end.directorySize, end.recordsStart)) return false;
    if (end.entryCount > end.directorySize / kCentralSize) return false;
    if (end.entryCount > UINT32_MAX) return false;

    const unsigned char* p = archive.data + end.directoryOffset;
    std::size_t left = static_cast<std::size_t>(end.directorySize);
    archive.entries.reserve(static_cast<std::size_t>(end.entryCount));
    for (std::uint64_t i = 0; i < end.entryCount; ++i) {
        ZipEntryInfo entry;
        std::size_t consumed = 0;
        if (!readCentralEntry(p, left, consumed, entry)) return false;
        archive.entries.push_back(std::move(entry));
        p += consumed;
        left -= consumed;
    }
    // More headers than the end record announced: the count is wrong.
    return !(left >= 4 && read32(p) == kCentralSignature);
}

// Locates an entry's compressed bytes after checking its local header.
bool locateData(const ZipArchive& archive, const ZipEntryInfo& entry, const unsigned char*& data) {
    const std::uint64_t offset = entry.localHeaderOffset;
    if (!fits(offset, kLocalSize, archive.size)) return false;
    const unsigned char* local = archive.data + offset;
    if (read32(local) != kLocalSignature) return false;
    const std::uint64_t variable = std::uint64_t{read16(local + 26)} + read16(local + 28);
    if (!fits(offset + kLocalSize, variable, archive.size)) return false;
    const std::uint64_t start = offset + kLocalSize + variable;
    if (!fits(start, entry.compressedSize, archive.size)) return false;
    data = archive.data + start;
    return true;
}

bool usableEntry(const ZipArchive& archive, std::uint32_t index, const ZipEntryInfo*& entry) {
    if (index >= archive.entries.size()) return false;
    entry = &archive.entries[index];
    if (entry->nameTooLong || entry->encrypted) return false;
    if (entry->method == kMethodStored) return entry->compressedSize == entry->uncompressedSize;
    if (entry->method != kMethodDeflate) return false;
    const std::uint64_t bound = entry->compressedSize > (UINT64_MAX - kDeflateSlack) / kMaxDeflateRatio
                                    ? UINT64_MAX
                                    : entry->compressedSize * kMaxDeflateRatio + kDeflateSlack;
    return entry->uncompressedSize <= bound;
}

std::uint32_t updateCrc(std::uint32_t crc, const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        const std::size_t step = std::min(count, kZlibStep);
        crc = static_cast<std::uint32_t>(::crc32(crc, bytes, static_cast<uInt>(step)));
        bytes += step;
        count -= step;
    }
    return crc;
}

struct InflateStream {
    z_stream stream{};
    bool live = false;
    InflateStream() { live = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~InflateStream() {
        if (live) inflateEnd(&stream);
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;
};

// Raw-inflates `compressedSize` bytes. The target hands out the next output space
// (`space(produced, pointer, capacity)`) and takes what was written there
// (`take(pointer, count)`); nothing beyond the declared size ever reaches it.
template <class Space, class Take>
bool inflateEntry(const unsigned char* input, std::uint64_t compressedSize,
                  std::uint64_t declaredSize, std::uint32_t& crc, Space space, Take take) {
    InflateStream inflater;
    if (!inflater.live) return false;
    z_stream& zs = inflater.stream;
    std::uint64_t inputLeft = compressedSize;
    std::uint64_t produced = 0;
    for (;;) {
        if (zs.avail_in == 0 && inputLeft > 0) {
            const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(inputLeft, kZlibStep));
            zs.next_in = const_cast<Bytef*>(input);
            zs.avail_in = static_cast<uInt>(step);
            input += step;
            inputLeft -= step;
        }
        unsigned char* out = nullptr;
        std::size_t capacity = 0;
        space(produced, out, capacity);
        zs.next_out = out;
        zs.avail_out = static_cast<uInt>(capacity);
        const int result = inflate(&zs, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return false;
        const std::size_t written = capacity - zs.avail_out;
        if (written > declaredSize - produced) return false;
        crc = updateCrc(crc, out, written);
        if (written > 0 && !take(out, written)) return false;
        produced += written;
        if (result == Z_STREAM_END) break;
        // Input used up without the stream's end: the data is cut short.
        if (zs.avail_in == 0 && inputLeft == 0 && written == 0) return false;
    }
    return produced == declaredSize;
}

}  // namespace

bool zipOpenMemory(ZipArchive& archive, const void* data, std::size_t size) {
    zipClose(archive);
    if (data == nullptr) return false;
    try {
        archive.data = static_cast<const unsigned char*>(data);
        archive.size = size;
        EndRecord end;
        if (readEndRecord(archive.data, size, end) && readCentralDirectory(archive, end)) return true;
    } catch (...) {
    }
    zipClose(archive);
    return false;
}

std::uint32_t zipEntryCount(const ZipArchive& archive) {
    return static_cast<std::uint32_t>(archive.entries.size());
}

bool zipEntryStat(const ZipArchive& archive, std::uint32_t index, ZipEntryInfo& out) {
    if (index >= archive.entries.size()) return false;
    const ZipEntryInfo& entry = archive.entries[index];
    if (entry.nameTooLong) return false;
    try {
        out = entry;
    } catch (...) {
        return false;
    }
    return true;
}

bool zipExtractToSink(const ZipArchive& archive, std::uint32_t index, const ZipSink& sink) {
    const ZipEntryInfo* entry = nullptr;
    const unsigned char* data = nullptr;
    if (!usableEntry(archive, index, entry) || !locateData(archive, *entry, data)) return false;
    try {
        std::uint32_t crc = 0;
        if (entry->method == kMethodStored) {
            // The stored bytes go to the sink straight from the archive, in bounded pieces.
            std::uint64_t left = entry->uncompressedSize;
            while (left > 0) {
                const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
                crc = updateCrc(crc, data, step);
                if (!sink(data, step)) return false;
                data += step;
                left -= step;
            }
            return crc == entry->crc32;
        }
        std::vector<unsigned char> buffer(kChunk);
        auto space = [&](std::uint64_t, unsigned char*& out, std::size_t& capacity) {
            out = buffer.data();
            capacity = buffer.size();
        };
        auto take = [&](const unsigned char* bytes, std::size_t count) { return sink(bytes, count); };
        return inflateEntry(data, entry->compressedSize, entry->uncompressedSize, crc, space, take) &&
               crc == entry->crc32;
    } catch (...) {
        return false;
    }
}

bool zipExtractToHeap(const ZipArchive& archive, std::uint32_t index,
                      std::vector<unsigned char>& out, std::uint64_t maxSize) {
    out.clear();
    const ZipEntryInfo* entry = nullptr;
    const unsigned char* data = nullptr;
    if (!usableEntry(archive, index, entry) || entry->uncompressedSize > maxSize) return false;
    if (entry->uncompressedSize > SIZE_MAX || !locateData(archive, *entry, data)) return false;
    const std::size_t declared = static_cast<std::size_t>(entry->uncompressedSize);
    bool ok = false;
    try {
        std::vector<unsigned char> result;
        result.reserve(declared);
        std::uint32_t crc = 0;
        if (entry->method == kMethodStored) {
            result.assign(data, data + declared);
            crc = updateCrc(crc, result.data(), declared);
            ok = crc == entry->crc32;
        } else {
            result.resize(declared);
            // Output past the declared size lands here, so it is seen and refused.
            unsigned char overflow[64];
            auto space = [&](std::uint64_t produced, unsigned char*& target, std::size_t& capacity) {
                const std::size_t left = declared - static_cast<std::size_t>(produced);
                if (left == 0) {
                    target = overflow;
                    capacity = sizeof overflow;
                } else {
                    target = result.data() + produced;
                    capacity = std::min(left, kZlibStep);
                }
            };
            auto take = [](const unsigned char*, std::size_t) { return true; };
            ok = inflateEntry(data, entry->compressedSize, entry->uncompressedSize, crc, space, take) &&
                 crc == entry->crc32;
        }
        if (ok) out.swap(result);
    } catch (...) {
        ok = false;
    }
    return ok;
}

void zipClose(ZipArchive& archive) {
    archive.data = nullptr;
    archive.size = 0;
    archive.entries.clear();
    archive.entries.shrink_to_fit();
}
