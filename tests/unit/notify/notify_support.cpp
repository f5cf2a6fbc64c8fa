#include "notify_support.h"

#include <roapi.h>
#include <winstring.h>

#include <atomic>

#include "common/handles.h"
#include "notify/winrt_toast.h"

ScratchFolder::ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"notify_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(++counter);
    removeTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { removeTree(path_); }

bool readBytes(const std::wstring& path, std::string& bytes) {
    bytes.clear();
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return true;
}

bool writeBytes(const std::wstring& path, const std::string& bytes) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::uint64_t unixMillisNow() {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t intervals =
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (intervals - 116444736000000000ull) / 10000;
}

std::wstring toWide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], size);
    return out;
}

namespace {

// The value of "key":"..." in one line the recorder wrote (its escapes: \" \\ \u00XX).
std::wstring jsonField(const std::string& line, const std::string& key) {
    const std::string marker = "\"" + key + "\":\"";
    std::size_t i = line.find(marker);
    if (i == std::string::npos) return std::wstring();
    i += marker.size();
    std::string value;
    while (i < line.size() && line[i] != '"') {
        if (line[i] == '\\' && i + 1 < line.size()) {
            if (line[i + 1] == 'u' && i + 5 < line.size()) {
                value += static_cast<char>(std::stoi(line.substr(i + 2, 4), nullptr, 16));
                i += 6;
            } else {
                value += line[i + 1];
                i += 2;
            }
            continue;
        }
        value += line[i++];
    }
    return toWide(value);
}

}  // namespace

std::vector<RecordedToast> readRecordedToasts(const std::wstring& logPath) {
    std::vector<RecordedToast> toasts;
    std::string content;
    if (!readBytes(logPath, content)) return toasts;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        const std::string line = content.substr(start, end - start);
        if (!line.empty())
            toasts.push_back({jsonField(line, "appId"), jsonField(line, "xml"), jsonField(line, "processAppId")});
        start = end + 1;
    }
    return toasts;
}

bool toastRecorderRegistered() {
    CoInitialize(nullptr);
    RoInitialize(RO_INIT_MULTITHREADED);
    HSTRING_HEADER header;
    HSTRING name = nullptr;
    WindowsCreateStringReference(kToastNotificationManagerClass,
                                 static_cast<UINT32>(wcslen(kToastNotificationManagerClass)), &header, &name);
    ComPtr<IToastNotificationManagerStatics> manager;
    return SUCCEEDED(RoGetActivationFactory(name, kIidToastNotificationManagerStatics, manager.receiveVoid()));
}
