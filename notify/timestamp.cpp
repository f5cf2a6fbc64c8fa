#include "notify/timestamp.h"

namespace {

const std::uint64_t kLargestRecord = 9223372036854775807ull;

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

bool refusedInProcess(bool shownOnce, std::uint64_t lastTick, std::uint64_t tick) {
    return shownOnce && tick - lastTick < kNotificationSpacingMs;
}

bool parseNotificationTimestamp(const std::string& bytes, std::uint64_t& stored) {
    stored = 0;
    if (bytes.empty() || bytes.size() > 31) return false;
    bool sawDigit = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c >= '0' && c <= '9') {
            const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
            if (stored > (kLargestRecord - digit) / 10) return false;
            stored = stored * 10 + digit;
            sawDigit = true;
            continue;
        }
        if (!isLineEnd(c) || !sawDigit) return false;
        for (std::size_t j = i; j < bytes.size(); ++j)
            if (!isLineEnd(bytes[j])) return false;
        return true;
    }
    return true;
}

bool claimRefused(bool contentValid, std::uint64_t stored, std::uint64_t nowMs) {
    return contentValid && stored <= nowMs && nowMs - stored < kNotificationSpacingMs;
}

std::string formatNotificationTimestamp(std::uint64_t ms) { return std::to_string(ms); }

std::uint64_t unixMillisFromFileTime(std::uint64_t intervalsSince1601) {
    return (intervalsSince1601 - 116444736000000000ull) / 10000;
}
