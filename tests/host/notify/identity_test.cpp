#include <gtest/gtest.h>

#include "common/text.h"
#include "launcher/selection.h"
#include "notify/identity.h"

namespace {

struct IdentityCase {
    const wchar_t* appName;
    const wchar_t* gameName;
    const wchar_t* appId;
};

TEST(AppUserModelId, ChosenFromTheGameNameExactly) {
    const IdentityCase cases[] = {
        {L"VORNEL LAB", L"Kova Ascendant", L"VORNELLAB.KOVA"},
        {L"Kova Ascendant", L"Belu Ascendant", L"VORNELLAB.BELU"},
        {L"", L"Stone Harbor", L"VORNELLAB.StoneHarbor"},
        {L"VORNEL LAB", L"VORNEL LAB", L"VORNEL LAB"},
        {L"VORNEL LAB", L"kova ascendant", L"VORNEL LAB"},
        {L"Kova Ascendant", L"KOVA ASCENDANT", L"Kova Ascendant"},
        {L"VORNEL LAB", L"Stone harbor", L"VORNEL LAB"},
        {L"VORNEL LAB", L"Kova Ascendant ", L"VORNEL LAB"},
        {L"VORNEL LAB", L"Kova", L"VORNEL LAB"},
        {L"", L"", L"VORNEL LAB"},
        {L"", L"Something", L"VORNEL LAB"},
        {L"Other Name", L"", L"Other Name"},
    };
    for (const IdentityCase& c : cases)
        EXPECT_EQ(chooseAppUserModelId(c.appName, c.gameName), c.appId) << c.appName << " / " << c.gameName;
}

TEST(AppUserModelId, EveryDisplayNameTheSelectionWritesHasItsOwnIdentity) {
    // The selection and the identity table must hold the very same texts.
    const struct {
        const char* folder;
        const wchar_t* appId;
    } cases[] = {
        {"d:\\games\\kova online", L"VORNELLAB.KOVA"},
        {"c:\\zephyn", L"VORNELLAB.BELU"},
        {"e:\\harborshadow_setup", L"VORNELLAB.StoneHarbor"},
        {"c:\\quolva", L"VORNEL LAB"},
    };
    for (const auto& c : cases) {
        const GameSelection selection = selectGame(toLowerAscii(c.folder));
        EXPECT_EQ(chooseAppUserModelId(L"VORNEL LAB", selection.displayName), c.appId) << c.folder;
        EXPECT_EQ(isCatalogueDisplayName(selection.displayName), std::wstring(c.appId) != L"VORNEL LAB");
    }
}

TEST(IdentityIcon, ExtensionIsTheTextAfterTheLastDotOfTheWholePath) {
    const struct {
        const wchar_t* path;
        bool usable;
    } cases[] = {
        {L"C:\\x\\game.ico", true},   {L"C:\\x\\GAME.ICO", true},     {L"C:\\x\\a.Exe", true},
        {L"C:\\x\\a.dll", true},      {L"C:\\x\\logo.png", false},    {L"C:\\x.v2\\noext", false},
        {L"C:\\x\\a.ico.bak", false}, {L"C:\\x\\ico", false},         {L"C:\\x\\a.icon", false},
        {L".ico", true},              {L"", false},                   {L"C:\\x\\a.", false},
    };
    for (const auto& c : cases) EXPECT_EQ(hasIdentityIconExtension(c.path), c.usable) << c.path;
}

TEST(ImagePathKind, DrivePathsAndUncPathsStandAsTheyAre) {
    const struct {
        const wchar_t* path;
        ImagePathKind kind;
    } cases[] = {
        {L"", ImagePathKind::Empty},
        {L"C:\\Games\\game.ico", ImagePathKind::Absolute},
        {L"c:relative.ico", ImagePathKind::Absolute},
        {L"\\\\server\\share\\a.ico", ImagePathKind::Absolute},
        {L"resource/game.ico", ImagePathKind::BesideLauncher},
        {L"\\rooted.ico", ImagePathKind::BesideLauncher},
        {L"/forward.ico", ImagePathKind::BesideLauncher},
        {L"//server/share.ico", ImagePathKind::BesideLauncher},
        {L"C", ImagePathKind::BesideLauncher},
        {L":", ImagePathKind::BesideLauncher},
    };
    for (const auto& c : cases) EXPECT_EQ(classifyImagePath(c.path), c.kind) << c.path;
}

TEST(LauncherFolder, KeepsTheTrailingSeparator) {
    EXPECT_EQ(folderWithSeparator(L"C:\\Games\\Kova\\game.exe"), L"C:\\Games\\Kova\\");
    EXPECT_EQ(folderWithSeparator(L"C:/Games/Kova/game.exe"), L"C:/Games/Kova/");
    EXPECT_EQ(folderWithSeparator(L"C:\\Games/Kova\\game.exe"), L"C:\\Games/Kova\\");
    EXPECT_EQ(folderWithSeparator(L"game.exe"), L"");
    EXPECT_EQ(folderWithSeparator(L""), L"");
}

TEST(IdentityShortcut, NamedAfterTheGameOrElseTheIdentity) {
    EXPECT_EQ(identityShortcutName(L"VORNELLAB.BELU", L"Belu Ascendant"), L"Belu Ascendant.lnk");
    EXPECT_EQ(identityShortcutName(L"VORNEL LAB", L"VORNEL LAB"), L"VORNEL LAB.lnk");
    EXPECT_EQ(identityShortcutName(L"VORNEL LAB", L""), L"VORNEL LAB.lnk");
}

}  // namespace
