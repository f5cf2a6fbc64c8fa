#include <gtest/gtest.h>

#include <string>

#include "selfupdate/apply_update.h"

namespace {

struct RecogniserCase {
    const char* name;
    const wchar_t* tail;
    bool recognised;
    const wchar_t* newFilePath;  // expected after the call, recognised or not
    const wchar_t* targetPath;
    std::uint32_t processId;
};

const RecogniserCase kRecogniserCases[] = {
    {"keyword, two quoted paths, id", LR"(__apply-update "C:\Temp\Quolva_game.new.exe" "C:\Quolva\game.exe" 812)",
     true, LR"(C:\Temp\Quolva_game.new.exe)", LR"(C:\Quolva\game.exe)", 812},
    {"quoted keyword", LR"("__apply-update" "C:\Temp\n.exe" "C:\Quolva\game.exe" 812)", true,
     LR"(C:\Temp\n.exe)", LR"(C:\Quolva\game.exe)", 812},
    {"paths with blanks stay whole",
     LR"(__apply-update "C:\Users\Anh Tu\Temp dir\Quolva_game.new.exe" "D:\Kova Online\game.exe" 4)",
     true, LR"(C:\Users\Anh Tu\Temp dir\Quolva_game.new.exe)", LR"(D:\Kova Online\game.exe)", 4},
    {"tabs and repeated blanks separate", L"\t__apply-update  \"a\"\t\t\"b\"   7  ", true, L"a", L"b", 7},
    {"quote opening inside a token", LR"(__apply-update C:\"Program Files"\n.exe C:\g.exe 9)", true,
     LR"(C:\Program Files\n.exe)", LR"(C:\g.exe)", 9},
    {"unclosed quote runs to the end", LR"(__apply-update a b "12)", true, L"a", L"b", 12},
    {"largest 32-bit id", L"__apply-update a b 4294967295", true, L"a", L"b", 4294967295u},
    {"keyword in other case", LR"(__APPLY-UPDATE "a" "b" 812)", false, L"", L"", 0},
    {"other first token", LR"(--apply-update "a" "b" 812)", false, L"", L"", 0},
    {"keyword with a suffix", LR"(__apply-updates "a" "b" 812)", false, L"", L"", 0},
    {"three tokens", LR"(__apply-update "a" "b")", false, L"", L"", 0},
    {"five tokens: unquoted path with a blank",
     LR"(__apply-update C:\Temp\n.exe C:\Kova Online\game.exe 812)", false, L"", L"", 0},
    {"id 0", LR"(__apply-update "a" "b" 0)", false, L"a", L"b", 0},
    {"letters after the id's digits", LR"(__apply-update "a" "b" 12ab)", false, L"a", L"b", 0},
    {"negative id", LR"(__apply-update "a" "b" -5)", false, L"a", L"b", 0},
    {"id with a plus sign", LR"(__apply-update "a" "b" +12)", false, L"a", L"b", 0},
    {"id above 32 bits", LR"(__apply-update "a" "b" 4294967296)", false, L"a", L"b", 0},
    {"empty quoted fourth token gives three tokens", LR"(__apply-update "a" "b" "")", false, L"", L"", 0},
    {"empty tail", L"", false, L"", L"", 0},
    {"only blanks and empty quotes", L"  \"\" \t", false, L"", L"", 0},
};

TEST(ParseApplyUpdateArgs, RecognisesOnlyTheApplyUpdateForm) {
    for (const RecogniserCase& c : kRecogniserCases) {
        std::wstring newFilePath = L"stale new";
        std::wstring targetPath = L"stale target";
        std::uint32_t processId = 77;
        EXPECT_EQ(parseApplyUpdateArgs(c.tail, newFilePath, targetPath, processId), c.recognised)
            << c.name;
        EXPECT_EQ(newFilePath, c.newFilePath) << c.name;
        EXPECT_EQ(targetPath, c.targetPath) << c.name;
        EXPECT_EQ(processId, c.processId) << c.name;
    }
}

TEST(ParseApplyUpdateArgs, NullTailIsNotRecognisedAndClearsTheOutputs) {
    std::wstring newFilePath = L"stale";
    std::wstring targetPath = L"stale";
    std::uint32_t processId = 5;
    EXPECT_FALSE(parseApplyUpdateArgs(nullptr, newFilePath, targetPath, processId));
    EXPECT_EQ(newFilePath, L"");
    EXPECT_EQ(targetPath, L"");
    EXPECT_EQ(processId, 0u);
}

TEST(BuildApplyUpdateCommandLine, QuotesEveryPathAndEndsWithTheId) {
    EXPECT_EQ(buildApplyUpdateCommandLine(LR"(C:\Users\Anh Tu\Temp\Quolva_updater.exe)",
                                          LR"(C:\Users\Anh Tu\Temp\Quolva_game.new.exe)",
                                          LR"(D:\Kova Online\game.exe)", 812),
              LR"("C:\Users\Anh Tu\Temp\Quolva_updater.exe" __apply-update )"
              LR"("C:\Users\Anh Tu\Temp\Quolva_game.new.exe" "D:\Kova Online\game.exe" 812)");
}

TEST(BuildApplyUpdateCommandLine, ItsTailIsRecognisedWithTheSameValues) {
    const std::wstring updater = LR"(C:\Temp dir\Quolva_updater.exe)";
    const std::wstring commandLine = buildApplyUpdateCommandLine(
        updater, LR"(C:\Temp dir\Quolva_game.new.exe)", LR"(C:\Quolva\game.exe)", 4294967295u);
    // The platform hands the entry point the tail after the quoted program path and its blank.
    const std::wstring tail = commandLine.substr(updater.size() + 3);
    std::wstring newFilePath;
    std::wstring targetPath;
    std::uint32_t processId = 0;
    ASSERT_TRUE(parseApplyUpdateArgs(tail.c_str(), newFilePath, targetPath, processId));
    EXPECT_EQ(newFilePath, LR"(C:\Temp dir\Quolva_game.new.exe)");
    EXPECT_EQ(targetPath, LR"(C:\Quolva\game.exe)");
    EXPECT_EQ(processId, 4294967295u);
}

}  // namespace
