// Sweeps over damaged copies of good archives: the reader may refuse, but what it hands
// out is always exactly the original content.
#include <gtest/gtest.h>

#include <string>

#include "zip_fixture_table.h"
#include "zip_test_support.h"

namespace {

using namespace ziptest;

// A ZIP64 archive from each writer, one with data descriptors, and the plain one.
const char* const kSweptArchives[] = {"base_three.zip", "zip64_records.zip",
                                      "infozip_zip64.zip", "python_stream.zip",
                                      "infozip_piped.zip"};

class SweepTest : public testing::TestWithParam<const char*> {};

TEST_P(SweepTest, EveryShorterPrefixFailsToOpen) {
    const Bytes full = readFixture(GetParam());
    ASSERT_FALSE(full.empty());
    for (std::size_t n = 0; n < full.size(); ++n) {
        ZipArchive archive;
        EXPECT_FALSE(zipOpenMemory(archive, full.data(), n)) << n;
    }
}

TEST_P(SweepTest, FlippedBitNeverYieldsWrongContent) {
    const ArchiveCase& expected = goodArchive(GetParam());
    const Bytes pristine = readFixture(GetParam());
    ASSERT_FALSE(pristine.empty());
    ASSERT_FALSE(expected.entries.empty());
    for (std::size_t pos = 0; pos < pristine.size(); ++pos) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes damaged = pristine;
            damaged[pos] ^= static_cast<unsigned char>(1u << bit);
            ZipArchive archive;
            if (!zipOpenMemory(archive, damaged.data(), damaged.size())) continue;
            ASSERT_EQ(zipEntryCount(archive), expected.entries.size()) << "byte " << pos;
            for (std::uint32_t i = 0; i < zipEntryCount(archive); ++i) {
                const ExpectedEntry& want = expected.entries[i];
                Bytes heap;
                const bool heapOk = zipExtractToHeap(archive, i, heap, 1 << 20);
                const SinkResult streamed = extractBySink(archive, i);
                EXPECT_EQ(heapOk, streamed.ok) << "byte " << pos << " bit " << bit;
                if (!heapOk) continue;
                const Bytes original = content(want.seed, want.size);
                EXPECT_TRUE(heap == original) << "byte " << pos << " bit " << bit;
                EXPECT_TRUE(streamed.bytes == original) << "byte " << pos << " bit " << bit;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SweepTest, testing::ValuesIn(kSweptArchives),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace
