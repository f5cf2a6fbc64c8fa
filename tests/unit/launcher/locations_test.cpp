#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include "launcher/catalogue.h"
#include "support/child.h"
#include "support/test_files.h"

namespace {

std::wstring shellProfileFolder() {
    wchar_t buffer[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_PROFILE, FALSE)) return std::wstring();
    return buffer;
}

TEST(VersionRecordFolder, UsesUserProfileWhenItFits) {
    ScopedEnvironment env(L"USERPROFILE", L"C:\\Users\\player");
    EXPECT_EQ(versionRecordFolder(), L"C:\\Users\\player\\Quolva\\");
}

TEST(VersionRecordFolder, UsesTheValueAsItStands) {
    ScopedEnvironment env(L"USERPROFILE", L"  D:\\Spaced ");
    EXPECT_EQ(versionRecordFolder(), L"  D:\\Spaced \\Quolva\\");
}

TEST(VersionRecordFolder, FallsBackToTheShellProfileWhenUnset) {
    const std::wstring profile = shellProfileFolder();
    ASSERT_FALSE(profile.empty());
    ScopedEnvironment env(L"USERPROFILE", nullptr);
    EXPECT_EQ(versionRecordFolder(), profile + L"\\Quolva\\");
}

TEST(VersionRecordFolder, IgnoresAValueThatDoesNotFitTheBuffer) {
    const std::wstring profile = shellProfileFolder();
    ASSERT_FALSE(profile.empty());
    for (std::size_t length : {259u, 260u, 300u}) {
        const std::wstring value = L"C:\\" + std::wstring(length - 3, L'x');
        ScopedEnvironment env(L"USERPROFILE", value.c_str());
        const std::wstring expected = length <= 259 ? value + L"\\Quolva\\" : profile + L"\\Quolva\\";
        EXPECT_EQ(versionRecordFolder(), expected) << length;
    }
}

}  // namespace
