#include "support/test_files.h"

#include <vector>

#include "common/handles.h"

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetEnvironmentVariableW(name, buffer.data(), 32768);
    had_ = length > 0 && length < 32768;
    if (had_) old_ = buffer.data();
    SetEnvironmentVariableW(name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    SetEnvironmentVariableW(name_.c_str(), had_ ? old_.c_str() : nullptr);
}

void removeTree(const std::wstring& path) {
    std::wstring target = path;
    while (!target.empty() && target.back() == L'\\') target.pop_back();
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(target.c_str());
        return;
    }
    WIN32_FIND_DATAW found;
    UniqueFind search(FindFirstFileW((target + L"\\*").c_str(), &found));
    if (search) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") removeTree(target + L"\\" + name);
        } while (FindNextFileW(search.get(), &found));
    }
    search.reset();
    RemoveDirectoryW(target.c_str());
}

bool pathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
