#include <gtest/gtest.h>

#include "process/detection_rules.h"

namespace {

TEST(IsJavaProcessName, TakesOnlyTheTwoJavaNamesInAnyAsciiCase) {
    struct Case {
        const wchar_t* name;
        bool candidate;
    };
    const Case cases[] = {
        {L"java.exe", true},      {L"javaw.exe", true},      {L"JAVA.EXE", true},
        {L"JavaW.Exe", true},     {L"java.exe.old", false},  {L"java64.exe", false},
        {L"myjava.exe", false},   {L"java", false},          {L"javaw", false},
        {L"java.ex", false},      {L"java.exe ", false},     {L"", false},
        {L"j\u0430va.exe", false},  // Cyrillic a: only ASCII letters fold
    };
    for (const Case& c : cases) EXPECT_EQ(isJavaProcessName(c.name), c.candidate) << c.name;
}

TEST(IsSystemProcessId, NamesOnlyTheIdleAndSystemProcesses) {
    EXPECT_TRUE(isSystemProcessId(0));
    EXPECT_TRUE(isSystemProcessId(4));
    for (std::uint32_t id : {1u, 2u, 8u, 612u, 0xFFFFFFFFu}) EXPECT_FALSE(isSystemProcessId(id)) << id;
}

TEST(IsReadableCommandLine, RefusesEmptyMissingAndOverlongText) {
    const std::uint64_t buffer = 0x7ff612340000ull;
    struct Case {
        std::uint16_t length;
        std::uint64_t buffer;
        bool readable;
    };
    const Case cases[] = {
        {0, buffer, false},     {2, buffer, true},      {2, 0, false},
        {32766, buffer, true},  {32767, buffer, true},  {32768, buffer, false},
        {32770, buffer, false}, {65534, buffer, false}, {65535, buffer, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isReadableCommandLine(c.length, c.buffer), c.readable) << c.length << " " << c.buffer;
}

const char kKovaKey[] = "com.brindlestudio.emberhollows.desktoplauncher";

TEST(CommandLineHasKey, IsAPlainSubstringTestOnLowerCasedText) {
    struct Case {
        const char* commandLine;
        bool matches;
    };
    const Case cases[] = {
        {"\"C:\\g\\pmzjre\\bin\\java.exe\" -cp \"pmzlib\\*\" com.brindlestudio.emberhollows.DesktopLauncher",
         true},
        {"java.exe COM.BRINDLESTUDIO.EMBERHOLLOWS.DESKTOPLAUNCHER", true},
        {"java.exe -Dstart=com.brindlestudio.emberhollows.DesktopLauncherX --other", true},
        {"java.exe com.orvexa.zephyn.DesktopLauncher", false},
        {"java.exe com.brindlestudio.emberhollows", false},
        {"java.exe com.brindlestudio.emberhollows .DesktopLauncher", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(commandLineHasKey(c.commandLine, kKovaKey), c.matches) << c.commandLine;
}

TEST(CommandLineHasKey, LeavesNonAsciiBytesAlone) {
    // "É" (C3 89) is not folded to "é" (C3 A9), on either side.
    EXPECT_TRUE(commandLineHasKey("java.exe \xC3\x89t\xC3\xA9.Main", "\xC3\x89t\xC3\xA9.main"));
    EXPECT_FALSE(commandLineHasKey("java.exe \xC3\x89t\xC3\xA9.Main", "\xC3\xA9t\xC3\xA9.main"));
}

TEST(FileNameOfPath, TakesTheLastComponent) {
    EXPECT_EQ(fileNameOfPath(L"C:\\Games\\Kova\\pmzjre\\bin\\java.exe"), L"java.exe");
    EXPECT_EQ(fileNameOfPath(L"C:/tools/javaw.exe"), L"javaw.exe");
    EXPECT_EQ(fileNameOfPath(L"java.exe"), L"java.exe");
    EXPECT_EQ(fileNameOfPath(L"C:\\folder\\"), L"");
}

TEST(IsRunningCopy, NeedsAJavaImageAndTheKeyOnItsCommandLine) {
    const std::wstring java = L"C:\\Kova\\pmzjre\\bin\\java.exe";
    const std::string gameLine = "\"C:\\Kova\\pmzjre\\bin\\java.exe\" com.brindlestudio.emberhollows.DesktopLauncher";
    const std::string mixedKey = "Com.BrindleStudio.EmberHollows.DesktopLauncher";
    EXPECT_TRUE(isRunningCopy(java, gameLine, mixedKey));
    EXPECT_TRUE(isRunningCopy(L"D:\\JAVAW.EXE", gameLine, kKovaKey));
    // The id went to another program that happens to mention the class.
    EXPECT_FALSE(isRunningCopy(L"C:\\Windows\\notepad.exe", gameLine, kKovaKey));
    EXPECT_FALSE(isRunningCopy(L"C:\\Kova\\java.exe.old", gameLine, kKovaKey));
    // The id went to another game's Java process.
    EXPECT_FALSE(isRunningCopy(java, "java.exe com.orvexa.zephyn.DesktopLauncher", kKovaKey));
    // Nothing is a copy of a game without a class.
    EXPECT_FALSE(isRunningCopy(java, gameLine, ""));
}

}  // namespace
