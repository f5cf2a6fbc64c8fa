#include <windows.h>
#include <objbase.h>
#include <propidl.h>
#include <propsys.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "common/handles.h"
#include "notify/identity.h"

namespace {

// PKEY_AppUserModel_ID {9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}, 5
const PROPERTYKEY kAppUserModelIdKey = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 5};

// Shortcuts with these names were written for notifications before each game had its
// own identity; they are taken away once a catalogue game registers its own.
const wchar_t* const kGenericShortcutNames[] = {L"Th\u00F4ng b\u00E1o", L"VORNEL LAB"};

const DWORD kLargestBlankIcon = 1048576;
const WORD kBlankToastIconResource = 102;

std::wstring modulePath() {
    wchar_t buffer[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return buffer;
}

bool pathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void setStringValue(HKEY key, const wchar_t* name, const std::wstring& value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void writeIdentityKey(const std::wstring& appId, const std::wstring& displayName,
                      const std::wstring& iconUri) {
    const std::wstring subkey = L"Software\\Classes\\AppUserModelId\\" + appId;
    UniqueHKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, key.receive(), nullptr) != ERROR_SUCCESS)
        return;
    setStringValue(key.get(), L"DisplayName", displayName);
    if (!iconUri.empty()) setStringValue(key.get(), L"IconUri", iconUri);
    const DWORD one = 1;
    RegSetValueExW(key.get(), L"ShowInSettings", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                   sizeof(one));
}

void setLinkAppUserModelId(const ComPtr<IShellLinkW>& link, const std::wstring& appId) {
    ComPtr<IPropertyStore> store;
    if (FAILED(link.queryInterface(IID_IPropertyStore, store))) return;
    const std::size_t bytes = (appId.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (!copy) return;
    std::memcpy(copy, appId.c_str(), bytes);
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_LPWSTR;
    value.pwszVal = copy;
    store->SetValue(kAppUserModelIdKey, value);
    PropVariantClear(&value);
    store->Commit();
}

void writeIdentityShortcut(const std::wstring& appId, const std::wstring& gameName,
                           const std::wstring& identityIcon) {
    wchar_t programs[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, programs, CSIDL_PROGRAMS, FALSE)) return;
    const std::wstring programsFolder = programs;
    const std::wstring linkPath = programsFolder + L"\\" + identityShortcutName(appId, gameName);
    const std::wstring exePath = modulePath();

    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.receiveVoid())))
        return;
    {
        // Loading an existing shortcut first keeps its arguments, hot key and show
        // command; a missing file just leaves a fresh link.
        ComPtr<IPersistFile> file;
        if (SUCCEEDED(link.queryInterface(IID_IPersistFile, file)))
            file->Load(linkPath.c_str(), STGM_READWRITE);
    }
    link->SetPath(exePath.c_str());
    link->SetWorkingDirectory(launcherDirectory().c_str());
    link->SetDescription(gameName.c_str());
    if (!identityIcon.empty()) link->SetIconLocation(identityIcon.c_str(), 0);
    setLinkAppUserModelId(link, appId);

    bool saved = false;
    {
        ComPtr<IPersistFile> file;
        if (SUCCEEDED(link.queryInterface(IID_IPersistFile, file)))
            saved = SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
    }
    if (!saved) return;
    SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW, linkPath.c_str(), nullptr);
    removeGenericShortcuts(programsFolder, exePath, gameName);
}

}  // namespace

std::wstring launcherDirectory() { return folderWithSeparator(modulePath()); }

std::wstring resolveBesideLauncher(const std::wstring& path) {
    switch (classifyImagePath(path)) {
        case ImagePathKind::Empty: return std::wstring();
        case ImagePathKind::Absolute: return path;
        case ImagePathKind::BesideLauncher: break;
    }
    return launcherDirectory() + path;
}

std::wstring chooseIdentityIcon(const std::wstring& candidateIcon) {
    if (!candidateIcon.empty() && pathExists(candidateIcon) && hasIdentityIconExtension(candidateIcon))
        return candidateIcon;
    return modulePath();
}

std::wstring writeBlankToastIcon() {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(kBlankToastIconResource), RT_RCDATA);
    if (!found) return std::wstring();
    const DWORD size = SizeofResource(nullptr, found);
    HGLOBAL loaded = LoadResource(nullptr, found);
    if (!loaded || size == 0 || size > kLargestBlankIcon) return std::wstring();
    const void* bytes = LockResource(loaded);
    if (!bytes) return std::wstring();

    wchar_t temp[MAX_PATH] = {};
    if (GetTempPathW(MAX_PATH, temp) == 0) return std::wstring();
    const std::wstring folder = std::wstring(temp) + L"QuolvaToast\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"blank.ico";

    bool complete = false;
    {
        UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return std::wstring();
        DWORD written = 0;
        complete = WriteFile(file.get(), bytes, size, &written, nullptr) && written == size;
    }
    if (!complete) {
        DeleteFileW(path.c_str());
        return std::wstring();
    }
    return path;
}

void removeGenericShortcuts(const std::wstring& programsFolder, const std::wstring& launcherPath,
                            const std::wstring& gameName) {
    if (!isCatalogueDisplayName(gameName)) return;
    for (const wchar_t* name : kGenericShortcutNames) {
        const std::wstring path = programsFolder + L"\\" + name + L".lnk";
        ComPtr<IShellLinkW> link;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    link.receiveVoid())))
            continue;
        ComPtr<IPersistFile> file;
        if (FAILED(link.queryInterface(IID_IPersistFile, file)) ||
            FAILED(file->Load(path.c_str(), STGM_READ)))
            continue;
        wchar_t target[MAX_PATH] = {};
        if (FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) continue;
        if (CompareStringOrdinal(target, -1, launcherPath.c_str(), -1, TRUE) != CSTR_EQUAL) continue;
        if (DeleteFileW(path.c_str())) SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, path.c_str(), nullptr);
    }
}

void registerAppIdentity(const std::wstring& appId, const std::wstring& displayName,
                         const std::wstring& gameName, const std::wstring& identityIcon) {
    std::wstring iconUri = writeBlankToastIcon();
    if (iconUri.empty() || !pathExists(iconUri)) iconUri = identityIcon;
    writeIdentityKey(appId, displayName, iconUri);
    writeIdentityShortcut(appId, gameName, identityIcon);
    SetCurrentProcessExplicitAppUserModelID(appId.c_str());
}
