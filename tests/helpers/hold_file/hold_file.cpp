// hold_file.exe PATH [--share none|read|readwrite|all] [--access read|write|readwrite]
//               [--lock OFFSET:LENGTH] [--ready FILE] [--seconds N]
// Opens PATH (OPEN_ALWAYS; an existing folder is opened as a folder) with that access
// and share mode and keeps it open for N seconds (default 600) or until killed, so
// tests see a file another program holds. --lock also takes an exclusive byte-range
// lock (LockFileEx) on that range, for locked-record failures on a file others may
// open. The ready file is written once the handle is open and the lock taken.
// Exit codes: 0 held and released, 2 bad arguments, 3 PATH could not be opened,
// 4 the range could not be locked (the ready file is then not written).
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || argc % 2 != 0) return 2;
    const std::wstring path = argv[1];
    DWORD share = 0;
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    std::wstring ready;
    DWORD seconds = 600;
    bool lockRange = false;
    ULONGLONG lockOffset = 0, lockLength = 0;
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
        } else if (name == L"--lock") {
            const size_t colon = value.find(L':');
            if (colon == std::wstring::npos) return 2;
            lockOffset = wcstoull(value.substr(0, colon).c_str(), nullptr, 10);
            lockLength = wcstoull(value.substr(colon + 1).c_str(), nullptr, 10);
            if (lockLength == 0) return 2;
            lockRange = true;
        } else if (name == L"--ready") {
            ready = value;
        } else if (name == L"--seconds") {
            seconds = static_cast<DWORD>(_wtoi(value.c_str()));
        } else {
            return 2;
        }
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    HANDLE held = CreateFileW(path.c_str(), access, share, nullptr, folder ? OPEN_EXISTING : OPEN_ALWAYS,
                              folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 3;
    if (lockRange) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(lockOffset);
        at.OffsetHigh = static_cast<DWORD>(lockOffset >> 32);
        if (!LockFileEx(held, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                        static_cast<DWORD>(lockLength), static_cast<DWORD>(lockLength >> 32), &at)) {
            CloseHandle(held);
            return 4;
        }
    }
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
