#include "patching/entry_path.h"

#include <algorithm>

namespace {

bool leadsUpward(const std::string& component) {
    const bool onlyDotsAndBlanks = component.find_first_not_of(". ") == std::string::npos;
    return onlyDotsAndBlanks && std::count(component.begin(), component.end(), '.') >= 2;
}

wchar_t upperAscii(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

}  // namespace

std::string entryRelativePath(const std::string& entryName) {
    std::string relative = entryName.substr(0, entryName.find('\0'));
    std::replace(relative.begin(), relative.end(), '/', '\\');
    return relative;
}

bool isSafeRelativePath(const std::string& relativePath) {
    if (relativePath.empty() || relativePath.front() == '\\') return false;
    if (relativePath.find(':') != std::string::npos) return false;
    std::size_t begin = 0;
    while (begin <= relativePath.size()) {
        std::size_t end = relativePath.find('\\', begin);
        if (end == std::string::npos) end = relativePath.size();
        if (leadsUpward(relativePath.substr(begin, end - begin))) return false;
        begin = end + 1;
    }
    return true;
}

bool isDirectoryEntry(bool reportedAsDirectory, const std::string& relativePath) {
    return reportedAsDirectory || (!relativePath.empty() && relativePath.back() == '\\');
}

bool equalIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upperAscii(a[i]) != upperAscii(b[i])) return false;
    }
    return true;
}

std::wstring parentFolderOf(const std::wstring& path) {
    const std::size_t separator = path.rfind(L'\\');
    if (separator == std::wstring::npos) return std::wstring();
    return path.substr(0, separator);
}

std::wstring replacementPathFor(const std::wstring& target) {
    return target + L".patchnew";
}
