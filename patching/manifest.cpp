#include "patching/manifest.h"

#include "common/text.h"

namespace {

bool readLine(const std::string& rawLine, std::string& key, std::int32_t& number) {
    const std::string line = trimBlanksAndQuotes(rawLine);
    if (line.empty()) return false;
    const std::size_t semicolon = line.find(';');
    if (semicolon == std::string::npos) return false;
    key = toLowerAscii(trimBlanksAndQuotes(line.substr(0, semicolon)));
    return parseLeadingInt32(trimBlanksAndQuotes(line.substr(semicolon + 1)), number);
}

}  // namespace

ManifestMatch findManifestNumber(const std::string& body, const std::string& gameId) {
    std::string text = body;
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);

    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        std::string key;
        std::int32_t number = 0;
        if (readLine(text.substr(begin, end - begin), key, number) && key == gameId)
            return {true, number};
        begin = end + 1;
    }
    return {};
}

bool isPatchDue(const ManifestMatch& match, std::int32_t localNumber) {
    return match.found && match.number != localNumber;
}
