#include <gtest/gtest.h>

#include <climits>

#include "common/text.h"

namespace {

TEST(TrimBlanksAndQuotes, RemovesTheSetFromBothEndsOnly) {
    EXPECT_EQ(trimBlanksAndQuotes(" \t\"'kova'\"\r\n"), "kova");
    EXPECT_EQ(trimBlanksAndQuotes("a \"b\" c"), "a \"b\" c");
    EXPECT_EQ(trimBlanksAndQuotes(" '\" \r\n\t"), "");
    EXPECT_EQ(trimBlanksAndQuotes(""), "");
    // Vertical tab and form feed are not in the set.
    EXPECT_EQ(trimBlanksAndQuotes("\v5\f"), "\v5\f");
}

TEST(ToLowerAscii, ChangesOnlyAsciiLetters) {
    EXPECT_EQ(toLowerAscii("C:\\GAMES\\Kova"), "c:\\games\\kova");
    EXPECT_EQ(toLowerAscii("\xC3\x89T\xC3\x89"), "\xC3\x89t\xC3\x89");
}

struct IntCase {
    const char* text;
    bool ok;
    std::int32_t value;
};

class ParseLeadingInt32Test : public testing::TestWithParam<IntCase> {};

TEST_P(ParseLeadingInt32Test, ReadsLikeStrtol) {
    const IntCase& c = GetParam();
    std::int32_t value = 12345;
    EXPECT_EQ(parseLeadingInt32(c.text, value), c.ok) << c.text;
    if (c.ok) EXPECT_EQ(value, c.value) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseLeadingInt32Test,
    testing::Values(IntCase{"12", true, 12}, IntCase{"  42abc", true, 42},
                    IntCase{"\v\f7", true, 7}, IntCase{"12;7", true, 12},
                    IntCase{"-3", true, -3}, IntCase{"+8", true, 8},
                    IntCase{"2147483647", true, INT32_MAX}, IntCase{"-2147483648", true, INT32_MIN},
                    IntCase{"2147483648", false, 0}, IntCase{"-2147483649", false, 0},
                    IntCase{"99999999999999999999999", false, 0}, IntCase{"abc", false, 0},
                    IntCase{"", false, 0}, IntCase{"-", false, 0}, IntCase{"+-1", false, 0},
                    IntCase{"12\r\n", true, 12}));

}  // namespace
