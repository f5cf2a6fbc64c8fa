#include <gtest/gtest.h>

#include "notify/timestamp.h"

namespace {

struct ParseCase {
    std::string bytes;
    bool valid;
    std::uint64_t value;
};

TEST(NotificationTimestamp, ParsesOnlyDigitsFollowedByLineEnds) {
    const std::vector<ParseCase> cases = {
        {"1767225600123", true, 1767225600123ull},
        {"0", true, 0},
        {"007", true, 7},
        {"42\r\n", true, 42},
        {"42\n\r\n\r", true, 42},
        {std::string(31, '1').substr(0, 18) + std::string(13, '\n'), true, 111111111111111111ull},
        {"9223372036854775807", true, 9223372036854775807ull},
        {std::string(12, '0') + "9223372036854775807", true, 9223372036854775807ull},  // 31 bytes
        {"", false, 0},
        {"\r\n", false, 0},
        {"\n42", false, 0},
        {"+42", false, 0},
        {"-42", false, 0},
        {" 42", false, 0},
        {"42 ", false, 0},
        {"42\r\n7", false, 0},
        {"42\r\n ", false, 0},
        {"4x2", false, 0},
        {std::string("4\0" "2", 3), false, 0},
        {std::string(32, '1'), false, 0},
        {std::string(13, '0') + "9223372036854775807", false, 0},  // 32 bytes
        {"9223372036854775808", false, 0},
        {std::string(20, '9'), false, 0},
        {"18446744073709551617", false, 0},  // wraps an unsigned 64-bit reading to 1
    };
    for (const ParseCase& c : cases) {
        std::uint64_t value = 12345;
        EXPECT_EQ(parseNotificationTimestamp(c.bytes, value), c.valid) << '"' << c.bytes << '"';
        if (c.valid) EXPECT_EQ(value, c.value) << c.bytes;
    }
}

TEST(NotificationTimestamp, ClaimIsRefusedOnlyWithinFiveSecondsAfterAValidPastRecord) {
    const std::uint64_t t = 1767225600123ull;
    EXPECT_TRUE(claimRefused(true, t, t));
    EXPECT_TRUE(claimRefused(true, t, t + 3000));
    EXPECT_TRUE(claimRefused(true, t, t + 4999));
    EXPECT_FALSE(claimRefused(true, t, t + 5000));
    EXPECT_FALSE(claimRefused(true, t, t + 600000));
    EXPECT_FALSE(claimRefused(true, t + 1, t)) << "a record in the future does not block";
    EXPECT_FALSE(claimRefused(true, t + 600000, t));
    EXPECT_FALSE(claimRefused(false, t, t)) << "invalid content counts as no record";
    EXPECT_FALSE(claimRefused(true, 0, t));
}

TEST(NotificationTimestamp, InProcessSpacingAppliesOnlyAfterTheFirstGrant) {
    EXPECT_FALSE(refusedInProcess(false, 0, 100)) << "first request right after boot";
    EXPECT_TRUE(refusedInProcess(true, 100, 100));
    EXPECT_TRUE(refusedInProcess(true, 100, 5099));
    EXPECT_FALSE(refusedInProcess(true, 100, 5100));
    EXPECT_FALSE(refusedInProcess(true, 100000, 50)) << "unsigned difference of a tick behind";
}

TEST(NotificationTimestamp, FormatsPlainDigits) {
    EXPECT_EQ(formatNotificationTimestamp(1767225600123ull), "1767225600123");
    EXPECT_EQ(formatNotificationTimestamp(0), "0");
    EXPECT_EQ(formatNotificationTimestamp(18446744073709551615ull), "18446744073709551615");
}

TEST(NotificationTimestamp, ConvertsFileTimeToUnixMilliseconds) {
    EXPECT_EQ(unixMillisFromFileTime(116444736000000000ull), 0u);
    EXPECT_EQ(unixMillisFromFileTime(116444736000009999ull), 0u) << "division truncates";
    EXPECT_EQ(unixMillisFromFileTime(116444736000010000ull), 1u);
    // 2026-01-01 00:00:00.123 UTC
    EXPECT_EQ(unixMillisFromFileTime(116444736000000000ull + 1767225600123ull * 10000), 1767225600123ull);
}

}  // namespace
