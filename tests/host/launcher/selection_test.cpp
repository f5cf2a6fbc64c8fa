#include <gtest/gtest.h>

#include "common/text.h"
#include "launcher/catalogue.h"
#include "launcher/launch.h"
#include "launcher/selection.h"

namespace {

struct SelectionCase {
    const char* folder;
    const char* gameId;
    const wchar_t* displayName;
};

class GameSelectionTest : public testing::TestWithParam<SelectionCase> {};

TEST_P(GameSelectionTest, FolderPathChoosesTheGame) {
    const SelectionCase& c = GetParam();
    const GameSelection selection = selectGame(toLowerAscii(c.folder));
    EXPECT_EQ(selection.gameId, c.gameId) << c.folder;
    EXPECT_EQ(selection.displayName, c.displayName) << c.folder;
}

INSTANTIATE_TEST_SUITE_P(
    Folders, GameSelectionTest,
    testing::Values(
        SelectionCase{"D:\\Games\\Kova Online", "kova", L"Kova Ascendant"},
        SelectionCase{"C:\\Program Files\\EmberHollows", "kova", L"Kova Ascendant"},
        SelectionCase{"C:\\GreatRiverMoon\\bin", "kova", L"Kova Ascendant"},
        SelectionCase{"C:\\BrindleStudio", "kova", L"Kova Ascendant"},
        SelectionCase{"C:/Games/belu", "belu", L"Belu Ascendant"},
        SelectionCase{"C:\\TAVISK", "belu", L"Belu Ascendant"},
        SelectionCase{"C:\\x\\Quimbel", "belu", L"Belu Ascendant"},
        SelectionCase{"E:\\HARBORSHADOW_Setup", "stoneharbor", L"Stone Harbor"},
        SelectionCase{"C:\\StoneHarbor", "stoneharbor", L"Stone Harbor"},
        // Keywords of two games: the earlier group wins, whatever the order in the path.
        SelectionCase{"C:\\ZEPHYN\\EmberHollows", "kova", L"Kova Ascendant"},
        SelectionCase{"C:\\HarborShadow\\Belu", "belu", L"Belu Ascendant"},
        // No keyword: the first game under the publisher's own name.
        SelectionCase{"C:\\Quolva", "kova", L"VORNEL LAB"},
        SelectionCase{"C:\\Tools", "kova", L"VORNEL LAB"},
        SelectionCase{"", "kova", L"VORNEL LAB"},
        // Non-ASCII letters are not folded, so an accented look-alike does not match.
        SelectionCase{"C:\\K\xC3\x93VA", "kova", L"VORNEL LAB"}));

TEST(DirectoryOfPath, SplitsAtTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(directoryOfPath(L"C:\\Games\\Kova\\game.exe"), L"C:\\Games\\Kova");
    EXPECT_EQ(directoryOfPath(L"C:/Games/belu/game.exe"), L"C:/Games/belu");
    EXPECT_EQ(directoryOfPath(L"C:\\Games/mixed\\game.exe"), L"C:\\Games/mixed");
    EXPECT_EQ(directoryOfPath(L"game.exe"), L"game.exe");
    EXPECT_EQ(directoryOfPath(L""), L"");
}

TEST(DirectoryOfPath, KeywordOnlyInTheFileNameIsNotSeen) {
    const std::wstring folder = directoryOfPath(L"C:\\Tools\\stoneharbor.exe");
    const GameSelection selection = selectGame("c:\\tools");
    EXPECT_EQ(folder, L"C:\\Tools");
    EXPECT_EQ(selection.displayName, L"VORNEL LAB");
}

TEST(Catalogue, LookupIsExact) {
    ASSERT_NE(findGameEntry("kova"), nullptr);
    EXPECT_EQ(findGameEntry("kova")->mainClass, "com.brindlestudio.emberhollows.DesktopLauncher");
    EXPECT_EQ(findGameEntry("Kova"), nullptr);
    EXPECT_EQ(findGameEntry("kova "), nullptr);
    EXPECT_EQ(findGameEntry(""), nullptr);
    ASSERT_NE(findGameEntry("stoneharbor"), nullptr);
    EXPECT_EQ(findGameEntry("stoneharbor")->mainClass, "com.orvexa.harborshadow.DesktopLauncher");
}

TEST(Catalogue, UrlsAreTheOriginsFollowedByTheFixedPaths) {
    EXPECT_EQ(g_manifestBaseUrl, std::string(QUOLVA_DOWNLOAD_ORIGIN) + "/download/");
    EXPECT_EQ(findGameEntry("kova")->baseUrl, std::string(QUOLVA_DOWNLOAD_ORIGIN) + "/gro/new/");
    EXPECT_EQ(findGameEntry("belu")->baseUrl, std::string(QUOLVA_STORAGE_ORIGIN) + "/belu/");
    EXPECT_EQ(findGameEntry("stoneharbor")->baseUrl,
              std::string(QUOLVA_STORAGE_ORIGIN) + "/stoneharbor/");
    EXPECT_EQ(g_installRoot, L"C:\\Quolva\\");
}

TEST(JavaCommandLine, QuotesTheRuntimeAndEndsWithTheMainClass) {
    const std::wstring line = buildJavaCommandLine(L"C:\\Games\\Kova Online\\pmzjre\\bin\\java.exe",
                                                   L"com.brindlestudio.emberhollows.DesktopLauncher");
    EXPECT_EQ(line,
              L"\"C:\\Games\\Kova Online\\pmzjre\\bin\\java.exe\" --module-path \"javafx-sdk\\lib\" "
              L"--add-modules=javafx.base,javafx.controls,javafx.web,javafx.swing,javafx.media,"
              L"javafx.graphics,javafx.fxml -cp \"pmzlib\\*\" "
              L"com.brindlestudio.emberhollows.DesktopLauncher");
}

TEST(JavaCommandLine, FixedMiddlePieceIs155Characters) {
    const std::wstring line = buildJavaCommandLine(L"", L"");
    // One opening quote, then the fixed piece that closes it.
    EXPECT_EQ(line.size(), 1u + 155u);
    EXPECT_EQ(line.back(), L' ');
}

TEST(LaunchFailureText, CarriesTheErrorCodeInPlainDecimal) {
    EXPECT_EQ(buildLaunchFailureText(2),
              L"Không thể khởi chạy trò chơi (Error code: 2). Vui lòng kiểm tra lại bộ cài!");
    EXPECT_NE(buildLaunchFailureText(4294967295ul).find(L"(Error code: 4294967295)"),
              std::wstring::npos);
}

}  // namespace
