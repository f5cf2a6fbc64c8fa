// Shared pieces of the fuzz targets: a failed property aborts with a message, so
// libFuzzer records the input as a crash, and the reference readers the targets compare
// the production parsers with.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition, message)                                             \
    do {                                                                           \
        if (!(condition)) {                                                        \
            std::fprintf(stderr, "property failed: %s (%s:%d): %s\n", #condition, \
                         __FILE__, __LINE__, message);                             \
            std::abort();                                                          \
        }                                                                          \
    } while (0)

namespace fuzzref {

// C-library white space in the default locale.
inline bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Base-10 signed 32-bit reading as strtol does it, written out by hand: white space, an
// optional sign, digits up to the first non-digit (a NUL included). False for no digit or
// a value outside 32 bits.
inline bool leadingInt32(const std::string& text, std::int32_t& value) {
    std::size_t i = 0;
    while (i < text.size() && isCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::uint64_t magnitude = 0;
    bool anyDigit = false;
    bool tooLarge = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        anyDigit = true;
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (magnitude > 2147483648ull) {
            tooLarge = true;
            magnitude = 2147483648ull + 1;  // keeps growing digits from wrapping
        }
    }
    if (!anyDigit || tooLarge) return false;
    if (!negative && magnitude > 2147483647ull) return false;
    value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<std::int32_t>(magnitude);
    return true;
}

inline bool isTrimmed(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '\'';
}

inline std::string trim(const std::string& s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && isTrimmed(s[b])) ++b;
    while (e > b && isTrimmed(s[e - 1])) --e;
    return s.substr(b, e - b);
}

}  // namespace fuzzref
