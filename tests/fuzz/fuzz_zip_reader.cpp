// Patch archives as downloaded: open, stat every entry, extract every entry to memory,
// through the sink, and into a scratch folder the way the launcher lays entries out.
// Properties:
//  - an entry reported as extracted has its declared size and CRC-32 (recomputed);
//  - memory and sink extraction agree, in result and bytes, and sink pieces are bounded;
//  - the result equals a one-shot reference inflate of the entry's data;
//  - a file written under the scratch folder stays below it and holds the entry's bytes.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "fuzz/fuzz_support.h"
#include "patching/entry_path.h"
#include "zip/zip_reader.h"

namespace fs = std::filesystem;

namespace {

// No real patch entry is this large; inputs are a few KB, so only a lie gets near it.
constexpr std::uint64_t kMaxHeap = 16u << 20;

std::uint32_t crcOf(const std::vector<unsigned char>& bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    if (!bytes.empty()) crc = crc32(crc, bytes.data(), static_cast<uInt>(bytes.size()));
    return static_cast<std::uint32_t>(crc);
}

std::uint32_t le(const std::uint8_t* p, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// What a careful reader must make of the entry: its data found through the local header,
// inflated in one call into room for one byte more than declared, and accepted only when
// the stream ends on its last byte with the declared size and CRC.
bool referenceExtract(const std::uint8_t* data, std::size_t size, const ZipEntryInfo& e,
                      std::vector<unsigned char>& out) {
    out.clear();
    if (e.nameTooLong || e.isDirectory || e.encrypted) return false;
    if (e.method != 0 && e.method != 8) return false;
    if (e.uncompressedSize > kMaxHeap || e.localHeaderOffset > size ||
        size - e.localHeaderOffset < 30)
        return false;
    const std::uint8_t* local = data + e.localHeaderOffset;
    if (le(local, 4) != 0x04034b50) return false;
    const std::uint64_t start = e.localHeaderOffset + 30 + le(local + 26, 2) + le(local + 28, 2);
    if (start > size || e.compressedSize > size - start) return false;
    const std::uint8_t* bytes = data + start;

    if (e.method == 0) {
        if (e.compressedSize != e.uncompressedSize) return false;
        out.assign(bytes, bytes + e.compressedSize);
    } else {
        out.resize(static_cast<std::size_t>(e.uncompressedSize) + 1);
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
        z.next_in = const_cast<Bytef*>(bytes);
        z.avail_in = static_cast<uInt>(e.compressedSize);
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        const int rc = inflate(&z, Z_FINISH);
        const bool ended = rc == Z_STREAM_END && z.avail_in == 0 &&
                           z.total_out == e.uncompressedSize;
        inflateEnd(&z);
        if (!ended) {
            out.clear();
            return false;
        }
        out.resize(static_cast<std::size_t>(e.uncompressedSize));
    }
    if (crcOf(out) != e.crc32) {
        out.clear();
        return false;
    }
    return true;
}

const fs::path& scratchRoot() {
    static const fs::path root = [] {
        std::error_code ec;
        fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm")
                                                          : fs::temp_directory_path(ec);
        fs::path dir = base / ("quolva-fuzz-zip-" + std::to_string(getpid()));
        fs::create_directories(dir, ec);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(scratchRoot(), ignored);
        });
        return fs::canonical(dir, ec);
    }();
    return root;
}

// The root itself counts as below it: a folder entry "./" names the root.
bool isBelow(const fs::path& path, const fs::path& root) {
    std::error_code ec;
    const std::string resolved = fs::weakly_canonical(path, ec).string();
    if (ec) return false;
    const std::string r = root.string();
    return resolved.compare(0, r.size(), r) == 0 &&
           (resolved.size() == r.size() || resolved[r.size()] == '/');
}

// The launcher's layout of one entry, on the host: relative path, safety check, folders,
// then the file written through the sink. Separators become '/' here.
void extractToFolder(const ZipArchive& zip, std::uint32_t index, const ZipEntryInfo& info,
                     const std::vector<unsigned char>* expected) {
    const std::string relative = entryRelativePath(info.name);
    if (!isSafeRelativePath(relative)) return;
    std::string hostRelative = relative;
    for (char& c : hostRelative)
        if (c == '\\') c = '/';
    const fs::path& root = scratchRoot();
    const fs::path target = root / hostRelative;
    FUZZ_CHECK(isBelow(target, root), relative.c_str());

    std::error_code ec;
    if (isDirectoryEntry(info.isDirectory, relative)) {
        fs::create_directories(target, ec);
        return;
    }
    fs::create_directories(target.parent_path(), ec);
    bool written = false;
    {
        std::ofstream file(target, std::ios::binary | std::ios::trunc);
        if (!file) return;
        written = zipExtractToSink(zip, index, [&](const unsigned char* bytes, std::size_t n) {
            file.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(n));
            return static_cast<bool>(file);
        });
        file.close();
        written = written && !file.fail();
    }
    if (!written) return;
    std::ifstream back(target, std::ios::binary);
    const std::vector<unsigned char> onDisk((std::istreambuf_iterator<char>(back)),
                                            std::istreambuf_iterator<char>());
    FUZZ_CHECK(onDisk.size() == info.uncompressedSize, relative.c_str());
    FUZZ_CHECK(crcOf(onDisk) == info.crc32, relative.c_str());
    if (expected != nullptr) FUZZ_CHECK(onDisk == *expected, relative.c_str());
}

void clearScratch() {
    std::error_code ec;
    for (const auto& child : fs::directory_iterator(scratchRoot(), ec)) {
        std::error_code ignored;
        fs::remove_all(child.path(), ignored);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ZipArchive zip;
    if (!zipOpenMemory(zip, data, size)) {
        FUZZ_CHECK(zipEntryCount(zip) == 0, "a refused archive holds nothing");
        return 0;
    }
    const std::uint32_t count = zipEntryCount(zip);
    ZipEntryInfo spare;
    FUZZ_CHECK(!zipEntryStat(zip, count, spare), "index past the end");
    clearScratch();

    for (std::uint32_t index = 0; index < count; ++index) {
        ZipEntryInfo info;
        if (!zipEntryStat(zip, index, info)) {
            std::vector<unsigned char> out;
            FUZZ_CHECK(!zipExtractToHeap(zip, index, out, kMaxHeap), "unstatable entry");
            continue;
        }
        FUZZ_CHECK(!info.nameTooLong && info.name.size() <= 511, "stat gives usable names");

        std::vector<unsigned char> heap;
        const bool inMemory = zipExtractToHeap(zip, index, heap, kMaxHeap);
        if (inMemory) {
            FUZZ_CHECK(heap.size() == info.uncompressedSize, "declared size");
            FUZZ_CHECK(crcOf(heap) == info.crc32, "declared CRC");
        } else {
            FUZZ_CHECK(heap.empty(), "a failed extraction leaves nothing");
        }

        std::vector<unsigned char> sunk;
        bool piecesBounded = true;
        const bool throughSink = zipExtractToSink(zip, index, [&](const unsigned char* b,
                                                                  std::size_t n) {
            piecesBounded = piecesBounded && n >= 1 && n <= kZipSinkPieceSize;
            sunk.insert(sunk.end(), b, b + n);
            return sunk.size() <= kMaxHeap;
        });
        FUZZ_CHECK(piecesBounded, "sink pieces of 1 to kZipSinkPieceSize bytes");
        if (info.uncompressedSize <= kMaxHeap) {
            FUZZ_CHECK(throughSink == inMemory, "sink and memory agree");
            if (inMemory) FUZZ_CHECK(sunk == heap, "sink and memory bytes agree");
        }

        std::vector<unsigned char> reference;
        const bool referenceOk = referenceExtract(data, size, info, reference);
        if (info.uncompressedSize <= kMaxHeap) {
            FUZZ_CHECK(inMemory == referenceOk, "reference inflate agrees");
            if (inMemory) FUZZ_CHECK(heap == reference, "reference bytes agree");
        }

        extractToFolder(zip, index, info, inMemory ? &heap : nullptr);
    }
    zipClose(zip);
    FUZZ_CHECK(zipEntryCount(zip) == 0, "closed");
    return 0;
}
