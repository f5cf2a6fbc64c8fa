// Reading and writing shell links and registry values for the identity tests.
#pragma once

#include <windows.h>

#include <string>

struct ShortcutFields {
    std::wstring target;
    std::wstring arguments;
    std::wstring workingDirectory;
    std::wstring description;
    std::wstring iconPath;
    int iconIndex = -1;
    // PKEY_AppUserModel_ID as read back through IPropertyStore (empty when absent).
    std::wstring appUserModelId;
};

bool readShortcut(const std::wstring& path, ShortcutFields& fields);
bool writeShortcut(const std::wstring& path, const std::wstring& target,
                   const std::wstring& arguments, const std::wstring& description);

// Whether this platform writes the AppUserModelID of a shell link into the .lnk file
// and reads it back (Windows does; Wine 8 accepts it and drops it).
bool platformKeepsShortcutAppUserModelId();

std::wstring programsFolder();
std::wstring modulePathForTest();

struct RegistryValue {
    DWORD type = REG_NONE;
    std::string bytes;
    bool present = false;
    std::wstring text() const;
    DWORD number() const;
};
RegistryValue readUserValue(const std::wstring& subkey, const wchar_t* name);
bool userKeyExists(const std::wstring& subkey);
void deleteUserKey(const std::wstring& subkey);
