#include "selfupdate/apply_update.h"

#include <vector>

namespace {

const wchar_t kKeyword[] = L"__apply-update";

// No escape character: quotes only switch the blank rule on and off, so backslashes in
// paths pass through untouched.
std::vector<std::wstring> splitTail(const wchar_t* tail) {
    std::vector<std::wstring> tokens;
    std::wstring current;
    bool inQuotes = false;
    for (const wchar_t* p = tail; *p != L'\0'; ++p) {
        const wchar_t c = *p;
        if (c == L'"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes && (c == L' ' || c == L'\t')) {
            if (!current.empty()) tokens.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) tokens.push_back(current);
    return tokens;
}

// Digits only, no sign, within 32 bits, not 0.
bool parseProcessId(const std::wstring& token, std::uint32_t& value) {
    std::uint64_t number = 0;
    for (wchar_t c : token) {
        if (c < L'0' || c > L'9') return false;
        number = number * 10 + static_cast<std::uint64_t>(c - L'0');
        if (number > UINT32_MAX) return false;
    }
    if (number == 0) return false;
    value = static_cast<std::uint32_t>(number);
    return true;
}

}  // namespace

bool parseApplyUpdateArgs(const wchar_t* commandLine, std::wstring& newFilePath,
                          std::wstring& targetPath, std::uint32_t& processId) {
    newFilePath.clear();
    targetPath.clear();
    processId = 0;
    if (commandLine == nullptr) return false;

    const std::vector<std::wstring> tokens = splitTail(commandLine);
    if (tokens.size() != 4 || tokens[0] != kKeyword) return false;
    newFilePath = tokens[1];
    targetPath = tokens[2];

    std::uint32_t parsed = 0;
    if (!parseProcessId(tokens[3], parsed)) return false;
    processId = parsed;
    return true;
}

std::wstring buildApplyUpdateCommandLine(const std::wstring& updaterPath,
                                         const std::wstring& newFilePath,
                                         const std::wstring& targetPath, std::uint32_t processId) {
    return L"\"" + updaterPath + L"\" " + kKeyword + L" \"" + newFilePath + L"\" \"" + targetPath +
           L"\" " + std::to_wstring(processId);
}
