#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "patching/manifest.h"

namespace {

struct ManifestCase {
    const char* label;
    std::string body;
    bool found;
    std::int32_t number;
};

class ManifestParsing : public testing::TestWithParam<ManifestCase> {};

TEST_P(ManifestParsing, FindsTheDecidingLineForKova) {
    const ManifestCase& c = GetParam();
    const ManifestMatch match = findManifestNumber(c.body, "kova");
    EXPECT_EQ(match.found, c.found) << c.label;
    if (c.found) EXPECT_EQ(match.number, c.number) << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ManifestParsing,
    testing::Values(
        ManifestCase{"three games", "kova;12\nbelu;3\nstoneharbor;7", true, 12},
        ManifestCase{"order is free", "belu;3\nstoneharbor;7\nkova;12\n", true, 12},
        ManifestCase{"byte order mark", "\xEF\xBB\xBFkova;5", true, 5},
        ManifestCase{"byte order mark only at the start", "belu;1\n\xEF\xBB\xBFkova;5", false, 0},
        ManifestCase{"CR LF", "belu;3\r\nkova;8\r\n", true, 8},
        ManifestCase{"quotes and blanks", " \"KOVA\" ; '7' \r\n", true, 7},
        ManifestCase{"bad number then good line", "kova;abc\nkova;9", true, 9},
        ManifestCase{"first valid duplicate decides", "kova;4\nkova;6", true, 4},
        ManifestCase{"beyond 32 bits", "kova;2147483648", false, 0},
        ManifestCase{"beyond 32 bits, then valid", "kova;-2147483649\nkova;2", true, 2},
        ManifestCase{"largest 32-bit", "kova;2147483647", true, INT32_MAX},
        ManifestCase{"smallest 32-bit", "kova;-2147483648", true, INT32_MIN},
        ManifestCase{"negative", "kova;-3", true, -3},
        ManifestCase{"plus sign", "kova;+4", true, 4},
        ManifestCase{"trailing text ignored", "kova;12abc", true, 12},
        ManifestCase{"second semicolon ignored", "kova;12;7", true, 12},
        ManifestCase{"vertical tab before the number", "kova;\v15", true, 15},
        ManifestCase{"comment is a key", "#kova;5", false, 0},
        ManifestCase{"no semicolon", "kova 5\n", false, 0},
        ManifestCase{"empty number", "kova;\n", false, 0},
        ManifestCase{"key must be whole", "kova2;5\nxkova;6", false, 0},
        ManifestCase{"blank lines", "\n\n  \r\n\t\nkova;1\n\n", true, 1},
        ManifestCase{"empty body", "", false, 0},
        ManifestCase{"other games only", "belu;3\nstoneharbor;7", false, 0},
        ManifestCase{"NUL inside a line", std::string("kova;1\0" "9\n", 9), true, 1}));

TEST(ManifestParsing, KeysAreLowerCasedForAsciiLettersOnly) {
    EXPECT_EQ(findManifestNumber("StoneHarbor;7", "stoneharbor").number, 7);
    EXPECT_TRUE(findManifestNumber("StoneHarbor;7", "stoneharbor").found);
    // A multi-byte letter keeps its bytes, so it never matches an ASCII id.
    EXPECT_FALSE(findManifestNumber("b\xC3\x89lu;2", "belu").found);
}

struct DecisionCase {
    const char* label;
    ManifestMatch match;
    std::int32_t local;
    bool due;
};

class PatchDecision : public testing::TestWithParam<DecisionCase> {};

TEST_P(PatchDecision, InstallsOnAnyDifference) {
    const DecisionCase& c = GetParam();
    EXPECT_EQ(isPatchDue(c.match, c.local), c.due) << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PatchDecision,
    testing::Values(DecisionCase{"no line for the game", {false, 0}, 5, false},
                    DecisionCase{"no line, local 0", {false, 0}, 0, false},
                    DecisionCase{"equal", {true, 7}, 7, false},
                    DecisionCase{"manifest higher", {true, 8}, 7, true},
                    DecisionCase{"manifest lower", {true, 4}, 5, true},
                    DecisionCase{"no record, manifest 0", {true, 0}, 0, false},
                    DecisionCase{"no record, manifest -3", {true, -3}, 0, true}));

TEST(PatchDecision, ParsedManifestAgainstLocalNumbers) {
    const std::string body = "kova;-3\nbelu;0\nstoneharbor;4";
    EXPECT_TRUE(isPatchDue(findManifestNumber(body, "kova"), 0));
    EXPECT_FALSE(isPatchDue(findManifestNumber(body, "belu"), 0));
    EXPECT_TRUE(isPatchDue(findManifestNumber(body, "stoneharbor"), 5));
}

}  // namespace
