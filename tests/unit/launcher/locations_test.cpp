#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include "launcher/catalogue.h"
#include "support/child.h"

namespace {

// Sets or clears one environment variable for the test's duration.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
        wchar_t buffer[32768];
        const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
        had_ = length > 0 && length < 32768;
        if (had_) old_ = buffer;
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedEnvironment() { SetEnvironmentVariableW(name_.c_str(), had_ ? old_.c_str() : nullptr); }

private:
    std::wstring name_;
    std::wstring old_;
    bool had_ = false;
};

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
