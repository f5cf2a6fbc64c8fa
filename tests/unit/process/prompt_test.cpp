#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "common/text.h"
#include "launcher/catalogue.h"
#include "process/close_copies.h"
#include "process/prompt.h"
#include "stand_in.h"
#include "support/child.h"
#include "support/dialog.h"

namespace {

constexpr int kOutcomeBase = 40;

// Child: the prompt for a game whose main class is args[0], under display name args[1],
// with its notification state in the profile folder args[2]. Mode "result" answers with
// promptCloseRunningGame's result, mode "outcome" with how the prompt ended.
int runPrompt(const std::vector<std::wstring>& args, bool outcome) {
    g_appDisplayName = args.at(1);
    SetEnvironmentVariableW(L"USERPROFILE", args.at(2).c_str());
    SetEnvironmentVariableW(L"QUOLVA_TOAST_LOG", (args.at(2) + L"\\toasts.jsonl").c_str());
    const GameEntry entry{"kova", toUtf8(args.at(0)), ""};
    if (outcome) return kOutcomeBase + static_cast<int>(askAndCloseRunningCopies(entry));
    return promptCloseRunningGame(entry);
}

QUOLVA_CHILD(close_prompt_result) {
    return runPrompt(args, false);
}

QUOLVA_CHILD(close_prompt_outcome) {
    return runPrompt(args, true);
}

// The system lets go of an ended process's id shortly after its last handle closed.
bool waitUntilIdIsFree(std::uint32_t id) {
    for (int i = 0; i < 100; ++i) {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
        if (!process) return true;
        CloseHandle(process);
        Sleep(50);
    }
    return false;
}

// The box can be found as soon as it has its caption, a moment before its text is set;
// once it shows, the text is there.
std::wstring shownText(const MessageBoxSeen& box) {
    for (int i = 0; i < 100 && !IsWindowVisible(box.window); ++i) Sleep(50);
    wchar_t text[4096] = {};
    GetWindowTextW(GetDlgItem(box.window, 0xFFFF), text, 4096);
    return text;
}

// When the process ended, in 100 ns units.
ULONGLONG exitTime(HANDLE process) {
    FILETIME created = {}, ended = {}, kernel = {}, user = {};
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(ended.dwHighDateTime) << 32) | ended.dwLowDateTime;
}

int expectedOutcome(CloseOutcome outcome) {
    return kOutcomeBase + static_cast<int>(outcome);
}

const std::wstring kTextHead = L"Ph\u00E1t hi\u1EC7n ";
const std::wstring kTextMiddle = L" c\u1EEDa s\u1ED5 game \u0111ang ch\u1EA1y (PID: ";
const std::wstring kTextTail =
    L").\nC\u1EA7n \u0111\u00F3ng game \u0111\u1EC3 c\u1EADp nh\u1EADt phi\u00EAn b\u1EA3n m\u1EDBi.\n\n"
    L"Nh\u1EA5n Yes \u0111\u1EC3 \u0111\u00F3ng game v\u00E0 c\u1EADp nh\u1EADt ngay.\n"
    L"Nh\u1EA5n No \u0111\u1EC3 gi\u1EEF phi\u00EAn b\u1EA3n \u0111ang ch\u1EA1y.";

class ClosePromptTest : public testing::Test {
protected:
    void SetUp() override {
        const std::wstring name = fromUtf8(testing::UnitTest::GetInstance()->current_test_info()->name());
        folder_ = scratchFolder(L"prompt_" + name);
        profile_ = scratchFolder(L"profile_" + name);
        java_ = placeSleeper(folder_, L"java.exe");
        key_ = uniqueMainClass(toUtf8(name));
        displayName_ = L"Test Game " + std::to_wstring(GetCurrentProcessId());
        caption_ = displayName_ + L" - C\u1EADp nh\u1EADt";
    }

    std::wstring copyCommandLine() const { return gameCommandLine(java_, fromUtf8(key_)); }

    bool startPrompt(const wchar_t* mode, ChildProcess& child) const {
        return startChild(mode, {fromUtf8(key_), displayName_, profile_}, child);
    }

    // The close-failure notification passed the gate: its timestamp file was written.
    bool notificationRequested() const {
        const std::wstring stamp = profile_ + L"\\Quolva\\toast_last_timestamp.txt";
        return GetFileAttributesW(stamp.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::wstring folder_;
    std::wstring profile_;
    std::wstring java_;
    std::string key_;
    std::wstring displayName_;
    std::wstring caption_;
};

TEST_F(ClosePromptTest, NoRunningCopyGoesOnWithoutABox) {
    // A box would block the child until the timeout.
    EXPECT_EQ(runChild(L"close_prompt_result", {fromUtf8(key_), displayName_, profile_}, 30000), 0);
    EXPECT_EQ(countMessageBoxes(caption_), 0);
    EXPECT_FALSE(notificationRequested());
}

TEST_F(ClosePromptTest, NamesBothCopiesAndNoLeavesThemRunning) {
    StandIn first, second;
    ASSERT_TRUE(first.start(copyCommandLine()));
    ASSERT_TRUE(second.start(copyCommandLine()));
    const std::vector<std::uint32_t> order = inSnapshotOrder({first.id(), second.id()});
    ASSERT_EQ(order.size(), 2u);

    ChildProcess child;
    ASSERT_TRUE(startPrompt(L"close_prompt_result", child));
    MessageBoxSeen box;
    ASSERT_TRUE(waitForMessageBox(caption_, 30000, box));
    const std::wstring text = shownText(box);
    const std::wstring firstLine = kTextHead + L"2" + kTextMiddle + std::to_wstring(order[0]) + L", " +
                                   std::to_wstring(order[1]) + L").";
    EXPECT_EQ(text.substr(0, text.find(L'\n')), firstLine);
    EXPECT_EQ(text, kTextHead + L"2" + kTextMiddle + std::to_wstring(order[0]) + L", " +
                            std::to_wstring(order[1]) + kTextTail);
    // Yes and No only, no owner. (Wine 8 does not show MB_TOPMOST in the box's styles.)
    EXPECT_TRUE(GetDlgItem(box.window, IDYES));
    EXPECT_TRUE(GetDlgItem(box.window, IDNO));
    EXPECT_FALSE(GetDlgItem(box.window, IDOK));
    EXPECT_FALSE(GetDlgItem(box.window, IDCANCEL));
    EXPECT_EQ(GetWindow(box.window, GW_OWNER), nullptr);

    ASSERT_TRUE(clickMessageBoxButton(box, IDNO));
    EXPECT_EQ(child.wait(30000), 2);
    EXPECT_TRUE(first.running());
    EXPECT_TRUE(second.running());
    EXPECT_FALSE(notificationRequested());
}

TEST_F(ClosePromptTest, YesClosesEveryCopyAndChecksAfterAPause) {
    StandIn first, second, otherGame;
    ASSERT_TRUE(first.start(copyCommandLine()));
    ASSERT_TRUE(second.start(copyCommandLine()));
    ASSERT_TRUE(otherGame.start(gameCommandLine(java_, L"com.orvexa.zephyn.DesktopLauncher")));

    ChildProcess child;
    ASSERT_TRUE(startPrompt(L"close_prompt_outcome", child));
    MessageBoxSeen box;
    ASSERT_TRUE(waitForMessageBox(caption_, 30000, box));
    ASSERT_TRUE(clickMessageBoxButton(box, IDYES));
    EXPECT_EQ(child.wait(30000), expectedOutcome(CloseOutcome::AllClosed));
    // The end times are the system's own, so the pause shows without timing the test.
    const ULONGLONG lastClosed = std::max(exitTime(first.handle()), exitTime(second.handle()));
    EXPECT_GE(exitTime(child.process), lastClosed + 500 * 10000ull);

    // Terminated with exit code 0; a stand-in that ends by itself exits with 3.
    EXPECT_EQ(first.exitCode(), 0u);
    EXPECT_EQ(second.exitCode(), 0u);
    EXPECT_TRUE(otherGame.running());
    EXPECT_FALSE(notificationRequested());
}

// The game is started again while the question is open: the copy listed is closed, and
// the search after the pause finds the newcomer.
TEST_F(ClosePromptTest, ACopyFoundAgainAfterThePauseStopsAndNotifies) {
    StandIn listed, latecomer;
    ASSERT_TRUE(listed.start(copyCommandLine()));

    ChildProcess child;
    ASSERT_TRUE(startPrompt(L"close_prompt_result", child));
    MessageBoxSeen box;
    ASSERT_TRUE(waitForMessageBox(caption_, 30000, box));
    const std::wstring text = shownText(box);
    EXPECT_EQ(text.substr(0, text.find(L'\n')),
              kTextHead + L"1" + kTextMiddle + std::to_wstring(listed.id()) + L").");
    ASSERT_TRUE(latecomer.start(copyCommandLine()));
    ASSERT_TRUE(clickMessageBoxButton(box, IDYES));

    EXPECT_EQ(child.wait(30000), 2);
    EXPECT_EQ(listed.exitCode(), 0u);
    EXPECT_TRUE(latecomer.running());
    EXPECT_TRUE(notificationRequested());
}

TEST_F(ClosePromptTest, ACopyThatEndedDuringThePromptStopsWithoutTouchingTheRest) {
    StandIn first, second;
    ASSERT_TRUE(first.start(copyCommandLine()));
    ASSERT_TRUE(second.start(copyCommandLine()));
    const std::vector<std::uint32_t> order = inSnapshotOrder({first.id(), second.id()});
    ASSERT_EQ(order.size(), 2u);
    StandIn& listedFirst = order[0] == first.id() ? first : second;
    StandIn& listedSecond = order[0] == first.id() ? second : first;

    ChildProcess child;
    ASSERT_TRUE(startPrompt(L"close_prompt_outcome", child));
    MessageBoxSeen box;
    ASSERT_TRUE(waitForMessageBox(caption_, 30000, box));
    // The first listed copy ends while the question is open; once its handle is gone
    // its id is no longer in use.
    const std::uint32_t endedId = listedFirst.id();
    listedFirst.end();
    EXPECT_TRUE(waitUntilIdIsFree(endedId));

    ASSERT_TRUE(clickMessageBoxButton(box, IDYES));
    EXPECT_EQ(child.wait(30000), expectedOutcome(CloseOutcome::NotOpenable));
    EXPECT_TRUE(listedSecond.running());
    EXPECT_FALSE(notificationRequested());
}

}  // namespace
