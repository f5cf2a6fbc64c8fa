// Reader for zip archives held whole in memory, on zlib.
// The archive bytes are read in place and must outlive the ZipArchive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ZipEntryInfo {
    std::string name;            // raw name bytes as stored (UTF-8 expected)
    bool isDirectory = false;    // name ends with '/' or DOS directory attribute
    bool nameTooLong = false;    // longer than 511 bytes: the entry cannot be used
    bool encrypted = false;
    std::uint16_t method = 0;    // 0 stored, 8 deflate; anything else is unsupported
    std::uint32_t crc32 = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
    std::uint64_t localHeaderOffset = 0;
};

struct ZipArchive {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::vector<ZipEntryInfo> entries;  // central directory, in archive order
};

// Opens the archive over the caller's bytes; false when they are not a usable zip.
bool zipOpenMemory(ZipArchive& archive, const void* data, std::size_t size);
std::uint32_t zipEntryCount(const ZipArchive& archive);
// False for an index out of range or an entry whose name is too long.
bool zipEntryStat(const ZipArchive& archive, std::uint32_t index, ZipEntryInfo& out);

// Receives the inflated bytes in pieces of 1 to kZipSinkPieceSize bytes; returning false
// aborts the extraction.
constexpr std::size_t kZipSinkPieceSize = 256 * 1024;
using ZipSink = std::function<bool(const unsigned char* bytes, std::size_t count)>;

// Inflates one file entry through a fixed-size buffer into the sink. True only when
// the whole entry was delivered and its size and CRC-32 match the archive's record.
// Directory entries, encrypted entries and methods other than 0 and 8 give false; so
// does a sink that throws. Bytes already delivered before a failure are not taken back.
bool zipExtractToSink(const ZipArchive& archive, std::uint32_t index, const ZipSink& sink);
// Inflates one file entry into memory; refuses (false) entries whose declared size
// exceeds maxSize, or more than their compressed bytes could inflate to, before
// allocating or inflating anything. On failure `out` is left empty.
bool zipExtractToHeap(const ZipArchive& archive, std::uint32_t index,
                      std::vector<unsigned char>& out, std::uint64_t maxSize);
void zipClose(ZipArchive& archive);
