// The patch manifest as the server sends it: the decision for each game must equal a
// plain reading of the format, line by line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "patching/manifest.h"

namespace {

ManifestMatch referenceReading(const std::string& body, const std::string& gameId) {
    std::string text = body;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text = text.substr(3);
    std::string line;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\n') {
            line.push_back(text[i]);
            continue;
        }
        const std::string trimmed = fuzzref::trim(line);
        line.clear();
        const std::size_t semicolon = trimmed.find(';');
        if (semicolon == std::string::npos) continue;
        std::string key = fuzzref::trim(trimmed.substr(0, semicolon));
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        std::int32_t number = 0;
        if (!fuzzref::leadingInt32(fuzzref::trim(trimmed.substr(semicolon + 1)), number))
            continue;
        if (key == gameId) return {true, number};
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    // The catalogue's ids, and an empty one that only a line with an empty key could match.
    for (const char* id : {"kova", "belu", "stoneharbor", ""}) {
        const ManifestMatch got = findManifestNumber(body, id);
        const ManifestMatch want = referenceReading(body, id);
        FUZZ_CHECK(got.found == want.found, id);
        if (want.found) FUZZ_CHECK(got.number == want.number, id);
        // A patch is due exactly when a line was found and its number differs.
        FUZZ_CHECK(!isPatchDue(got, got.number), id);
        if (got.found) FUZZ_CHECK(isPatchDue(got, got.number ^ 1), id);
        else FUZZ_CHECK(!isPatchDue(got, 0), id);
    }
    return 0;
}
