#include <windows.h>
#include <shlobj.h>

#include "launcher/catalogue.h"

std::wstring versionRecordFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"USERPROFILE", buffer, MAX_PATH);
    if (length >= 1 && length < MAX_PATH) return std::wstring(buffer) + L"\\Quolva\\";

    ZeroMemory(buffer, sizeof(buffer));
    if (SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_PROFILE, FALSE))
        return std::wstring(buffer) + L"\\Quolva\\";

    return g_installRoot + L"jre\\bin\\";
}
