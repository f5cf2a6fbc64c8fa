// Shared helpers of the zip reader tests: fixture loading, the fixtures' content
// generator, sink collection, and a minimal writer of stored archives for cases too big
// for a fixture.
#pragma once

#include "zip/zip_reader.h"

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ziptest {

using Bytes = std::vector<unsigned char>;

// Same as content() in tests/fixtures/zip/make_fixtures.py.
inline Bytes content(const std::string& seed, std::size_t size) {
    std::string out;
    out.reserve(size + 32);
    for (unsigned i = 0; out.size() < size; ++i) out += seed + ":" + std::to_string(i % 64) + "|";
    out.resize(size);
    return Bytes(out.begin(), out.end());
}

inline Bytes readFixture(const std::string& name) {
    std::ifstream in(std::string(QUOLVA_SOURCE_DIR) + "/tests/fixtures/zip/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::uint32_t crcOf(const Bytes& b) {
    return static_cast<std::uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size())));
}

// What a sink saw: the bytes in order and the size of every piece.
struct SinkResult {
    bool ok = false;
    Bytes bytes;
    std::vector<std::size_t> pieces;
};

inline SinkResult extractBySink(const ZipArchive& archive, std::uint32_t index) {
    SinkResult r;
    r.ok = zipExtractToSink(archive, index, [&](const unsigned char* p, std::size_t n) {
        r.pieces.push_back(n);
        r.bytes.insert(r.bytes.end(), p, p + n);
        return true;
    });
    return r;
}

// The archive reads its bytes in place, so both live together and never move.
struct OpenedZip {
    Bytes bytes;
    ZipArchive archive;
    bool opened = false;
    explicit OpenedZip(Bytes data) : bytes(std::move(data)) {
        opened = zipOpenMemory(archive, bytes.data(), bytes.size());
    }
    OpenedZip(const OpenedZip&) = delete;
    OpenedZip& operator=(const OpenedZip&) = delete;
    ~OpenedZip() { zipClose(archive); }
};

struct StoredEntry {
    std::string name;
    Bytes data;
    std::uint32_t externalAttributes = 0;
};

inline void put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

inline void put32(Bytes& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

inline Bytes buildStoredZip(const std::vector<StoredEntry>& entries) {
    Bytes out;
    Bytes central;
    for (const StoredEntry& e : entries) {
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, e.data.data(), static_cast<uInt>(e.data.size())));
        const auto offset = static_cast<std::uint32_t>(out.size());
        const auto size = static_cast<std::uint32_t>(e.data.size());
        put32(out, 0x04034b50);
        for (std::uint32_t v : {20u, 0u, 0u, 0u, 0u}) put16(out, v);
        put32(out, crc);
        put32(out, size);
        put32(out, size);
        put16(out, static_cast<std::uint32_t>(e.name.size()));
        put16(out, 0);
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), e.data.begin(), e.data.end());

        put32(central, 0x02014b50);
        for (std::uint32_t v : {20u, 20u, 0u, 0u, 0u, 0u}) put16(central, v);
        put32(central, crc);
        put32(central, size);
        put32(central, size);
        put16(central, static_cast<std::uint32_t>(e.name.size()));
        for (std::uint32_t v : {0u, 0u, 0u, 0u}) put16(central, v);
        put32(central, e.externalAttributes);
        put32(central, offset);
        central.insert(central.end(), e.name.begin(), e.name.end());
    }
    const auto centralOffset = static_cast<std::uint32_t>(out.size());
    out.insert(out.end(), central.begin(), central.end());
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<std::uint32_t>(entries.size()));
    put16(out, static_cast<std::uint32_t>(entries.size()));
    put32(out, static_cast<std::uint32_t>(central.size()));
    put32(out, centralOffset);
    put16(out, 0);
    return out;
}

}  // namespace ziptest
