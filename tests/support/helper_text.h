// Text pieces the helper programs share: UTF-8 out for JSON records, UTF-8 files in
// for texts that must reach Win32 untouched by any command-line conversion.
#pragma once

#include <windows.h>

#include <string>

inline std::string toUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                            nullptr, nullptr);
    return out;
}

inline std::string jsonString(const std::wstring& text) {
    std::string out = "\"";
    for (unsigned char c : toUtf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            wsprintfA(escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The whole file as UTF-8, a leading byte-order mark dropped.
inline bool readUtf8File(const std::wstring& path, std::wstring& text) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    std::string bytes(GetFileSize(f, nullptr), '\0');
    DWORD read = 0;
    const BOOL ok = bytes.empty() || ReadFile(f, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(f);
    if (!ok) return false;
    bytes.resize(read);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    text.clear();
    if (bytes.empty()) return true;
    const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    text.resize(size);
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], size);
    return true;
}
