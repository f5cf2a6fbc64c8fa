// The notification timestamp file's bytes: validity and value must equal a plain reading
// of the record format, and a recorded time must space the next claim by 5000 ms.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "notify/timestamp.h"

namespace {

bool referenceReading(const std::string& bytes, std::uint64_t& value) {
    if (bytes.empty() || bytes.size() > 31) return false;
    std::size_t digits = 0;
    while (digits < bytes.size() && bytes[digits] >= '0' && bytes[digits] <= '9') ++digits;
    if (digits == 0) return false;
    for (std::size_t i = digits; i < bytes.size(); ++i)
        if (bytes[i] != '\r' && bytes[i] != '\n') return false;
    // Compared as text, so no arithmetic can wrap: leading zeros off, then length and
    // digits against the largest signed 64-bit value.
    std::string number = bytes.substr(0, digits);
    number.erase(0, std::min(number.find_first_not_of('0'), number.size() - 1));
    const std::string largest = "9223372036854775807";
    if (number.size() > largest.size() ||
        (number.size() == largest.size() && number > largest))
        return false;
    value = 0;
    for (char c : number) value = value * 10 + static_cast<std::uint64_t>(c - '0');
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::uint64_t got = 0;
    std::uint64_t want = 0;
    const bool valid = parseNotificationTimestamp(bytes, got);
    FUZZ_CHECK(valid == referenceReading(bytes, want), "validity");
    if (!valid) return 0;
    FUZZ_CHECK(got == want, "value");

    // What a grant writes reads back as the same time, in canonical digits.
    const std::string written = formatNotificationTimestamp(got);
    std::uint64_t reread = 0;
    FUZZ_CHECK(parseNotificationTimestamp(written, reread) && reread == got, written.c_str());
    FUZZ_CHECK(written.size() == 1 || written[0] != '0', written.c_str());

    // Spacing: refused below 5000 ms after the record, granted from 5000 ms on, and a
    // record in the future (the clock set back) never blocks.
    if (got <= UINT64_MAX - 5000) {
        FUZZ_CHECK(claimRefused(true, got, got), "same instant");
        FUZZ_CHECK(claimRefused(true, got, got + 4999), "4999 ms later");
        FUZZ_CHECK(!claimRefused(true, got, got + 5000), "5000 ms later");
    }
    if (got > 0) FUZZ_CHECK(!claimRefused(true, got, got - 1), "record in the future");
    FUZZ_CHECK(!claimRefused(false, got, got), "invalid content never refuses");
    return 0;
}
