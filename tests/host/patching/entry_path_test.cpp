#include <gtest/gtest.h>

#include <string>

#include "patching/entry_path.h"

namespace {

TEST(EntryRelativePath, TurnsSlashesIntoBackslashes) {
    EXPECT_EQ(entryRelativePath("pmzlib/a/b.jar"), "pmzlib\\a\\b.jar");
    EXPECT_EQ(entryRelativePath("pmzlib\\a\\b.jar"), "pmzlib\\a\\b.jar");
    EXPECT_EQ(entryRelativePath("pmzlib/"), "pmzlib\\");
    EXPECT_EQ(entryRelativePath("d\xC3\xA2t/\xE1\xBB\x87.txt"), "d\xC3\xA2t\\\xE1\xBB\x87.txt");
}

TEST(EntryRelativePath, EndsAtTheFirstNul) {
    EXPECT_EQ(entryRelativePath(std::string("a/b\0/../../x", 12)), "a\\b");
}

struct SafetyCase {
    const char* name;
    bool safe;
};

class EntryNameSafety : public testing::TestWithParam<SafetyCase> {};

TEST_P(EntryNameSafety, RefusesNamesLeadingOutsideTheRootOrElsewhere) {
    const SafetyCase& c = GetParam();
    EXPECT_EQ(isSafeRelativePath(entryRelativePath(c.name)), c.safe) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, EntryNameSafety,
    testing::Values(SafetyCase{"game.exe", true}, SafetyCase{"pmzlib/a/b.jar", true},
                    SafetyCase{"pmzlib/", true}, SafetyCase{"..a/.b", true},
                    SafetyCase{"a.b/c d.txt", true}, SafetyCase{"console.txt", true},
                    SafetyCase{"com10.txt", true}, SafetyCase{"nullable/x", true},
                    SafetyCase{"..", false}, SafetyCase{"../x", false},
                    SafetyCase{"a/../../x", false}, SafetyCase{"a\\..\\..\\x", false},
                    SafetyCase{"a/..", false}, SafetyCase{"a/../", false},
                    SafetyCase{"a/.../x", false}, SafetyCase{"a/.. /x", false},
                    SafetyCase{"a/. ./x", false}, SafetyCase{"/etc/x", false},
                    SafetyCase{"\\Windows\\x", false}, SafetyCase{"\\\\?\\C:\\x", false},
                    SafetyCase{"\\\\server\\share\\x", false}, SafetyCase{"C:\\x", false},
                    SafetyCase{"C:x", false}, SafetyCase{"a/b.txt:stream", false},
                    SafetyCase{"", false},
                    // Other spellings of some other path: Win32 drops "." and empty
                    // components and a trailing period or blank, so each of these could
                    // be the running launcher.
                    SafetyCase{"./game.exe", false}, SafetyCase{"kova/./game.exe", false},
                    SafetyCase{"game.exe.", false}, SafetyCase{"GAME.EXE ", false},
                    SafetyCase{"kova./game.exe", false}, SafetyCase{"kova /game.exe", false},
                    SafetyCase{"kova//game.exe", false}, SafetyCase{"a/.", false},
                    // Reserved device names, wherever they stand and with any extension.
                    SafetyCase{"CON", false}, SafetyCase{"a/nul.txt", false},
                    SafetyCase{"Com1", false}, SafetyCase{"AUX /x", false},
                    SafetyCase{"lpt9.tar.gz", false}, SafetyCase{"CONOUT$", false},
                    SafetyCase{"COM\xC2\xB9.log", false}));

TEST(DirectoryEntry, ReportedOrEndingInBackslash) {
    EXPECT_TRUE(isDirectoryEntry(true, "pmzlib"));
    EXPECT_TRUE(isDirectoryEntry(false, "pmzlib\\"));
    EXPECT_FALSE(isDirectoryEntry(false, "pmzlib\\a.jar"));
}

TEST(LauncherTarget, CaseOfAsciiLettersOnly) {
    EXPECT_TRUE(equalIgnoringAsciiCase(L"C:\\Quolva\\game.exe", L"c:\\QUOLVA\\GAME.EXE"));
    EXPECT_FALSE(equalIgnoringAsciiCase(L"C:\\Quolva\\game.exe", L"C:\\Quolva\\game.exe.bak"));
    EXPECT_FALSE(equalIgnoringAsciiCase(L"C:\\Quolva\\game.exe", L"C:\\Quolva\\gamx.exe"));
    // Beyond A-Z nothing is folded: E with acute stays apart from e with acute.
    EXPECT_FALSE(equalIgnoringAsciiCase(L"C:\\\u00C9\\game.exe", L"C:\\\u00E9\\game.exe"));
    // '@' and '`' sit next to the letters and must not be taken for them.
    EXPECT_FALSE(equalIgnoringAsciiCase(L"@", L"`"));
}

TEST(ParentFolder, EverythingBeforeTheLastBackslash) {
    EXPECT_EQ(parentFolderOf(L"C:\\Quolva\\pmzlib\\a\\b.jar"), L"C:\\Quolva\\pmzlib\\a");
    EXPECT_EQ(parentFolderOf(L"C:\\Quolva\\b.jar"), L"C:\\Quolva");
    EXPECT_EQ(parentFolderOf(L"b.jar"), L"");
}

TEST(ReplacementPath, StaysBesideTheTarget) {
    const std::wstring target = L"C:\\Quolva\\pmzlib\\a.jar";
    const std::wstring replacement = replacementPathFor(target);
    EXPECT_NE(replacement, target);
    EXPECT_EQ(parentFolderOf(replacement), parentFolderOf(target));
}

}  // namespace
