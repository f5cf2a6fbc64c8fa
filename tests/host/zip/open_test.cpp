// Opening archives and reading their central directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zip_fixture_table.h"
#include "zip_test_support.h"

namespace {

using namespace ziptest;

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
        EXPECT_EQ(info.dosDate, kFixtureDosDate);
        EXPECT_EQ(info.dosTime, kFixtureDosTime);
        if (want.method == 0) {
            EXPECT_EQ(info.compressedSize, want.size);
        }

        const Bytes original = want.isDirectory ? Bytes() : content(want.seed, want.size);
        EXPECT_EQ(info.crc32, crcOf(original));
        Bytes heap;
        if (want.isDirectory) {
            // Folders are made by the caller; there is nothing to inflate.
            EXPECT_FALSE(zipExtractToHeap(zip.archive, i, heap, 1 << 20));
            continue;
        }
        ASSERT_TRUE(zipExtractToHeap(zip.archive, i, heap, want.size));
        EXPECT_TRUE(heap == original);
        EXPECT_EQ(heap.capacity(), want.size) << "exactly the declared size is reserved";
        const SinkResult streamed = extractBySink(zip.archive, i);
        ASSERT_TRUE(streamed.ok);
        EXPECT_TRUE(streamed.bytes == original);
    }
    ZipEntryInfo past;
    EXPECT_FALSE(zipEntryStat(zip.archive, zipEntryCount(zip.archive), past));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, GoodArchiveTest, testing::ValuesIn(kGoodArchives));

TEST(ZipStat, ReportsOffsetsAndSizesFromTheCentralDirectory) {
    OpenedZip zip(readFixture("python_mixed.zip"));
    ASSERT_TRUE(zip.opened);
    ZipEntryInfo first;
    ZipEntryInfo second;
    ASSERT_TRUE(zipEntryStat(zip.archive, 0, first));
    ASSERT_TRUE(zipEntryStat(zip.archive, 1, second));
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
    EXPECT_EQ(second.compressedSize, 149u);
}

struct DirectoryCase {
    const char* name;
    std::uint32_t externalAttributes;
    bool isDirectory;
};

class DirectoryClassificationTest : public testing::TestWithParam<DirectoryCase> {};

TEST_P(DirectoryClassificationTest, SlashOrDosAttributeMakesAFolder) {
    const DirectoryCase& c = GetParam();
    OpenedZip zip(buildStoredZip({{c.name, {}, c.externalAttributes}}));
    ASSERT_TRUE(zip.opened);
    ZipEntryInfo info;
    ASSERT_TRUE(zipEntryStat(zip.archive, 0, info));
    EXPECT_EQ(info.isDirectory, c.isDirectory) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, DirectoryClassificationTest,
    testing::Values(DirectoryCase{"plain.txt", 0, false}, DirectoryCase{"slash/", 0, true},
                    DirectoryCase{"dosfolder", 0x10, true},
                    // Archive bit only, and a Unix folder mode without the DOS bit.
                    DirectoryCase{"archived", 0x20, false},
                    DirectoryCase{"unixmode", 0x41ED0000u, false},
                    // Backslashes are the caller's business: the reader keeps the name as is.
                    DirectoryCase{"win\\folder\\", 0, false}));

TEST(ZipStat, NameOver511BytesIsMarkedKeptWholeAndRefused) {
    OpenedZip zip(readFixture("long_names.zip"));
    ASSERT_TRUE(zip.opened);
    ASSERT_EQ(zipEntryCount(zip.archive), 3u);
    ZipEntryInfo info;
    ASSERT_TRUE(zipEntryStat(zip.archive, 0, info));
    EXPECT_EQ(info.name, std::string(511, 'n'));
    Bytes out;
    ASSERT_TRUE(zipExtractToHeap(zip.archive, 0, out, 1 << 20));
    EXPECT_TRUE(out == content("n511", 300));

    EXPECT_FALSE(zipEntryStat(zip.archive, 1, info));
    EXPECT_TRUE(zip.archive.entries[1].nameTooLong);
    EXPECT_EQ(zip.archive.entries[1].name, std::string(512, 'm'));
    EXPECT_FALSE(zipExtractToHeap(zip.archive, 1, out, 1 << 20));
    EXPECT_FALSE(extractBySink(zip.archive, 1).ok);

    ASSERT_TRUE(zipEntryStat(zip.archive, 2, info));
    ASSERT_TRUE(zipExtractToHeap(zip.archive, 2, out, 1 << 20));
    EXPECT_TRUE(out == content("short", 300));
}

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
    // Both counts saturated, yet no ZIP64 records stand behind them.
    Bytes saturated = withEndRecordField(10, 0xFFFF);
    saturated[saturated.size() - 22 + 8] = 0xFF;
    saturated[saturated.size() - 22 + 9] = 0xFF;
    cases.push_back({"saturated count without ZIP64", saturated});
    cases.push_back({"second disk", withEndRecordField(4, 1)});
    cases.push_back({"directory on another disk", withEndRecordField(6, 1)});
    cases.push_back({"counts of disk and archive differ", withEndRecordField(8, 2)});
    // The count of ZIP64 records that cannot fit the directory is refused before anything
    // is reserved for it.
    cases.push_back({"absurd ZIP64 count", [] {
                         Bytes b = readFixture("zip64_records.zip");
                         const std::size_t record = b.size() - 22 - 20 - 56;
                         for (std::size_t field : {24u, 32u}) b[record + field + 5] = 0x01;
                         return b;
                     }()});
    return cases;
}

class BadArchiveTest : public testing::TestWithParam<BadBytesCase> {};

TEST_P(BadArchiveTest, OpenFailsAndLeavesNoEntries) {
    const Bytes& bytes = GetParam().bytes;
    ZipArchive archive;
    archive.entries.resize(2);  // left over from an earlier archive
    EXPECT_FALSE(zipOpenMemory(archive, bytes.data(), bytes.size()));
    EXPECT_EQ(zipEntryCount(archive), 0u);
    EXPECT_EQ(archive.data, nullptr);
    Bytes out;
    EXPECT_FALSE(zipExtractToHeap(archive, 0, out, 1 << 20));
}

INSTANTIATE_TEST_SUITE_P(Damaged, BadArchiveTest, testing::ValuesIn(badArchives()));

// The end record may be followed by a comment of up to 65535 bytes, which is where the
// backward search gives up.
struct TailCase {
    const char* label;
    std::uint16_t declaredComment;
    std::size_t appended;
    bool opens;
};

std::ostream& operator<<(std::ostream& os, const TailCase& c) { return os << c.label; }

class EndRecordSearchTest : public testing::TestWithParam<TailCase> {};

TEST_P(EndRecordSearchTest, FindsTheRecordBehindACommentOrStrayBytes) {
    const TailCase& c = GetParam();
    Bytes bytes = readFixture("base_three.zip");
    bytes[bytes.size() - 2] = static_cast<unsigned char>(c.declaredComment);
    bytes[bytes.size() - 1] = static_cast<unsigned char>(c.declaredComment >> 8);
    bytes.insert(bytes.end(), c.appended, 'c');
    OpenedZip zip(std::move(bytes));
    ASSERT_EQ(zip.opened, c.opens);
    if (!c.opens) return;
    ASSERT_EQ(zipEntryCount(zip.archive), 3u);
    Bytes out;
    ASSERT_TRUE(zipExtractToHeap(zip.archive, 2, out, 1 << 20));
    EXPECT_TRUE(out == content("last", 1000));
}

INSTANTIATE_TEST_SUITE_P(
    Tails, EndRecordSearchTest,
    testing::Values(TailCase{"longest comment", 0xFFFF, 0xFFFF, true},
                    TailCase{"comment cut short", 0xFFFF, 0xFFFE, false},
                    TailCase{"stray bytes after the record", 0, 100, true},
                    TailCase{"stray bytes as far as a comment may reach", 0, 0xFFFF, true},
                    TailCase{"stray bytes beyond comment reach", 0, 0x10000, false}),
    [](const testing::TestParamInfo<TailCase>& info) { return "Case" + std::to_string(info.index); });

TEST(ZipOpen, EmptyArchiveOpensWithNoEntries) {
    OpenedZip zip(readFixture("empty.zip"));
    ASSERT_TRUE(zip.opened);
    EXPECT_EQ(zipEntryCount(zip.archive), 0u);
    ZipEntryInfo info;
    EXPECT_FALSE(zipEntryStat(zip.archive, 0, info));
    Bytes out;
    EXPECT_FALSE(zipExtractToHeap(zip.archive, 0, out, 100));
    EXPECT_FALSE(extractBySink(zip.archive, 0).ok);
}

TEST(ZipOpen, ReopeningReplacesTheEntriesAndCloseForgetsThem) {
    const Bytes three = readFixture("base_three.zip");
    const Bytes one = readFixture("infozip_stdin.zip");
    const Bytes broken = readFixture("truncated.zip");
    ZipArchive archive;
    ASSERT_TRUE(zipOpenMemory(archive, three.data(), three.size()));
    ASSERT_TRUE(zipOpenMemory(archive, one.data(), one.size()));
    EXPECT_EQ(zipEntryCount(archive), 1u);
    EXPECT_EQ(archive.data, one.data());
    zipClose(archive);
    EXPECT_EQ(zipEntryCount(archive), 0u);
    EXPECT_EQ(archive.data, nullptr);

    ASSERT_TRUE(zipOpenMemory(archive, three.data(), three.size()));
    EXPECT_FALSE(zipOpenMemory(archive, broken.data(), broken.size()));
    EXPECT_EQ(zipEntryCount(archive), 0u) << "a failed open forgets the earlier archive";
}

}  // namespace
