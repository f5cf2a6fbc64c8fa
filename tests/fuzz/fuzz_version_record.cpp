// A version record file's bytes: the number read must equal a plain reading, and every
// number the launcher writes must read back as itself.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "patching/version_record.h"

namespace {

std::int32_t referenceReading(const std::string& content) {
    if (content.empty() || content.size() > 256) return 0;
    std::int32_t number = 0;
    if (!fuzzref::leadingInt32(content.substr(0, content.find('\0')), number)) return 0;
    return number;
}

bool isCanonicalDecimal(const std::string& text) {
    const std::size_t digits = text.size() - (text.rfind('-', 0) == 0 ? 1 : 0);
    if (digits == 0 || digits > 10) return false;
    const std::string body = text.substr(text.size() - digits);
    if (body.find_first_not_of("0123456789") != std::string::npos) return false;
    if (body.size() > 1 && body[0] == '0') return false;
    return !(text[0] == '-' && body == "0");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(versionNumberFromRecord(content) == referenceReading(content), "read");

    if (size >= 4) {
        std::int32_t number = 0;
        std::memcpy(&number, data, 4);
        const std::string written = formatVersionRecord(number);
        FUZZ_CHECK(isCanonicalDecimal(written), written.c_str());
        FUZZ_CHECK(versionNumberFromRecord(written) == number, written.c_str());
    }
    return 0;
}
