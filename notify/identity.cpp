#include "notify/identity.h"

#include "launcher/display_names.h"

namespace {

struct IdentityRow {
    const wchar_t* displayName;
    const wchar_t* appId;
};

const IdentityRow kIdentities[] = {
    {kDisplayNameKova, L"VORNELLAB.KOVA"},
    {kDisplayNameBelu, L"VORNELLAB.BELU"},
    {kDisplayNameStoneHarbor, L"VORNELLAB.StoneHarbor"},
};

wchar_t lowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

}  // namespace

std::wstring chooseAppUserModelId(const std::wstring& appName, const std::wstring& gameName) {
    for (const IdentityRow& row : kIdentities)
        if (gameName == row.displayName) return row.appId;
    return appName.empty() ? std::wstring(kDefaultDisplayName) : appName;
}

bool isCatalogueDisplayName(const std::wstring& gameName) {
    for (const IdentityRow& row : kIdentities)
        if (gameName == row.displayName) return true;
    return false;
}

bool hasIdentityIconExtension(const std::wstring& path) {
    const std::size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos) return false;
    std::wstring extension = path.substr(dot);
    for (wchar_t& c : extension) c = lowerAscii(c);
    return extension == L".ico" || extension == L".exe" || extension == L".dll";
}

ImagePathKind classifyImagePath(const std::wstring& path) {
    if (path.empty()) return ImagePathKind::Empty;
    if (path.size() >= 2 && path[1] == L':') return ImagePathKind::Absolute;
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') return ImagePathKind::Absolute;
    return ImagePathKind::BesideLauncher;
}

std::wstring folderWithSeparator(const std::wstring& modulePath) {
    const std::size_t last = modulePath.find_last_of(L"\\/");
    if (last == std::wstring::npos) return std::wstring();
    return modulePath.substr(0, last + 1);
}

std::wstring identityShortcutName(const std::wstring& appId, const std::wstring& gameName) {
    return (gameName.empty() ? appId : gameName) + L".lnk";
}
