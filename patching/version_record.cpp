#include "patching/version_record.h"

#include "common/text.h"

std::int32_t versionNumberFromRecord(const std::string& content) {
    if (content.empty() || content.size() > kMaxVersionRecordSize) return 0;
    std::int32_t number = 0;
    // The conversion stops at the first NUL, as a C string reader of the record would.
    if (!parseLeadingInt32(content, number)) return 0;
    return number;
}

std::string formatVersionRecord(std::int32_t number) {
    // Through 64 bits so the smallest 32-bit value keeps all ten digits.
    return std::to_string(static_cast<long long>(number));
}
