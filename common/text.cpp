#include "common/text.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

bool isBlankOrQuote(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '\'';
}

}  // namespace

std::string trimBlanksAndQuotes(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlankOrQuote(text[begin])) ++begin;
    while (end > begin && isBlankOrQuote(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string toLowerAscii(const std::string& text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool parseLeadingInt32(const std::string& text, std::int32_t& value) {
    // strtol stops at an embedded NUL, which is what the readers of these texts want.
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(begin, &end, 10);
    if (end == begin) return false;
    if (errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = static_cast<std::int32_t>(parsed);
    return true;
}
