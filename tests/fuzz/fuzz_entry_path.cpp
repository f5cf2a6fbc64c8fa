// Archive entry names as they become paths below the install root. A name the launcher
// accepts must never lead outside the root once the joined path is normalised the way
// Win32 does it; '/' and '\' must count alike; the relative path keeps no '/' and no NUL.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "patching/entry_path.h"

namespace {

const std::string kRoot = "C:\\Quolva\\";

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool onlyDotsAndBlanks(const std::string& s) {
    return !s.empty() && s.find_first_not_of(". ") == std::string::npos;
}

// Win32 full-path normalisation of the joined path, taken conservatively: runs of
// separators collapse, "." drops, ".." climbs, and, since the rules for trailing dots and
// blanks differ between the Win32 and NT layers, any component made only of dots and
// blanks with two or more dots climbs too. A ':' names a stream or another drive and
// counts as leaving the root. Leaving means climbing above the root at any point.
bool staysBelowRoot(const std::string& relative) {
    if (relative.find(':') != std::string::npos) return false;
    std::size_t depth = 0;  // components below the root
    std::string component;
    for (std::size_t i = 0; i <= relative.size(); ++i) {
        if (i < relative.size() && !isSeparator(relative[i])) {
            component.push_back(relative[i]);
            continue;
        }
        const bool climbs = component == ".." ||
                            (onlyDotsAndBlanks(component) &&
                             std::count(component.begin(), component.end(), '.') >= 2);
        if (climbs) {
            if (depth == 0) return false;
            --depth;
        } else if (!component.empty() && component != ".") {
            ++depth;
        }
        component.clear();
    }
    return true;
}

// Reserved DOS device names open a device wherever they stand in a path.
bool namesDevice(const std::string& relative) {
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3",
        "COM4", "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5",
        "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$"};
    std::size_t begin = 0;
    while (begin <= relative.size()) {
        std::size_t end = relative.find('\\', begin);
        if (end == std::string::npos) end = relative.size();
        std::string base = relative.substr(begin, end - begin);
        base = base.substr(0, base.find('.'));
        while (!base.empty() && base.back() == ' ') base.pop_back();
        for (char& c : base)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        for (const char* device : kDevices)
            if (base == device) return true;
        begin = end + 1;
    }
    return false;
}

// How Win32 spells a relative path once normalised, ASCII letters upper-cased: runs of
// separators collapse, "." drops, ".." climbs, a segment loses one trailing period, the
// last segment loses all trailing periods and blanks.
std::string win32Spelling(const std::string& relative) {
    std::vector<std::string> parts;
    std::string component;
    for (std::size_t i = 0; i <= relative.size(); ++i) {
        if (i < relative.size() && !isSeparator(relative[i])) {
            component.push_back(relative[i]);
            continue;
        }
        if (component == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!component.empty() && component != ".") {
            if (component.back() == '.') component.pop_back();
            parts.push_back(component);
        }
        component.clear();
    }
    if (!parts.empty() && !relative.empty() && !isSeparator(relative.back())) {
        std::string& last = parts.back();
        while (!last.empty() && (last.back() == '.' || last.back() == ' ')) last.pop_back();
    }
    std::string joined;
    for (const std::string& part : parts) joined += (joined.empty() ? "" : "\\") + part;
    for (char& c : joined)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return joined;
}

std::wstring widened(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A name that Win32 resolves to the running launcher must be recognised as the launcher
// entry (compared as the extraction compares it), or it is written over the running file.
bool launcherSpellingRecognised(const std::string& relative) {
    for (const char* launcher : {"game.exe", "kova\\game.exe"}) {
        if (win32Spelling(relative) != win32Spelling(launcher)) continue;
        if (!equalIgnoringAsciiCase(widened(kRoot + relative), widened(kRoot + launcher)))
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    const std::string relative = entryRelativePath(name);
    FUZZ_CHECK(relative.find('/') == std::string::npos, "no '/' left");
    FUZZ_CHECK(relative.find('\0') == std::string::npos, "cut at the first NUL");
    FUZZ_CHECK(relative.size() == std::min(name.size(), name.find('\0')), "nothing else cut");

    std::string slashed = name;
    for (char& c : slashed)
        if (c == '\\') c = '/';
    const bool safe = isSafeRelativePath(relative);
    FUZZ_CHECK(safe == isSafeRelativePath(entryRelativePath(slashed)), "'/' and '\\' alike");

    if (safe) {
        FUZZ_CHECK(staysBelowRoot(relative), (kRoot + relative).c_str());
        FUZZ_CHECK(!namesDevice(relative), relative.c_str());
        if (!isDirectoryEntry(false, relative))
            FUZZ_CHECK(launcherSpellingRecognised(relative), relative.c_str());
    }
    return 0;
}
