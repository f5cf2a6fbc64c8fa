#include "patching/entry_path.h"

#include <algorithm>

namespace {

// Win32 drops a trailing period or blank from a path component and treats "." and an
// empty component as no component at all, so such a name is another spelling of some
// other path: "game.exe." is the running launcher, ". ." climbs. None of them is
// written by a patch tool on purpose; all are refused.
bool isRespelledByWin32(const std::string& component) {
    return component.empty() || component.back() == '.' || component.back() == ' ';
}

// A reserved device name opens the device wherever it stands in a path, with or without
// an extension ("nul.txt"), trailing blanks ignored.
bool namesDevice(const std::string& component) {
    static const char* const kDevices[] = {
        "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6",
        "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7",
        "LPT8", "LPT9", "CONIN$", "CONOUT$",
        // COM and LPT with superscript one to three, in UTF-8.
        "COM\xC2\xB9", "COM\xC2\xB2", "COM\xC2\xB3", "LPT\xC2\xB9", "LPT\xC2\xB2", "LPT\xC2\xB3"};
    std::string base = component.substr(0, component.find('.'));
    base.erase(base.find_last_not_of(' ') + 1);
    for (char& c : base)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const char* device : kDevices)
        if (base == device) return true;
    return false;
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
    while (begin < relativePath.size()) {
        std::size_t end = relativePath.find('\\', begin);
        if (end == std::string::npos) end = relativePath.size();
        const std::string component = relativePath.substr(begin, end - begin);
        if (isRespelledByWin32(component) || namesDevice(component)) return false;
        // The empty rest after a final '\\' only marks a directory entry.
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
