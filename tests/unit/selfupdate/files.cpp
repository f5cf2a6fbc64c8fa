#include "unit/selfupdate/files.h"

#include <shellapi.h>
#include <shlobj.h>

#include "common/handles.h"

std::wstring freshScratchFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"quolva selfupdate\\" + name + L"\\";
    removeTree(folder);
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    return folder;
}

std::vector<unsigned char> readBytes(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size)) return {};
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size()))
        return {};
    return bytes;
}

bool writeBytes(const std::wstring& path, const std::vector<unsigned char>& bytes) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return bytes.empty() ||
           (WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size());
}

std::vector<unsigned char> bytesOf(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

bool waitForFile(const std::wstring& path, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!pathExists(path)) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(50);
    }
    return true;
}

double secondsBetween(const FILETIME& a, const FILETIME& b) {
    ULARGE_INTEGER first = {};
    first.LowPart = a.dwLowDateTime;
    first.HighPart = a.dwHighDateTime;
    ULARGE_INTEGER second = {};
    second.LowPart = b.dwLowDateTime;
    second.HighPart = b.dwHighDateTime;
    return (static_cast<double>(second.QuadPart) - static_cast<double>(first.QuadPart)) / 1e7;
}
