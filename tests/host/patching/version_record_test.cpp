#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "patching/version_record.h"

namespace {

struct RecordCase {
    const char* label;
    std::string content;
    std::int32_t number;
};

class VersionRecordReading : public testing::TestWithParam<RecordCase> {};

TEST_P(VersionRecordReading, ReadsTheLeadingNumber) {
    const RecordCase& c = GetParam();
    EXPECT_EQ(versionNumberFromRecord(c.content), c.number) << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Contents, VersionRecordReading,
    testing::Values(RecordCase{"plain", "12", 12},
                    RecordCase{"CR LF after", "12\r\n", 12},
                    RecordCase{"leading blanks, trailing letters", "   42abc", 42},
                    RecordCase{"negative", "-7", -7},
                    RecordCase{"empty", "", 0},
                    RecordCase{"letters only", "abc", 0},
                    RecordCase{"beyond 32 bits", "2147483648", 0},
                    RecordCase{"below 32 bits", "-2147483649", 0},
                    RecordCase{"smallest 32-bit", "-2147483648", INT32_MIN},
                    RecordCase{"NUL ends the text", std::string("3\0" "99", 4), 3},
                    RecordCase{"leading NUL", std::string("\0" "5", 2), 0},
                    RecordCase{"256 bytes", "9" + std::string(255, ' '), 9},
                    RecordCase{"257 bytes starting with digits", "9" + std::string(256, ' '), 0}));

TEST(VersionRecordFormat, PlainDecimalWithoutLineEnd) {
    EXPECT_EQ(formatVersionRecord(12), "12");
    EXPECT_EQ(formatVersionRecord(-7), "-7");
    EXPECT_EQ(formatVersionRecord(0), "0");
    EXPECT_EQ(formatVersionRecord(INT32_MAX), "2147483647");
    EXPECT_EQ(formatVersionRecord(INT32_MIN), "-2147483648");
}

TEST(VersionRecordFormat, ReadsBackWhatItWrites) {
    for (std::int32_t number : {0, 1, -1, 999, INT32_MAX, INT32_MIN})
        EXPECT_EQ(versionNumberFromRecord(formatVersionRecord(number)), number);
}

}  // namespace
