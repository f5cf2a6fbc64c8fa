#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "common/text.h"
#include "process/detection.h"
#include "stand_in.h"
#include "support/child.h"

namespace {

const std::wstring kKovaClassMixedCase = L"Com.BrindleStudio.EmberHollows.DesktopLauncher";
const std::wstring kBeluClass = L"com.orvexa.zephyn.DesktopLauncher";

std::string toUpperCopy(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

bool contains(const std::vector<std::uint32_t>& ids, std::uint32_t id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::vector<std::uint32_t> search(const std::string& key) {
    std::vector<std::uint32_t> ids = {12345};
    const bool found = findRunningGameProcesses(key, ids);
    EXPECT_EQ(found, !ids.empty()) << key;
    return ids;
}

TEST(FindRunningGameProcesses, FindsTheGameInMixedCaseButNotAnotherGame) {
    const std::wstring folder = scratchFolder(L"mixed_case");
    const std::wstring java = placeSleeper(folder, L"java.exe");
    StandIn kova, belu;
    ASSERT_TRUE(kova.start(gameCommandLine(java, kKovaClassMixedCase)));
    ASSERT_TRUE(belu.start(gameCommandLine(java, kBeluClass)));

    // The catalogue's own spelling of the class: the launcher passes it as it stands.
    const std::vector<std::uint32_t> ids = search("com.brindlestudio.emberhollows.DesktopLauncher");
    EXPECT_TRUE(contains(ids, kova.id()));
    EXPECT_FALSE(contains(ids, belu.id()));
}

TEST(FindRunningGameProcesses, AMixedCaseKeyFindsWhatItsLowerCaseFinds) {
    const std::wstring folder = scratchFolder(L"mixed_key");
    const std::wstring java = placeSleeper(folder, L"java.exe");
    const std::string key = uniqueMainClass("MixedKey");
    StandIn copy;
    ASSERT_TRUE(copy.start(gameCommandLine(java, fromUtf8(toLowerAscii(key)))));

    EXPECT_EQ(search(key), std::vector<std::uint32_t>{copy.id()});
    EXPECT_EQ(search(toLowerAscii(key)), std::vector<std::uint32_t>{copy.id()});
    EXPECT_EQ(search(toUpperCopy(key)), std::vector<std::uint32_t>{copy.id()});
}

TEST(FindRunningGameProcesses, TheClassInsideAnotherArgumentMatches) {
    const std::wstring folder = scratchFolder(L"inside");
    const std::wstring java = placeSleeper(folder, L"javaw.exe");
    const std::string key = uniqueMainClass("Inside");
    StandIn copy;
    ASSERT_TRUE(copy.start(L"\"" + java + L"\" -Dlauncher.main=" + fromUtf8(key) + L"Extra other.Main"));
    EXPECT_EQ(search(key), std::vector<std::uint32_t>{copy.id()});
}

TEST(FindRunningGameProcesses, CandidatesAreTheJavaNamesOnlyInAnyCase) {
    const std::wstring folder = scratchFolder(L"names");
    const std::string key = uniqueMainClass("Names");
    struct Case {
        const wchar_t* fileName;
        bool candidate;
    };
    const Case cases[] = {{L"JAVA.EXE", true},      {L"javaw.exe", true},   {L"Java.exe", true},
                          {L"java.exe.old", false}, {L"java64.exe", false}, {L"game.exe", false}};
    std::vector<StandIn> copies(std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        // One folder per name: the file system does not tell JAVA.EXE from Java.exe.
        const std::wstring sub = folder + L"\\" + std::to_wstring(i);
        CreateDirectoryW(sub.c_str(), nullptr);
        ASSERT_TRUE(copies[i].start(gameCommandLine(placeSleeper(sub, cases[i].fileName), fromUtf8(key))));
    }

    const std::vector<std::uint32_t> ids = search(key);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(contains(ids, copies[i].id()), cases[i].candidate) << cases[i].fileName;
    EXPECT_EQ(ids.size(), 3u);
}

TEST(FindRunningGameProcesses, ListsTwoMatchesInSnapshotOrder) {
    const std::wstring folder = scratchFolder(L"order");
    const std::wstring java = placeSleeper(folder, L"java.exe");
    const std::string key = uniqueMainClass("Order");
    StandIn first, other, second;
    ASSERT_TRUE(first.start(gameCommandLine(java, fromUtf8(key))));
    ASSERT_TRUE(other.start(gameCommandLine(java, kBeluClass)));
    ASSERT_TRUE(second.start(gameCommandLine(java, fromUtf8(key))));

    const std::vector<std::uint32_t> ids = search(key);
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(ids, inSnapshotOrder({first.id(), second.id()}));
}

TEST(FindRunningGameProcesses, FindsNothingOnceTheCopyHasEnded) {
    const std::wstring folder = scratchFolder(L"ended");
    const std::string key = uniqueMainClass("Ended");
    StandIn copy;
    ASSERT_TRUE(copy.start(gameCommandLine(placeSleeper(folder, L"java.exe"), fromUtf8(key))));
    ASSERT_EQ(search(key).size(), 1u);
    copy.end();
    EXPECT_TRUE(search(key).empty());
}

// A walk of the snapshot ends with Process32NextW failing, which leaves
// ERROR_NO_MORE_FILES behind; an untouched last error shows that no walk was made.
TEST(FindRunningGameProcesses, AnEmptyKeyTakesNoSnapshot) {
    std::vector<std::uint32_t> ids = {1, 2};
    SetLastError(0xBEEF);
    EXPECT_FALSE(findRunningGameProcesses("", ids));
    EXPECT_EQ(GetLastError(), 0xBEEFu);
    EXPECT_TRUE(ids.empty());

    SetLastError(0xBEEF);
    EXPECT_FALSE(findRunningGameProcesses(uniqueMainClass("Nobody"), ids));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
}

// The launcher itself, copied as java.exe, runs the search with the key on its own
// command line: it finds the stand-in and not itself.
QUOLVA_CHILD(search_from_java) {
    std::vector<std::uint32_t> ids;
    findRunningGameProcesses(toUtf8(args.at(0)), ids);
    if (std::find(ids.begin(), ids.end(), GetCurrentProcessId()) != ids.end()) return 1;
    return 10 + static_cast<int>(ids.size());
}

TEST(FindRunningGameProcesses, NeverListsTheSearchingProcessItself) {
    const std::wstring folder = scratchFolder(L"self");
    const std::string key = uniqueMainClass("Self");
    StandIn copy;
    ASSERT_TRUE(copy.start(gameCommandLine(placeSleeper(folder, L"java.exe"), fromUtf8(key))));

    const std::wstring selfAsJava = folder + L"\\self\\java.exe";
    CreateDirectoryW((folder + L"\\self").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(thisExecutablePath().c_str(), selfAsJava.c_str(), FALSE));
    StandIn searcher;
    ASSERT_TRUE(searcher.start(L"\"" + selfAsJava + L"\" --quolva-child=search_from_java " + fromUtf8(key),
                               false));
    ASSERT_EQ(WaitForSingleObject(searcher.handle(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(searcher.exitCode(), 11u);
}

TEST(ReadProcessCommandLine, ReadsTheWholeCommandLine) {
    const std::wstring folder = scratchFolder(L"read \u0111\u00E2y");
    const std::wstring commandLine =
        gameCommandLine(placeSleeper(folder, L"java.exe"), L"vn.tr\u00F2ch\u01A1i.Main") + L" \"a b\"";
    StandIn copy;
    ASSERT_TRUE(copy.start(commandLine));
    std::wstring read = L"stale";
    ASSERT_TRUE(readProcessCommandLine(copy.id(), read));
    EXPECT_EQ(read, commandLine);
}

TEST(ReadProcessCommandLine, FailsWithAnEmptyResultForAnIdNotInUse) {
    StandIn copy;
    ASSERT_TRUE(copy.start(L"\"" + placeSleeper(scratchFolder(L"gone"), L"java.exe") + L"\" x"));
    const std::uint32_t id = copy.id();
    copy.end();
    std::wstring read = L"stale";
    EXPECT_FALSE(readProcessCommandLine(id, read));
    EXPECT_TRUE(read.empty());
}

// A failed OpenProcess sets the last error; an untouched one shows no open was tried.
TEST(ReadProcessCommandLine, NeverOpensTheIdleOrSystemProcess) {
    for (std::uint32_t id : {0u, 4u}) {
        std::wstring read = L"stale";
        SetLastError(0xBEEF);
        EXPECT_FALSE(readProcessCommandLine(id, read)) << id;
        EXPECT_EQ(GetLastError(), 0xBEEFu) << id;
        EXPECT_TRUE(read.empty()) << id;
    }
    std::wstring read;
    SetLastError(0xBEEF);
    EXPECT_FALSE(readProcessCommandLine(0xFFFFFFF0u, read));
    EXPECT_NE(GetLastError(), 0xBEEFu);
}

std::wstring commandLineOfUnits(const std::wstring& exePath, const std::string& key, std::size_t units) {
    std::wstring line = L"\"" + exePath + L"\" " + fromUtf8(key) + L" ";
    line.append(units - line.size(), L'p');
    return line;
}

TEST(ReadProcessCommandLine, Reads32766BytesAndSkips32768) {
    const std::wstring java = placeSleeper(scratchFolder(L"long"), L"java.exe");
    const std::string key = uniqueMainClass("Long");
    const std::wstring longest = commandLineOfUnits(java, key, 16383);
    const std::wstring tooLong = commandLineOfUnits(java, key, 16384);
    StandIn readable, skipped;
    ASSERT_TRUE(readable.start(longest));
    ASSERT_TRUE(skipped.start(tooLong));

    std::wstring read;
    ASSERT_TRUE(readProcessCommandLine(readable.id(), read));
    EXPECT_EQ(read.size(), 16383u);
    EXPECT_EQ(read, longest);
    read = L"stale";
    EXPECT_FALSE(readProcessCommandLine(skipped.id(), read));
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(search(key), std::vector<std::uint32_t>{readable.id()});
}

HANDLE openForCheck(std::uint32_t id) {
    return OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, id);
}

TEST(IsRunningCopyOfGame, AcceptsOnlyARunningJavaProcessOfTheGame) {
    const std::wstring folder = scratchFolder(L"check");
    const std::string key = uniqueMainClass("Check");
    const std::wstring java = placeSleeper(folder, L"javaw.exe");
    CreateDirectoryW((folder + L"\\other").c_str(), nullptr);
    const std::wstring stranger = placeSleeper(folder + L"\\other", L"editor.exe");
    StandIn copy, otherGame, otherProgram;
    ASSERT_TRUE(copy.start(gameCommandLine(java, fromUtf8(key))));
    ASSERT_TRUE(otherGame.start(gameCommandLine(java, kBeluClass)));
    ASSERT_TRUE(otherProgram.start(L"\"" + stranger + L"\" notes-about-" + fromUtf8(key) + L".txt"));

    struct Case {
        const char* what;
        const StandIn& process;
        bool copy;
    };
    const Case cases[] = {{"the copy", copy, true},
                          {"another game's java", otherGame, false},
                          {"another program naming the class", otherProgram, false}};
    for (const Case& c : cases) {
        HANDLE handle = openForCheck(c.process.id());
        ASSERT_TRUE(handle) << c.what;
        EXPECT_EQ(isRunningCopyOfGame(handle, toUpperCopy(key)), c.copy) << c.what;
        CloseHandle(handle);
    }
}

TEST(IsRunningCopyOfGame, RefusesACopyThatHasEnded) {
    const std::string key = uniqueMainClass("EndedCheck");
    StandIn copy;
    ASSERT_TRUE(copy.start(gameCommandLine(placeSleeper(scratchFolder(L"ended_check"), L"java.exe"), fromUtf8(key))));
    HANDLE handle = openForCheck(copy.id());
    ASSERT_TRUE(handle);
    ASSERT_TRUE(isRunningCopyOfGame(handle, key));
    copy.end();
    // The handle keeps the ended process's object (and id) alive.
    EXPECT_FALSE(isRunningCopyOfGame(handle, key));
    CloseHandle(handle);
}

}  // namespace
