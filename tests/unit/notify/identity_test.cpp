// The application identity under Wine: registry key, blank icon, Start-menu shortcut,
// removal of the generic shortcuts, and the path choices that need the file system.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include "launcher/display_names.h"
#include "notify/identity.h"
#include "notify_support.h"
#include "shortcut_support.h"

namespace {

const std::wstring kIdentityRoot = L"Software\\Classes\\AppUserModelId\\";
const std::wstring kThongBao = L"Th\u00F4ng b\u00E1o";

std::string blankIconResource() {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(102), RT_RCDATA);
    if (!found) return std::string();
    const void* bytes = LockResource(LoadResource(nullptr, found));
    return std::string(static_cast<const char*>(bytes), SizeofResource(nullptr, found));
}

std::wstring upperCase(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
    return text;
}

class IdentityTest : public testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }

    // Shortcut path in the user's Programs folder, removed before and after the test.
    std::wstring programsShortcut(const std::wstring& name) {
        const std::wstring path = programsFolder() + L"\\" + name + L".lnk";
        DeleteFileW(path.c_str());
        cleanup_.push_back(path);
        return path;
    }
    std::wstring identityKey(const std::wstring& appId) {
        deleteUserKey(kIdentityRoot + appId);
        keys_.push_back(kIdentityRoot + appId);
        return kIdentityRoot + appId;
    }
    void TearDown() override {
        for (const std::wstring& path : cleanup_) DeleteFileW(path.c_str());
        for (const std::wstring& key : keys_) deleteUserKey(key);
    }

    ScratchFolder temp;
    ScopedEnvironment tempVariable{L"TMP", temp.path()};
    const std::wstring exe = modulePathForTest();

private:
    std::vector<std::wstring> cleanup_;
    std::vector<std::wstring> keys_;
};

TEST_F(IdentityTest, RegistersTheKeyTheBlankIconAndTheShortcut) {
    const std::wstring key = identityKey(L"VORNELLAB.BELU");
    const std::wstring link = programsShortcut(kDisplayNameBelu);

    registerAppIdentity(L"VORNELLAB.BELU", kDisplayNameBelu, kDisplayNameBelu, exe);

    const RegistryValue displayName = readUserValue(key, L"DisplayName");
    ASSERT_TRUE(displayName.present);
    EXPECT_EQ(displayName.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(displayName.bytes.size(), (std::wstring(kDisplayNameBelu).size() + 1) * 2);
    EXPECT_EQ(displayName.text(), kDisplayNameBelu);

    const std::wstring blankIcon = temp.path() + L"\\QuolvaToast\\blank.ico";
    const RegistryValue iconUri = readUserValue(key, L"IconUri");
    ASSERT_TRUE(iconUri.present);
    EXPECT_EQ(iconUri.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(iconUri.text(), blankIcon);
    EXPECT_EQ(iconUri.bytes.size(), (blankIcon.size() + 1) * 2);
    std::string written;
    ASSERT_TRUE(readBytes(blankIcon, written));
    EXPECT_EQ(written, blankIconResource());

    const RegistryValue showInSettings = readUserValue(key, L"ShowInSettings");
    EXPECT_EQ(showInSettings.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(showInSettings.number(), 1u);

    ShortcutFields fields;
    ASSERT_TRUE(readShortcut(link, fields));
    EXPECT_EQ(fields.target, exe);
    EXPECT_EQ(fields.workingDirectory, launcherDirectory());
    EXPECT_EQ(fields.description, kDisplayNameBelu);
    EXPECT_EQ(fields.iconPath, exe);
    EXPECT_EQ(fields.iconIndex, 0);
    EXPECT_TRUE(fields.arguments.empty());
    if (platformKeepsShortcutAppUserModelId())
        EXPECT_EQ(fields.appUserModelId, L"VORNELLAB.BELU");
    else
        RecordProperty("shortcut_app_user_model_id", "not kept by this platform");

    // Wine 8 accepts the process identity but cannot report it back.
    PWSTR processId = nullptr;
    if (SUCCEEDED(GetCurrentProcessExplicitAppUserModelID(&processId))) {
        EXPECT_STREQ(processId, L"VORNELLAB.BELU");
        CoTaskMemFree(processId);
    } else {
        RecordProperty("process_app_user_model_id", "not reported by this platform");
    }
}

TEST_F(IdentityTest, IconUriFallsBackToTheIdentityIconWhenTheBlankIconCannotBeWritten) {
    ASSERT_TRUE(writeBytes(temp / L"QuolvaToast", "a file where the folder goes"));
    const std::wstring key = identityKey(L"VORNELLAB.KOVA");
    programsShortcut(kDisplayNameKova);
    const std::wstring icon = temp / L"game.ico";
    ASSERT_TRUE(writeBytes(icon, blankIconResource()));

    registerAppIdentity(L"VORNELLAB.KOVA", kDefaultDisplayName, kDisplayNameKova, icon);

    EXPECT_EQ(readUserValue(key, L"IconUri").text(), icon);
    EXPECT_EQ(readUserValue(key, L"DisplayName").text(), kDefaultDisplayName);
}

TEST_F(IdentityTest, ExistingShortcutKeepsItsArgumentsAndTakesTheNewFields) {
    const std::wstring link = programsShortcut(kDisplayNameStoneHarbor);
    identityKey(L"VORNELLAB.StoneHarbor");
    ASSERT_TRUE(writeShortcut(link, L"C:\\windows\\notepad.exe", L"--windowed --lang vi", L"old"));
    const std::wstring icon = temp / L"Harbor.ICO";
    ASSERT_TRUE(writeBytes(icon, blankIconResource()));

    registerAppIdentity(L"VORNELLAB.StoneHarbor", kDisplayNameStoneHarbor, kDisplayNameStoneHarbor, icon);

    ShortcutFields fields;
    ASSERT_TRUE(readShortcut(link, fields));
    EXPECT_EQ(fields.arguments, L"--windowed --lang vi");
    EXPECT_EQ(fields.target, exe);
    EXPECT_EQ(fields.workingDirectory, launcherDirectory());
    EXPECT_EQ(fields.description, kDisplayNameStoneHarbor);
    EXPECT_EQ(fields.iconPath, icon);
    EXPECT_EQ(fields.iconIndex, 0);
}

TEST_F(IdentityTest, EmptyGameNameNamesTheShortcutAfterTheIdentity) {
    const std::wstring link = programsShortcut(L"Notify Test Identity");
    identityKey(L"Notify Test Identity");
    registerAppIdentity(L"Notify Test Identity", L"Notify Test Identity", L"", exe);
    ShortcutFields fields;
    ASSERT_TRUE(readShortcut(link, fields));
    EXPECT_EQ(fields.description, L"");
    EXPECT_EQ(fields.target, exe);
}

TEST_F(IdentityTest, CatalogueGameRemovesTheGenericShortcutsThatPointHere) {
    programsShortcut(kDisplayNameKova);
    identityKey(L"VORNELLAB.KOVA");
    const std::wstring thongBao = programsShortcut(kThongBao);
    const std::wstring vornel = programsShortcut(kDefaultDisplayName);
    ASSERT_TRUE(writeShortcut(thongBao, upperCase(exe), L"", L"generic"));
    ASSERT_TRUE(writeShortcut(vornel, L"C:\\windows\\notepad.exe", L"", L"someone else's"));

    registerAppIdentity(L"VORNELLAB.KOVA", kDefaultDisplayName, kDisplayNameKova, exe);

    EXPECT_FALSE(pathExists(thongBao));
    EXPECT_TRUE(pathExists(vornel));
}

TEST_F(IdentityTest, DefaultIdentityWritesTheGenericNamedShortcutAndRemovesNothing) {
    const std::wstring vornel = programsShortcut(kDefaultDisplayName);
    identityKey(kDefaultDisplayName);
    const std::wstring thongBao = programsShortcut(kThongBao);
    ASSERT_TRUE(writeShortcut(thongBao, exe, L"", L"generic"));

    registerAppIdentity(kDefaultDisplayName, kDefaultDisplayName, kDefaultDisplayName, exe);

    ShortcutFields fields;
    ASSERT_TRUE(readShortcut(vornel, fields));
    EXPECT_EQ(fields.target, exe);
    EXPECT_TRUE(pathExists(thongBao));
    EXPECT_TRUE(userKeyExists(kIdentityRoot + kDefaultDisplayName));
}

struct GenericCase {
    const wchar_t* gameName;
    bool thongBaoHere;
    bool vornelHere;
    bool thongBaoRemoved;
    bool vornelRemoved;
};

TEST_F(IdentityTest, GenericShortcutsGoOnlyForACatalogueGameAndOnlyWhenTheyPointHere) {
    const std::vector<GenericCase> cases = {
        {kDisplayNameKova, true, true, true, true},
        {kDisplayNameBelu, true, false, true, false},
        {kDisplayNameStoneHarbor, false, true, false, true},
        {kDefaultDisplayName, true, true, false, false},
        {L"kova ascendant", true, true, false, false},
        {L"", true, true, false, false},
    };
    ScratchFolder programs;
    const std::wstring thongBao = programs / (kThongBao + L".lnk");
    const std::wstring vornel = programs / L"VORNEL LAB.lnk";
    const std::wstring launcher = L"C:\\Games\\Kova\\game.exe";
    for (const GenericCase& c : cases) {
        // The stored target differs from the launcher path in letter case only.
        ASSERT_TRUE(writeShortcut(thongBao, c.thongBaoHere ? L"c:\\games\\KOVA\\Game.exe" : L"C:\\other.exe", L"", L""));
        ASSERT_TRUE(writeShortcut(vornel, c.vornelHere ? launcher : L"C:\\Games\\Kova\\game2.exe", L"", L""));
        removeGenericShortcuts(programs.path(), launcher, c.gameName);
        EXPECT_EQ(!pathExists(thongBao), c.thongBaoRemoved) << c.gameName;
        EXPECT_EQ(!pathExists(vornel), c.vornelRemoved) << c.gameName;
    }
}

TEST_F(IdentityTest, BlankIconIsRewrittenFromTheResourceEveryTime) {
    const std::wstring path = writeBlankToastIcon();
    EXPECT_EQ(path, temp.path() + L"\\QuolvaToast\\blank.ico");
    ASSERT_TRUE(writeBytes(path, "damaged"));
    EXPECT_EQ(writeBlankToastIcon(), path);
    std::string bytes;
    ASSERT_TRUE(readBytes(path, bytes));
    EXPECT_EQ(bytes.size(), 92u);
    EXPECT_EQ(bytes, blankIconResource());
}

TEST_F(IdentityTest, BlankIconIsNotWrittenWhenItsFolderCannotBeMade) {
    ASSERT_TRUE(writeBytes(temp / L"QuolvaToast", "in the way"));
    EXPECT_EQ(writeBlankToastIcon(), L"");
}

struct IconCase {
    const wchar_t* name;  // created in the scratch folder unless it starts with '!'
    bool usable;
};

TEST_F(IdentityTest, IdentityIconIsTheCandidateOnlyWhenItIsAnExistingIconExeOrDll) {
    ScratchFolder files;
    ASSERT_TRUE(CreateDirectoryW((files / L"pack.v2").c_str(), nullptr));
    const std::vector<IconCase> cases = {
        {L"game.ico", true},
        {L"GAME.ICO", true},
        {L"tool.Exe", true},
        {L"res.dll", true},
        {L"logo.png", false},
        {L"pack.v2\\noextension", false},
        {L"archive.ico.bak", false},
        {L"!missing.ico", false},
    };
    for (const IconCase& c : cases) {
        std::wstring name = c.name;
        const bool create = name[0] != L'!';
        if (!create) name = name.substr(1);
        const std::wstring path = files / name;
        if (create) ASSERT_TRUE(writeBytes(path, "icon")) << name;
        EXPECT_EQ(chooseIdentityIcon(path), c.usable ? path : exe) << name;
    }
    EXPECT_EQ(chooseIdentityIcon(L""), exe);
}

TEST(ImagePaths, RelativePathsAreTakenBesideTheLauncher) {
    const std::wstring exe = modulePathForTest();
    const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\') + 1);
    EXPECT_EQ(launcherDirectory(), folder);

    const struct {
        const wchar_t* path;
        bool besideLauncher;
    } cases[] = {
        {L"resource/game.ico", true},
        {L"resource\\game.ico", true},
        {L"\\rooted\\game.ico", true},
        {L"/forward/game.ico", true},
        {L"C:\\Games\\game.ico", false},
        {L"d:relative.ico", false},
        {L"\\\\server\\share\\game.ico", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(resolveBesideLauncher(c.path), c.besideLauncher ? folder + c.path : std::wstring(c.path)) << c.path;
    EXPECT_EQ(resolveBesideLauncher(L""), L"");
}

}  // namespace
