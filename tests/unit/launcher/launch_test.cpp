#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <fstream>
#include <sstream>

#include "common/text.h"
#include "launcher/catalogue.h"
#include "launcher/launch.h"
#include "support/child.h"
#include "support/test_files.h"
#include "support/dialog.h"

namespace {

constexpr int kLaunchReturned = 77;

std::wstring scratchFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"quolva_launch_" + name;
}

// Lays out a game folder whose runtime is the stand-in java that reports its start.
std::wstring installStandInRuntime(const std::wstring& gameFolder) {
    const std::wstring bin = gameFolder + L"\\pmzjre\\bin";
    SHCreateDirectoryExW(nullptr, bin.c_str(), nullptr);
    const std::wstring java = bin + L"\\java.exe";
    EXPECT_TRUE(CopyFileW(helperPath(L"fake_java.exe").c_str(), java.c_str(), FALSE));
    return java;
}

std::string readLaunchReport(const std::wstring& gameFolder, DWORD timeoutMs = 15000) {
    const std::wstring path = gameFolder + L"\\pmzjre\\bin\\launch_report.json";
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < deadline) {
        std::ifstream in(path.c_str(), std::ios::binary);
        if (in) {
            std::stringstream text;
            text << in.rdbuf();
            if (!text.str().empty()) return text.str();
        }
        Sleep(100);
    }
    return std::string();
}

std::string jsonEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// Child: runs launchGame for the given game id and launcher folder.
QUOLVA_CHILD(launch) {
    g_gameId = toUtf8(args.at(0));
    g_launcherDir = args.at(1);
    launchGame();
    // Only reached when the game could not be started; report where g_launcherDir went.
    std::ofstream(toUtf8(args.at(1) + L".after").c_str()) << toUtf8(g_launcherDir);
    return kLaunchReturned;
}

TEST(LaunchGame, StartsTheRuntimeBesideTheLauncherHiddenAndEnds) {
    const std::wstring folder = scratchFolder(L"beside") + L"\\Kova Online";
    removeTree(scratchFolder(L"beside"));
    const std::wstring java = installStandInRuntime(folder);

    EXPECT_EQ(runChild(L"launch", {L"kova", folder}), 0);

    const std::string report = readLaunchReport(folder);
    ASSERT_FALSE(report.empty());
    const std::string expectedLine =
        "\"" + toUtf8(java) +
        "\" --module-path \"javafx-sdk\\lib\" --add-modules=javafx.base,javafx.controls,javafx.web,"
        "javafx.swing,javafx.media,javafx.graphics,javafx.fxml -cp \"pmzlib\\*\" "
        "com.brindlestudio.emberhollows.DesktopLauncher";
    EXPECT_NE(report.find("\"command_line\": \"" + jsonEscaped(expectedLine) + "\""),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("\"cwd\": \"" + jsonEscaped(toUtf8(folder))), std::string::npos) << report;
    EXPECT_NE(report.find("\"stdin\": \"char\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"stdout\": \"pipe\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"stderr\": \"pipe\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"stdout_is_stderr\": true"), std::string::npos) << report;
    EXPECT_NE(report.find("\"has_console\": false"), std::string::npos) << report;
    EXPECT_NE(report.find("\"startup_flags\": 257"), std::string::npos) << report;
    EXPECT_NE(report.find("\"show_window\": 0"), std::string::npos) << report;
}

TEST(LaunchGame, FallsBackToTheGameFolderUnderTheInstallRoot) {
    const std::wstring launcherFolder = scratchFolder(L"empty");
    removeTree(launcherFolder);
    SHCreateDirectoryExW(nullptr, launcherFolder.c_str(), nullptr);
    const std::wstring gameFolder = g_installRoot + L"belu";
    removeTree(gameFolder);
    const std::wstring java = installStandInRuntime(gameFolder);

    EXPECT_EQ(runChild(L"launch", {L"belu", launcherFolder}), 0);

    const std::string report = readLaunchReport(gameFolder);
    ASSERT_FALSE(report.empty());
    EXPECT_NE(report.find(jsonEscaped("\"" + toUtf8(java) + "\"")), std::string::npos) << report;
    EXPECT_NE(report.find("com.orvexa.zephyn.DesktopLauncher\""), std::string::npos) << report;
    // The working directory is the fallback folder C:\Quolva\belu.
    EXPECT_NE(report.find("\"cwd\": \"C:\\\\Quolva\\\\belu"), std::string::npos) << report;
    removeTree(gameFolder);
}

TEST(LaunchGame, MissingRuntimeShowsOneErrorBoxAndReturns) {
    const std::wstring launcherFolder = scratchFolder(L"noruntime");
    removeTree(launcherFolder);
    SHCreateDirectoryExW(nullptr, launcherFolder.c_str(), nullptr);
    removeTree(g_installRoot + L"stoneharbor");

    ChildProcess child;
    ASSERT_TRUE(startChild(L"launch", {L"stoneharbor", launcherFolder}, child));
    MessageBoxSeen box;
    ASSERT_TRUE(waitForMessageBox(L"Lỗi", 30000, box));
    EXPECT_EQ(box.text,
              L"Không tìm thấy Java runtime (pmzjre\\bin\\java.exe). Vui lòng kiểm tra lại bộ cài!");
    EXPECT_EQ(countMessageBoxes(L"Lỗi"), 1);
    EXPECT_NE(GetDlgItem(box.window, IDOK), nullptr);
    EXPECT_EQ(GetDlgItem(box.window, IDNO), nullptr);
    EXPECT_TRUE(clickMessageBoxButton(box, IDOK));
    EXPECT_EQ(child.wait(15000), kLaunchReturned);

    std::ifstream after(toUtf8(launcherFolder + L".after").c_str());
    std::string launcherDirAfter;
    std::getline(after, launcherDirAfter);
    EXPECT_EQ(launcherDirAfter, toUtf8(launcherFolder));
}

TEST(LaunchGame, FailedProcessCreationShowsTheErrorCode) {
    const std::wstring folder = scratchFolder(L"broken");
    removeTree(folder);
    const std::wstring bin = folder + L"\\pmzjre\\bin";
    SHCreateDirectoryExW(nullptr, bin.c_str(), nullptr);
    // A folder named java.exe counts as a present runtime but cannot be started.
    ASSERT_TRUE(CreateDirectoryW((bin + L"\\java.exe").c_str(), nullptr));

    ChildProcess child;
    ASSERT_TRUE(startChild(L"launch", {L"kova", folder}, child));
    MessageBoxSeen box;
    ASSERT_TRUE(waitForMessageBox(L"Thông báo", 30000, box));
    const std::wstring prefix = L"Không thể khởi chạy trò chơi (Error code: ";
    const std::wstring suffix = L"). Vui lòng kiểm tra lại bộ cài!";
    ASSERT_EQ(box.text.rfind(prefix, 0), 0u) << toUtf8(box.text);
    ASSERT_GT(box.text.size(), prefix.size() + suffix.size());
    EXPECT_EQ(box.text.substr(box.text.size() - suffix.size()), suffix);
    const std::wstring code =
        box.text.substr(prefix.size(), box.text.size() - prefix.size() - suffix.size());
    EXPECT_EQ(code.find_first_not_of(L"0123456789"), std::wstring::npos) << toUtf8(code);
    EXPECT_NE(code, L"0");
    EXPECT_NE(code[0], L'0');
    clickMessageBoxButton(box, IDOK);
    EXPECT_EQ(child.wait(15000), kLaunchReturned);
}

TEST(LaunchGame, UnknownGameStartsNothingAndShowsNothing) {
    const std::wstring folder = scratchFolder(L"unknown");
    removeTree(folder);
    installStandInRuntime(folder);
    EXPECT_EQ(runChild(L"launch", {L"Kova", folder}, 15000), kLaunchReturned);
    EXPECT_EQ(countMessageBoxes(L"Lỗi"), 0);
    EXPECT_EQ(countMessageBoxes(L"Thông báo"), 0);
    EXPECT_EQ(GetFileAttributesW((folder + L"\\pmzjre\\bin\\launch_report.json").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

}  // namespace
