#include "shortcut_support.h"

#include <objbase.h>
#include <propidl.h>
#include <propsys.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "common/handles.h"
#include "notify_support.h"

namespace {

const PROPERTYKEY kAppUserModelIdKey = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 5};

ComPtr<IShellLinkW> newLink() {
    ComPtr<IShellLinkW> link;
    CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.receiveVoid());
    return link;
}

std::wstring readAppUserModelId(const ComPtr<IShellLinkW>& link) {
    ComPtr<IPropertyStore> store;
    if (FAILED(link.queryInterface(IID_IPropertyStore, store))) return std::wstring();
    PROPVARIANT value;
    PropVariantInit(&value);
    std::wstring id;
    if (SUCCEEDED(store->GetValue(kAppUserModelIdKey, &value)) && value.vt == VT_LPWSTR && value.pwszVal)
        id = value.pwszVal;
    PropVariantClear(&value);
    return id;
}

}  // namespace

bool readShortcut(const std::wstring& path, ShortcutFields& fields) {
    fields = ShortcutFields();
    ComPtr<IShellLinkW> link = newLink();
    ComPtr<IPersistFile> file;
    if (!link || FAILED(link.queryInterface(IID_IPersistFile, file)) ||
        FAILED(file->Load(path.c_str(), STGM_READ)))
        return false;
    wchar_t buffer[MAX_PATH] = {};
    link->GetPath(buffer, MAX_PATH, nullptr, SLGP_RAWPATH);
    fields.target = buffer;
    ZeroMemory(buffer, sizeof(buffer));
    link->GetArguments(buffer, MAX_PATH);
    fields.arguments = buffer;
    ZeroMemory(buffer, sizeof(buffer));
    link->GetWorkingDirectory(buffer, MAX_PATH);
    fields.workingDirectory = buffer;
    ZeroMemory(buffer, sizeof(buffer));
    link->GetDescription(buffer, MAX_PATH);
    fields.description = buffer;
    ZeroMemory(buffer, sizeof(buffer));
    int index = -1;
    link->GetIconLocation(buffer, MAX_PATH, &index);
    fields.iconPath = buffer;
    fields.iconIndex = index;
    fields.appUserModelId = readAppUserModelId(link);
    return true;
}

bool writeShortcut(const std::wstring& path, const std::wstring& target,
                   const std::wstring& arguments, const std::wstring& description) {
    ComPtr<IShellLinkW> link = newLink();
    ComPtr<IPersistFile> file;
    if (!link || FAILED(link.queryInterface(IID_IPersistFile, file))) return false;
    link->SetPath(target.c_str());
    link->SetArguments(arguments.c_str());
    link->SetDescription(description.c_str());
    link->SetWorkingDirectory(L"C:\\windows");
    return SUCCEEDED(file->Save(path.c_str(), TRUE));
}

bool platformKeepsShortcutAppUserModelId() {
    ScratchFolder scratch;
    const std::wstring path = scratch / L"probe.lnk";
    {
        ComPtr<IShellLinkW> link = newLink();
        ComPtr<IPropertyStore> store;
        ComPtr<IPersistFile> file;
        if (!link || FAILED(link.queryInterface(IID_IPropertyStore, store)) ||
            FAILED(link.queryInterface(IID_IPersistFile, file)))
            return false;
        link->SetPath(L"C:\\windows\\notepad.exe");
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_LPWSTR;
        value.pwszVal = static_cast<wchar_t*>(CoTaskMemAlloc(sizeof(L"Probe.Id")));
        std::memcpy(value.pwszVal, L"Probe.Id", sizeof(L"Probe.Id"));
        store->SetValue(kAppUserModelIdKey, value);
        PropVariantClear(&value);
        store->Commit();
        if (FAILED(file->Save(path.c_str(), TRUE))) return false;
    }
    ShortcutFields fields;
    return readShortcut(path, fields) && fields.appUserModelId == L"Probe.Id";
}

std::wstring programsFolder() {
    wchar_t buffer[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_PROGRAMS, TRUE);
    return buffer;
}

std::wstring modulePathForTest() {
    wchar_t buffer[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return buffer;
}

std::wstring RegistryValue::text() const {
    std::wstring out(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(&out[0], bytes.data(), out.size() * sizeof(wchar_t));
    if (!out.empty() && out.back() == L'\0') out.pop_back();
    return out;
}

DWORD RegistryValue::number() const {
    DWORD value = 0;
    if (bytes.size() == sizeof(value)) std::memcpy(&value, bytes.data(), sizeof(value));
    return value;
}

RegistryValue readUserValue(const std::wstring& subkey, const wchar_t* name) {
    RegistryValue value;
    UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ, key.receive()) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
        return value;
    value.bytes.resize(size);
    if (RegQueryValueExW(key.get(), name, nullptr, &value.type,
                         reinterpret_cast<BYTE*>(&value.bytes[0]), &size) == ERROR_SUCCESS) {
        value.bytes.resize(size);
        value.present = true;
    }
    return value;
}

bool userKeyExists(const std::wstring& subkey) {
    UniqueHKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ, key.receive()) == ERROR_SUCCESS;
}

void deleteUserKey(const std::wstring& subkey) { RegDeleteTreeW(HKEY_CURRENT_USER, subkey.c_str()); }
