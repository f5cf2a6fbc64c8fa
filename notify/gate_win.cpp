#include <windows.h>
#include <shlobj.h>

#include "common/handles.h"
#include "notify/gate.h"
#include "notify/gate_state.h"
#include "notify/timestamp.h"
#include "notify/toast.h"

std::mutex g_notificationMutex;
bool g_toastShownOnce = false;
std::uint64_t g_lastToastTick = 0;

namespace {

std::uint64_t currentUnixMillis() {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t intervals =
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return unixMillisFromFileTime(intervals);
}

}  // namespace

std::wstring notificationTimestampPath() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"USERPROFILE", buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        ZeroMemory(buffer, sizeof(buffer));
        if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, buffer)))
            return std::wstring();
    }
    const std::wstring folder = std::wstring(buffer) + L"\\Quolva";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\toast_last_timestamp.txt";
}

bool claimNotificationSlot(std::uint64_t nowMs) {
    const std::wstring path = notificationTimestampPath();
    if (path.empty()) return true;

    // Shared for reading only: while one launcher claims, another one's open fails.
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError() != ERROR_SHARING_VIOLATION;

    char bytes[32] = {};
    DWORD read = 0;
    std::uint64_t stored = 0;
    const bool readOk = ReadFile(file.get(), bytes, sizeof(bytes), &read, nullptr) != FALSE;
    const bool valid = readOk && read >= 1 && read <= 31 &&
                       parseNotificationTimestamp(std::string(bytes, read), stored);
    if (claimRefused(valid, stored, nowMs)) return false;

    const std::string digits = formatNotificationTimestamp(nowMs);
    if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER) {
        DWORD written = 0;
        if (WriteFile(file.get(), digits.data(), static_cast<DWORD>(digits.size()), &written,
                      nullptr) &&
            written == digits.size())
            SetEndOfFile(file.get());
    }
    return true;
}

bool showNotification(const std::wstring& title, const std::wstring& message,
                      const std::wstring& appName, const std::wstring& logoPath,
                      const std::wstring& iconPath, const std::wstring& gameName) {
    std::lock_guard<std::mutex> lock(g_notificationMutex);
    const std::uint64_t tick = GetTickCount64();
    if (refusedInProcess(g_toastShownOnce, g_lastToastTick, tick)) return false;
    if (!claimNotificationSlot(currentUnixMillis())) return false;
    // Counted before delivery, so a failed delivery still spaces the next request.
    g_toastShownOnce = true;
    g_lastToastTick = tick;
    return deliverToast(title, message, appName, logoPath, iconPath, gameName);
}
