// Extracting entries: damaged entries among good ones, the sink's pieces, the heap limit.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "zip_fixture_table.h"
#include "zip_test_support.h"

namespace {

using namespace ziptest;

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
        if (i == GetParam().badIndex) {
            // No limit from the caller: the entry must fail on its own account.
            EXPECT_FALSE(zipExtractToHeap(zip.archive, i, heap, UINT64_MAX));
            EXPECT_TRUE(heap.empty());
            const SinkResult streamed = extractBySink(zip.archive, i);
            EXPECT_FALSE(streamed.ok);
            EXPECT_LE(streamed.bytes.size(), zip.archive.entries[i].uncompressedSize);
        } else {
            const Bytes original = content(kBaseThree[i].seed, kBaseThree[i].size);
            ASSERT_TRUE(zipExtractToHeap(zip.archive, i, heap, 1 << 20));
            EXPECT_TRUE(heap == original);
            const SinkResult streamed = extractBySink(zip.archive, i);
            ASSERT_TRUE(streamed.ok);
            EXPECT_TRUE(streamed.bytes == original);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, DamagedEntryTest,
    testing::Values(DamagedEntryCase{"crc_mismatch_middle.zip", 1},
                    DamagedEntryCase{"method_12.zip", 0}, DamagedEntryCase{"encrypted_flag.zip", 2},
                    DamagedEntryCase{"local_offset_beyond.zip", 1},
                    DamagedEntryCase{"local_bad_signature.zip", 1},
                    DamagedEntryCase{"local_lengths_beyond.zip", 2},
                    DamagedEntryCase{"data_beyond_buffer.zip", 1},
                    DamagedEntryCase{"inflates_past_declared.zip", 0},
                    DamagedEntryCase{"inflates_short_of_declared.zip", 0},
                    DamagedEntryCase{"deflate_cut_short.zip", 0},
                    DamagedEntryCase{"deflate_trailing_bytes.zip", 0},
                    DamagedEntryCase{"declared_size_impossible.zip", 0}));

TEST(ZipExtract, OutputBeyondTheDeclaredSizeNeverReachesTheSink) {
    OpenedZip zip(readFixture("inflates_past_declared.zip"));
    ASSERT_TRUE(zip.opened);
    const SinkResult streamed = extractBySink(zip.archive, 0);
    EXPECT_FALSE(streamed.ok);
    EXPECT_LE(streamed.bytes.size(), zip.archive.entries[0].uncompressedSize);
}

void expectBoundedPieces(const SinkResult& r) {
    ASSERT_FALSE(r.pieces.empty());
    EXPECT_GE(r.pieces.size(), 3u);
    EXPECT_GE(*std::min_element(r.pieces.begin(), r.pieces.end()), 1u);
    EXPECT_LE(*std::max_element(r.pieces.begin(), r.pieces.end()), kZipSinkPieceSize);
}

TEST(ZipExtract, DeflatedEntryReachesTheSinkInBoundedPieces) {
    OpenedZip zip(readFixture("python_mixed.zip"));
    ASSERT_TRUE(zip.opened);
    const std::uint32_t big = 7;
    ASSERT_EQ(zip.archive.entries[big].name, "big.txt");
    const SinkResult streamed = extractBySink(zip.archive, big);
    ASSERT_TRUE(streamed.ok);
    expectBoundedPieces(streamed);
    EXPECT_TRUE(streamed.bytes == content("big", 700000));
}

TEST(ZipExtract, StoredEntryReachesTheSinkInBoundedPiecesStraightFromTheArchive) {
    const Bytes original = content("huge", 600000);
    OpenedZip zip(buildStoredZip({{"huge.bin", original, 0}}));
    ASSERT_TRUE(zip.opened);
    const unsigned char* begin = zip.bytes.data();
    const unsigned char* end = begin + zip.bytes.size();
    bool inPlace = true;
    SinkResult r;
    r.ok = zipExtractToSink(zip.archive, 0, [&](const unsigned char* p, std::size_t n) {
        inPlace = inPlace && p >= begin && p + n <= end;
        r.pieces.push_back(n);
        r.bytes.insert(r.bytes.end(), p, p + n);
        return true;
    });
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(inPlace) << "stored bytes are not copied on their way to the sink";
    expectBoundedPieces(r);
    EXPECT_TRUE(r.bytes == original);
}

TEST(ZipExtract, SinkReturningFalseStopsTheExtraction) {
    OpenedZip zip(readFixture("python_mixed.zip"));
    ASSERT_TRUE(zip.opened);
    for (std::uint32_t index : {0u, 7u}) {  // stored, and deflated over several pieces
        int calls = 0;
        EXPECT_FALSE(zipExtractToSink(zip.archive, index, [&](const unsigned char*, std::size_t) {
            ++calls;
            return false;
        }));
        EXPECT_EQ(calls, 1);
    }
}

TEST(ZipExtract, SinkThatThrowsMakesTheExtractionFail) {
    OpenedZip zip(readFixture("python_mixed.zip"));
    ASSERT_TRUE(zip.opened);
    for (std::uint32_t index : {0u, 7u}) {
        bool result = true;
        EXPECT_NO_THROW(result = zipExtractToSink(
                            zip.archive, index, [](const unsigned char*, std::size_t) -> bool {
                                throw std::runtime_error("disk full");
                            }));
        EXPECT_FALSE(result);
    }
    EXPECT_FALSE(zipExtractToSink(zip.archive, 0, ZipSink()));
}

struct LimitCase {
    std::uint32_t index;  // in base_three.zip
    std::uint64_t maxSize;
    bool extracts;
};

class HeapLimitTest : public testing::TestWithParam<LimitCase> {};

TEST_P(HeapLimitTest, DeclaredSizeIsHeldAgainstTheLimitFirst) {
    const LimitCase& c = GetParam();
    OpenedZip zip(readFixture("base_three.zip"));
    ASSERT_TRUE(zip.opened);
    Bytes out = {9};
    EXPECT_EQ(zipExtractToHeap(zip.archive, c.index, out, c.maxSize), c.extracts);
    if (c.extracts) {
        EXPECT_TRUE(out == content(kBaseThree[c.index].seed, kBaseThree[c.index].size));
    } else {
        EXPECT_TRUE(out.empty());
        EXPECT_EQ(out.capacity(), 1u) << "nothing was allocated for the refused entry";
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, HeapLimitTest,
                         testing::Values(LimitCase{0, 999, false}, LimitCase{0, 1000, true},
                                         LimitCase{1, 999, false}, LimitCase{1, 1000, true},
                                         LimitCase{2, 0, false}));

long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(ZipExtract, ImpossibleDeclaredSizeIsRefusedWithoutReservingIt) {
    // 1 GiB declared for 139 compressed bytes: more than deflate can ever expand to, so
    // it is refused even when the caller's limit would allow it.
    OpenedZip zip(readFixture("declared_size_impossible.zip"));
    ASSERT_TRUE(zip.opened);
    ASSERT_EQ(zip.archive.entries[0].uncompressedSize, 1u << 30);
    const long before = peakResidentKiB();
    Bytes out;
    EXPECT_FALSE(zipExtractToHeap(zip.archive, 0, out, UINT64_MAX));
    EXPECT_FALSE(extractBySink(zip.archive, 0).ok);
    EXPECT_LT(peakResidentKiB() - before, 64 * 1024) << "the declared size was allocated";
}

TEST(ZipExtract, HeapReusesTheCallersVector) {
    OpenedZip zip(readFixture("base_three.zip"));
    ASSERT_TRUE(zip.opened);
    Bytes out = content("leftover", 5000);
    ASSERT_TRUE(zipExtractToHeap(zip.archive, 0, out, 1 << 20));
    EXPECT_TRUE(out == content("first", 1000));
}

TEST(ZipExtract, IndexOutOfRangeFails) {
    OpenedZip zip(readFixture("base_three.zip"));
    ASSERT_TRUE(zip.opened);
    for (std::uint32_t index : {3u, UINT32_MAX}) {
        Bytes out;
        ZipEntryInfo info;
        EXPECT_FALSE(zipEntryStat(zip.archive, index, info));
        EXPECT_FALSE(zipExtractToHeap(zip.archive, index, out, 1 << 20));
        EXPECT_FALSE(extractBySink(zip.archive, index).ok);
    }
}

}  // namespace
