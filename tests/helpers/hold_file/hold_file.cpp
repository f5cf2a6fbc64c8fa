// hold_file.exe PATH [--share none|read|readwrite|all] [--access read|write|readwrite]
//               [--ready FILE] [--seconds N]
// Opens PATH (OPEN_ALWAYS) with that access and share mode and keeps it open for N
// seconds (default 600) or until killed, so tests see a file another program holds.
// The ready file is written once the handle is open. Exit codes: 0 held and released,
// 2 bad arguments, 3 PATH could not be opened (the ready file is then not written).
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || argc % 2 != 0) return 2;
    const std::wstring path = argv[1];
    DWORD share = 0;
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    std::wstring ready;
    DWORD seconds = 600;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::wstring name = argv[i], value = argv[i + 1];
        if (name == L"--share") {
            if (value == L"none") share = 0;
            else if (value == L"read") share = FILE_SHARE_READ;
            else if (value == L"readwrite") share = FILE_SHARE_READ | FILE_SHARE_WRITE;
            else if (value == L"all") share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
            else return 2;
        } else if (name == L"--access") {
            if (value == L"read") access = GENERIC_READ;
            else if (value == L"write") access = GENERIC_WRITE;
            else if (value == L"readwrite") access = GENERIC_READ | GENERIC_WRITE;
            else return 2;
        } else if (name == L"--ready") {
            ready = value;
        } else if (name == L"--seconds") {
            seconds = static_cast<DWORD>(_wtoi(value.c_str()));
        } else {
            return 2;
        }
    }
    HANDLE held = CreateFileW(path.c_str(), access, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 3;
    if (!ready.empty()) {
        HANDLE r = CreateFileW(ready.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (r != INVALID_HANDLE_VALUE) {
            const std::string pid = std::to_string(GetCurrentProcessId()) + "\n";
            DWORD written = 0;
            WriteFile(r, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
            CloseHandle(r);
        }
    }
    Sleep(seconds * 1000);
    CloseHandle(held);
    return 0;
}
