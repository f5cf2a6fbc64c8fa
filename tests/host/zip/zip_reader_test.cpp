#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "zip_test_support.h"

namespace {

using ziptest::Bytes;
using ziptest::OpenedZip;
using ziptest::content;
using ziptest::readFixture;

struct ExpectedEntry {
    std::string name;
    bool isDirectory;
    std::uint16_t method;
    std::string seed;  // content(seed, size) is the original; empty for folders
    std::size_t size;
};

struct ArchiveCase {
    const char* file;
    std::vector<ExpectedEntry> entries;
};

std::ostream& operator<<(std::ostream& os, const ArchiveCase& c) { return os << c.file; }

const std::vector<ExpectedEntry> kBaseThree = {
    {"first.txt", false, 8, "first", 1000},
    {"middle.txt", false, 0, "middle", 1000},
    {"last.txt", false, 8, "last", 1000},
};

const std::vector<ArchiveCase> kGoodArchives = {
    {"infozip_tree.zip",
     {{"bin/", true, 0, "", 0},
      {"bin/data.bin", false, 0, "data", 2000},
      {"deep/", true, 0, "", 0},
      {"deep/a/", true, 0, "", 0},
      {"deep/a/b/", true, 0, "", 0},
      {"deep/a/b/c/", true, 0, "", 0},
      {"deep/a/b/c/leaf.txt", false, 8, "leaf", 1200},
      {"docs/", true, 0, "", 0},
      {"docs/readme.txt", false, 8, "readme", 5000},
      {"donn\xC3\xA9" "es/", true, 0, "", 0},
      {"donn\xC3\xA9" "es/\xC3\xA9t\xC3\xA9.txt", false, 8, "utf8", 900}}},
    {"infozip_piped.zip",
     {{"docs/readme.txt", false, 8, "readme", 5000}, {"bin/data.bin", false, 8, "data", 2000}}},
    {"infozip_stdin.zip", {{"-", false, 8, "stdin", 3000}}},
    {"python_mixed.zip",
     {{"stored.txt", false, 0, "stored", 1500},
      {"deflated.txt", false, 8, "deflated", 4000},
      {"folder/", true, 0, "", 0},
      {"folder/nested/inner.txt", false, 8, "inner", 700},
      {"\xC3\x9Cn\xC3\xAF" "c\xC3\xB6" "d\xC3\xA9/\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt", false, 8, "cyr", 640},
      {"win\\style\\path.txt", false, 8, "backslash", 300},
      {"empty.txt", false, 0, "empty", 0},
      {"big.txt", false, 8, "big", 700000}}},
    {"python_comment.zip", {{"a.txt", false, 8, "a", 800}, {"b.txt", false, 0, "b", 200}}},
    {"python_stream.zip",
     {{"streamed/one.txt", false, 8, "one", 3000}, {"streamed/two.txt", false, 0, "two", 500}}},
    {"python_force_zip64.zip",
     {{"z64/deflated.txt", false, 8, "z64a", 2500}, {"z64/stored.txt", false, 0, "z64b", 400}}},
    {"zip64_records.zip",
     {{"big64/stored.bin", false, 0, "s64", 1000}, {"big64/deflated.txt", false, 8, "d64", 3000}}},
    {"base_three.zip", kBaseThree},
};

std::uint32_t crcOf(const Bytes& b) {
    return static_cast<std::uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size())));
}

bool extractBySink(const ZipArchive& archive, std::uint32_t index, Bytes& out) {
    out.clear();
    return zipExtractToSink(archive, index, [&](const unsigned char* p, std::size_t n) {
        out.insert(out.end(), p, p + n);
        return true;
    });
}

class GoodArchiveTest : public testing::TestWithParam<ArchiveCase> {};

TEST_P(GoodArchiveTest, StatsAndExtractsEveryEntryBothWays) {
    const ArchiveCase& c = GetParam();
    OpenedZip zip(readFixture(c.file));
    ASSERT_FALSE(zip.bytes.empty());
    ASSERT_TRUE(zip.opened);
    EXPECT_EQ(zip.archive.data, zip.bytes.data()) << "the archive is read in place";
    ASSERT_EQ(zipEntryCount(zip.archive), c.entries.size());
    for (std::uint32_t i = 0; i < c.entries.size(); ++i) {
        const ExpectedEntry& want = c.entries[i];
        SCOPED_TRACE(want.name);
        ZipEntryInfo info;
        ASSERT_TRUE(zipEntryStat(zip.archive, i, info));
        EXPECT_EQ(info.name, want.name);
        EXPECT_EQ(info.isDirectory, want.isDirectory);
        EXPECT_EQ(info.method, want.method);
        EXPECT_FALSE(info.encrypted);
        EXPECT_FALSE(info.nameTooLong);
        EXPECT_EQ(info.uncompressedSize, want.size);
        if (want.method == 0) {
            EXPECT_EQ(info.compressedSize, want.size);
        }

        const Bytes original = want.isDirectory ? Bytes() : content(want.seed, want.size);
        EXPECT_EQ(info.crc32, crcOf(original));
        if (want.isDirectory) continue;  // folders are made by the caller, not extracted
        Bytes heap;
        ASSERT_TRUE(zipExtractToHeap(zip.archive, i, heap, want.size));
        EXPECT_TRUE(heap == original);
        EXPECT_EQ(heap.capacity(), want.size) << "exactly the declared size is reserved";
        Bytes streamed;
        ASSERT_TRUE(extractBySink(zip.archive, i, streamed));
        EXPECT_TRUE(streamed == original);
    }
    ZipEntryInfo past;
    EXPECT_FALSE(zipEntryStat(zip.archive, zipEntryCount(zip.archive), past));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, GoodArchiveTest, testing::ValuesIn(kGoodArchives));

TEST(ZipStat, ReportsTimeOffsetsAndSizesFromTheCentralDirectory) {
    OpenedZip zip(readFixture("python_mixed.zip"));
    ASSERT_TRUE(zip.opened);
    ZipEntryInfo first;
    ZipEntryInfo second;
    ASSERT_TRUE(zipEntryStat(zip.archive, 0, first));
    ASSERT_TRUE(zipEntryStat(zip.archive, 1, second));
    // 2024-05-17 12:30:00 in DOS form.
    EXPECT_EQ(first.dosDate, ((2024 - 1980) << 9) | (5 << 5) | 17);
    EXPECT_EQ(first.dosTime, (12 << 11) | (30 << 5));
    EXPECT_EQ(first.localHeaderOffset, 0u);
    EXPECT_EQ(second.localHeaderOffset, 30u + first.name.size() + first.compressedSize);
    EXPECT_LT(second.compressedSize, second.uncompressedSize);
}

TEST(ZipStat, TakesSizesAndOffsetsFromZip64ExtraFields) {
    OpenedZip zip(readFixture("zip64_records.zip"));
    ASSERT_TRUE(zip.opened);
    ZipEntryInfo first;
    ZipEntryInfo second;
    ASSERT_TRUE(zipEntryStat(zip.archive, 0, first));
    ASSERT_TRUE(zipEntryStat(zip.archive, 1, second));
    EXPECT_EQ(first.compressedSize, 1000u);
    EXPECT_EQ(first.localHeaderOffset, 0u);
    // Local header of the first entry: 30 + name + 20-byte ZIP64 extra, then its data.
    EXPECT_EQ(second.localHeaderOffset, 30u + first.name.size() + 20u + 1000u);
    EXPECT_NE(second.compressedSize, 0xFFFFFFFFu);
}

TEST(ZipStat, DosDirectoryAttributeMarksAFolderWithoutSlash) {
    OpenedZip zip(ziptest::buildStoredZip({{"plainfolder", {}, 0x10}, {"file", content("f", 10), 0x20}}));
    ASSERT_TRUE(zip.opened);
    ZipEntryInfo folder;
    ZipEntryInfo file;
    ASSERT_TRUE(zipEntryStat(zip.archive, 0, folder));
    ASSERT_TRUE(zipEntryStat(zip.archive, 1, file));
    EXPECT_TRUE(folder.isDirectory);
    EXPECT_FALSE(file.isDirectory);
}

TEST(ZipStat, NameOver511BytesIsMarkedKeptWholeAndRefused) {
    OpenedZip zip(readFixture("long_names.zip"));
    ASSERT_TRUE(zip.opened);
    ASSERT_EQ(zipEntryCount(zip.archive), 3u);
    ZipEntryInfo info;
    ASSERT_TRUE(zipEntryStat(zip.archive, 0, info));
    EXPECT_EQ(info.name, std::string(511, 'n'));

    EXPECT_FALSE(zipEntryStat(zip.archive, 1, info));
    EXPECT_TRUE(zip.archive.entries[1].nameTooLong);
    EXPECT_EQ(zip.archive.entries[1].name, std::string(512, 'm'));
    Bytes out;
    EXPECT_FALSE(zipExtractToHeap(zip.archive, 1, out, 1 << 20));

    ASSERT_TRUE(zipEntryStat(zip.archive, 2, info));
    ASSERT_TRUE(zipExtractToHeap(zip.archive, 2, out, 1 << 20));
    EXPECT_TRUE(out == content("short", 300));
}

struct BadBytesCase {
    const char* label;
    Bytes bytes;
};

std::ostream& operator<<(std::ostream& os, const BadBytesCase& c) { return os << c.label; }

Bytes withEndRecordField(std::size_t offsetInRecord, std::uint16_t value) {
    Bytes b = readFixture("base_three.zip");
    const std::size_t at = b.size() - 22 + offsetInRecord;
    b[at] = static_cast<unsigned char>(value);
    b[at + 1] = static_cast<unsigned char>(value >> 8);
    return b;
}

std::vector<BadBytesCase> badArchives() {
    std::vector<BadBytesCase> cases;
    for (const char* file :
         {"truncated.zip", "no_end_record.zip", "cd_offset_beyond.zip", "cd_size_beyond.zip",
          "count_too_small.zip", "count_too_large.zip", "count_exceeds_directory.zip",
          "bad_zip64_locator.zip"})
        cases.push_back({file, readFixture(file)});
    cases.push_back({"nothing", {}});
    Bytes shortEnd = readFixture("empty.zip");
    shortEnd.pop_back();
    cases.push_back({"21 bytes of end record", shortEnd});
    cases.push_back({"text", Bytes(300, 'x')});
    // Saturated counts announce ZIP64 records that are not there.
    cases.push_back({"saturated count without ZIP64", withEndRecordField(10, 0xFFFF)});
    cases.push_back({"second disk", withEndRecordField(4, 1)});
    return cases;
}

class BadArchiveTest : public testing::TestWithParam<BadBytesCase> {};

TEST_P(BadArchiveTest, OpenFailsAndLeavesNoEntries) {
    const Bytes& bytes = GetParam().bytes;
    ZipArchive archive;
    archive.entries.resize(2);  // left over from an earlier archive
    EXPECT_FALSE(zipOpenMemory(archive, bytes.data(), bytes.size()));
    EXPECT_EQ(zipEntryCount(archive), 0u);
    Bytes out;
    EXPECT_FALSE(zipExtractToHeap(archive, 0, out, 1 << 20));
}

INSTANTIATE_TEST_SUITE_P(Damaged, BadArchiveTest, testing::ValuesIn(badArchives()));

TEST(ZipOpen, EmptyArchiveOpensWithNoEntries) {
    OpenedZip zip(readFixture("empty.zip"));
    ASSERT_TRUE(zip.opened);
    EXPECT_EQ(zipEntryCount(zip.archive), 0u);
    ZipEntryInfo info;
    EXPECT_FALSE(zipEntryStat(zip.archive, 0, info));
    Bytes out;
    EXPECT_FALSE(zipExtractToHeap(zip.archive, 0, out, 100));
    EXPECT_FALSE(zipExtractToSink(zip.archive, 0, [](const unsigned char*, std::size_t) { return true; }));
}

TEST(ZipOpen, EveryShorterPrefixFails) {
    const Bytes full = readFixture("base_three.zip");
    ASSERT_FALSE(full.empty());
    for (std::size_t n = 0; n < full.size(); ++n) {
        ZipArchive archive;
        EXPECT_FALSE(zipOpenMemory(archive, full.data(), n)) << n;
    }
}

TEST(ZipOpen, ReopeningReplacesTheEntriesAndCloseForgetsThem) {
    const Bytes three = readFixture("base_three.zip");
    const Bytes one = readFixture("infozip_stdin.zip");
    ZipArchive archive;
    ASSERT_TRUE(zipOpenMemory(archive, three.data(), three.size()));
    ASSERT_TRUE(zipOpenMemory(archive, one.data(), one.size()));
    EXPECT_EQ(zipEntryCount(archive), 1u);
    EXPECT_EQ(archive.data, one.data());
    zipClose(archive);
    EXPECT_EQ(zipEntryCount(archive), 0u);
    EXPECT_EQ(archive.data, nullptr);
}

struct DamagedEntryCase {
    const char* file;
    std::uint32_t badIndex;
};

std::ostream& operator<<(std::ostream& os, const DamagedEntryCase& c) { return os << c.file; }

class DamagedEntryTest : public testing::TestWithParam<DamagedEntryCase> {};

TEST_P(DamagedEntryTest, OnlyTheDamagedEntryFails) {
    OpenedZip zip(readFixture(GetParam().file));
    ASSERT_TRUE(zip.opened);
    ASSERT_EQ(zipEntryCount(zip.archive), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        Bytes heap = {1, 2, 3};
        Bytes streamed;
        if (i == GetParam().badIndex) {
            EXPECT_FALSE(zipExtractToHeap(zip.archive, i, heap, 1 << 20));
            EXPECT_TRUE(heap.empty());
            EXPECT_FALSE(extractBySink(zip.archive, i, streamed));
            EXPECT_LE(streamed.size(), zip.archive.entries[i].uncompressedSize);
        } else {
            const Bytes original = content(kBaseThree[i].seed, kBaseThree[i].size);
            ASSERT_TRUE(zipExtractToHeap(zip.archive, i, heap, 1 << 20));
            EXPECT_TRUE(heap == original);
            ASSERT_TRUE(extractBySink(zip.archive, i, streamed));
            EXPECT_TRUE(streamed == original);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DamagedEntryTest,
                         testing::Values(DamagedEntryCase{"crc_mismatch_middle.zip", 1},
                                         DamagedEntryCase{"method_12.zip", 0},
                                         DamagedEntryCase{"encrypted_flag.zip", 2},
                                         DamagedEntryCase{"local_offset_beyond.zip", 1},
                                         DamagedEntryCase{"local_bad_signature.zip", 1},
                                         DamagedEntryCase{"inflates_past_declared.zip", 0},
                                         DamagedEntryCase{"inflates_short_of_declared.zip", 0},
                                         DamagedEntryCase{"deflate_cut_short.zip", 0}));

TEST(ZipStat, ReportsUnsupportedMethodAndEncryption) {
    OpenedZip method(readFixture("method_12.zip"));
    OpenedZip encrypted(readFixture("encrypted_flag.zip"));
    ASSERT_TRUE(method.opened);
    ASSERT_TRUE(encrypted.opened);
    ZipEntryInfo info;
    ASSERT_TRUE(zipEntryStat(method.archive, 0, info));
    EXPECT_EQ(info.method, 12);
    ASSERT_TRUE(zipEntryStat(encrypted.archive, 2, info));
    EXPECT_TRUE(info.encrypted);
}

TEST(ZipExtract, OutputBeyondTheDeclaredSizeNeverReachesTheSink) {
    OpenedZip zip(readFixture("inflates_past_declared.zip"));
    ASSERT_TRUE(zip.opened);
    const std::uint64_t declared = zip.archive.entries[0].uncompressedSize;
    std::uint64_t delivered = 0;
    EXPECT_FALSE(zipExtractToSink(zip.archive, 0, [&](const unsigned char*, std::size_t n) {
        delivered += n;
        return true;
    }));
    EXPECT_LE(delivered, declared);
}

TEST(ZipExtract, DeflatedSinkChunksAreBounded) {
    OpenedZip zip(readFixture("python_mixed.zip"));
    ASSERT_TRUE(zip.opened);
    const std::uint32_t big = 7;
    ASSERT_EQ(zip.archive.entries[big].name, "big.txt");
    std::vector<std::size_t> chunks;
    Bytes joined;
    ASSERT_TRUE(zipExtractToSink(zip.archive, big, [&](const unsigned char* p, std::size_t n) {
        chunks.push_back(n);
        joined.insert(joined.end(), p, p + n);
        return true;
    }));
    EXPECT_GE(chunks.size(), 3u);
    EXPECT_LE(*std::max_element(chunks.begin(), chunks.end()), 256u * 1024u);
    EXPECT_TRUE(joined == content("big", 700000));
}

TEST(ZipExtract, StoredSinkChunksAreBoundedAndComeStraightFromTheArchive) {
    const Bytes original = content("huge", 600000);
    OpenedZip zip(ziptest::buildStoredZip({{"huge.bin", original, 0}}));
    ASSERT_TRUE(zip.opened);
    const unsigned char* begin = zip.bytes.data();
    const unsigned char* end = begin + zip.bytes.size();
    std::vector<std::size_t> chunks;
    Bytes joined;
    bool inPlace = true;
    ASSERT_TRUE(zipExtractToSink(zip.archive, 0, [&](const unsigned char* p, std::size_t n) {
        inPlace = inPlace && p >= begin && p + n <= end;
        chunks.push_back(n);
        joined.insert(joined.end(), p, p + n);
        return true;
    }));
    EXPECT_TRUE(inPlace);
    EXPECT_GE(chunks.size(), 3u);
    EXPECT_LE(*std::max_element(chunks.begin(), chunks.end()), 256u * 1024u);
    EXPECT_TRUE(joined == original);
}

TEST(ZipExtract, SinkReturningFalseStopsTheExtraction) {
    OpenedZip zip(readFixture("python_mixed.zip"));
    ASSERT_TRUE(zip.opened);
    for (std::uint32_t index : {0u, 7u}) {  // stored, and deflated over several chunks
        int calls = 0;
        EXPECT_FALSE(zipExtractToSink(zip.archive, index, [&](const unsigned char*, std::size_t) {
            ++calls;
            return false;
        }));
        EXPECT_EQ(calls, 1);
    }
}

TEST(ZipExtract, HeapRefusesADeclaredSizeOverTheLimit) {
    OpenedZip zip(readFixture("python_mixed.zip"));
    ASSERT_TRUE(zip.opened);
    Bytes out = {9};
    EXPECT_FALSE(zipExtractToHeap(zip.archive, 7, out, 699999));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(out.capacity(), 1u) << "nothing was allocated for the refused entry";
    ASSERT_TRUE(zipExtractToHeap(zip.archive, 7, out, 700000));
    EXPECT_EQ(out.size(), 700000u);
}

TEST(ZipExtract, HeapRefusesAnImpossibleDeclaredSizeWithoutAllocating) {
    // A tiny deflated entry claiming about 4 GiB: deflate cannot expand that far, so the
    // claim is refused even when the caller's limit would allow it.
    Bytes bytes = readFixture("base_three.zip");
    const std::size_t field = bytes.size() - 22;
    const std::uint32_t centralOffset = bytes[field + 16] | (bytes[field + 17] << 8);
    for (int k = 0; k < 4; ++k) bytes[centralOffset + 24 + k] = 0xF0;
    OpenedZip zip(std::move(bytes));
    ASSERT_TRUE(zip.opened);
    ASSERT_GT(zip.archive.entries[0].uncompressedSize, 0xF0000000u);
    Bytes out;
    EXPECT_FALSE(zipExtractToHeap(zip.archive, 0, out, UINT64_MAX));
    EXPECT_EQ(out.capacity(), 0u);
}

TEST(ZipExtract, IndexOutOfRangeFails) {
    OpenedZip zip(readFixture("base_three.zip"));
    ASSERT_TRUE(zip.opened);
    Bytes out;
    EXPECT_FALSE(zipExtractToHeap(zip.archive, 3, out, 1 << 20));
    EXPECT_FALSE(zipExtractToSink(zip.archive, 3, [](const unsigned char*, std::size_t) { return true; }));
}

// Any single flipped bit anywhere in the archive either makes the reader refuse, or what
// it extracts is still exactly the original: damage is never passed on as content.
TEST(ZipRobustness, FlippedBitNeverYieldsWrongContent) {
    const Bytes pristine = readFixture("base_three.zip");
    ASSERT_FALSE(pristine.empty());
    for (std::size_t pos = 0; pos < pristine.size(); ++pos) {
        Bytes damaged = pristine;
        damaged[pos] ^= static_cast<unsigned char>(1u << (pos % 8));
        ZipArchive archive;
        if (!zipOpenMemory(archive, damaged.data(), damaged.size())) continue;
        for (std::uint32_t i = 0; i < zipEntryCount(archive); ++i) {
            Bytes heap;
            Bytes streamed;
            const bool heapOk = zipExtractToHeap(archive, i, heap, 1 << 20);
            const bool sinkOk = extractBySink(archive, i, streamed);
            EXPECT_EQ(heapOk, sinkOk) << "byte " << pos << " entry " << i;
            if (heapOk && i < kBaseThree.size()) {
                const Bytes original = content(kBaseThree[i].seed, kBaseThree[i].size);
                EXPECT_TRUE(heap == original) << "byte " << pos << " entry " << i;
                EXPECT_TRUE(streamed == original) << "byte " << pos << " entry " << i;
            }
        }
    }
}

}  // namespace
