// Registers the toast recorder DLL in the current Wine prefix (or Windows test
// machine) as the provider of the three toast classes of the Windows Runtime.
//   register_toast_recorder.exe [dll path]      (default: toast_recorder.dll beside it)
//   register_toast_recorder.exe --unregister
// The Windows Runtime finds an in-process class under
// HKLM\Software\Microsoft\WindowsRuntime\ActivatableClassId\<class>: DllPath names the
// DLL whose DllGetActivationFactory export makes the class's factory.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const wchar_t* const kClasses[] = {
    L"Windows.UI.Notifications.ToastNotificationManager",
    L"Windows.Data.Xml.Dom.XmlDocument",
    L"Windows.UI.Notifications.ToastNotification",
};

const wchar_t kRoot[] = L"Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\";

std::wstring besideThisProgram(const wchar_t* name) {
    wchar_t buffer[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path = buffer;
    return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

bool registerClass(const std::wstring& className, const std::wstring& dllPath) {
    HKEY key = nullptr;
    const std::wstring subkey = kRoot + className;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const DWORD inProcess = 0;  // ActivationType: in-process server
    const DWORD both = 0;       // Threading: both apartments
    bool ok = RegSetValueExW(key, L"DllPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(dllPath.c_str()),
                             static_cast<DWORD>((dllPath.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    ok = RegSetValueExW(key, L"ActivationType", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&inProcess),
                        sizeof(DWORD)) == ERROR_SUCCESS && ok;
    ok = RegSetValueExW(key, L"Threading", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&both),
                        sizeof(DWORD)) == ERROR_SUCCESS && ok;
    RegCloseKey(key);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring argument = argc > 1 ? argv[1] : L"";
    if (argument == L"--unregister") {
        int failures = 0;
        for (const wchar_t* className : kClasses) {
            const LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kRoot + std::wstring(className)).c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) ++failures;
        }
        return failures == 0 ? 0 : 1;
    }

    wchar_t full[MAX_PATH] = {};
    const std::wstring requested = argument.empty() ? besideThisProgram(L"toast_recorder.dll") : argument;
    if (GetFullPathNameW(requested.c_str(), MAX_PATH, full, nullptr) == 0) return 2;
    if (GetFileAttributesW(full) == INVALID_FILE_ATTRIBUTES) {
        fwprintf(stderr, L"register_toast_recorder: %ls not found\n", full);
        return 2;
    }
    for (const wchar_t* className : kClasses) {
        if (!registerClass(className, full)) {
            fwprintf(stderr, L"register_toast_recorder: cannot register %ls\n", className);
            return 1;
        }
    }
    wprintf(L"toast recorder registered: %ls\n", full);
    return 0;
}
