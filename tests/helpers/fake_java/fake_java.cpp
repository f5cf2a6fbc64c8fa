// Stand-in for a game's bundled java.exe. It records how it was started into
// launch_report.json beside itself (and one line per start in launch_log.jsonl), and
// keeps running while stay_running.marker exists beside it. It never writes to its
// standard handles: the launcher's pipe has no reader.
#include <windows.h>
#include <winternl.h>

#include <string>

#include "tests/support/helper_text.h"

namespace {

const char* handleType(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return "invalid";
    switch (GetFileType(h)) {
        case FILE_TYPE_DISK: return "disk";
        case FILE_TYPE_CHAR: return "char";
        case FILE_TYPE_PIPE: return "pipe";
        default: return "unknown";
    }
}

// The NUL device reports FILE_DEVICE_NULL as its device type, which tells it apart
// from a console or another character device.
bool isNulDevice(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return false;
    struct {
        ULONG DeviceType;
        ULONG Characteristics;
    } device = {};
    IO_STATUS_BLOCK status = {};
    const NTSTATUS result = NtQueryVolumeInformationFile(h, &status, &device, sizeof(device),
                                                         FileFsDeviceInformation);
    return result == 0 && device.DeviceType == FILE_DEVICE_NULL;
}

bool isPipe(HANDLE h) {
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_PIPE;
}

// Starts that overlap (two launchers at once) all get their line into the log: the log
// is shared for appending, and an open that still collides is retried for a while.
void writeFile(const std::wstring& path, const std::string& text, bool append) {
    HANDLE f = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && f == INVALID_HANDLE_VALUE; ++attempt) {
        f = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                        append ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ, nullptr,
                        append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE && GetLastError() != ERROR_SHARING_VIOLATION) return;
        if (f == INVALID_HANDLE_VALUE) Sleep(20);
    }
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
}

}  // namespace

int wmain() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder = folder.substr(0, folder.find_last_of(L"\\/") + 1);

    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    STARTUPINFOW startup = {};
    GetStartupInfoW(&startup);
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);

    std::string report = "{\"command_line\": " + jsonString(GetCommandLineW()) +
                         ", \"cwd\": " + jsonString(cwd) +
                         ", \"pid\": " + std::to_string(GetCurrentProcessId()) +
                         ", \"stdin\": \"" + handleType(in) + "\", \"stdout\": \"" + handleType(out) +
                         "\", \"stderr\": \"" + handleType(err) + "\"" +
                         ", \"stdout_is_stderr\": " + (out == err ? "true" : "false") +
                         ", \"stdout_stderr_same_pipe\": " +
                         (out == err && isPipe(out) ? "true" : "false") +
                         ", \"stdin_is_nul\": " + (isNulDevice(in) ? "true" : "false") +
                         ", \"exe\": " + jsonString(self) +
                         ", \"has_console\": " + (GetConsoleWindow() ? "true" : "false") +
                         ", \"startup_flags\": " + std::to_string(startup.dwFlags) +
                         ", \"show_window\": " + std::to_string(startup.wShowWindow) + "}";

    // A per-process temporary name, so two starts racing each other never mix reports.
    const std::wstring temp =
        folder + L"launch_report." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    writeFile(temp, report, false);
    MoveFileExW(temp.c_str(), (folder + L"launch_report.json").c_str(), MOVEFILE_REPLACE_EXISTING);
    writeFile(folder + L"launch_log.jsonl", report + "\n", true);

    const std::wstring marker = folder + L"stay_running.marker";
    while (GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) Sleep(200);
    return 0;
}
