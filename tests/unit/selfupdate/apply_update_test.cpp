#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "common/text.h"
#include "launcher/startup.h"
#include "notify/toast.h"
#include "selfupdate/apply_update.h"
#include "support/child.h"
#include "unit/selfupdate/files.h"

namespace {

constexpr int kNotRecognised = 50;
constexpr int kLauncherReturned = 51;

const wchar_t kFailureMessage[] =
    L"Không tự cập nhật được launcher, hãy copy file game.exe mới thủ công.";

// Child: the launcher's entry function with an apply-update command-line tail, its
// notifications going to a private profile and toast log.
// args: tail, profile folder, toast log
QUOLVA_CHILD(apply_update) {
    SetEnvironmentVariableW(L"USERPROFILE", args.at(1).c_str());
    SetEnvironmentVariableW(L"QUOLVA_TOAST_LOG", args.at(2).c_str());
    std::wstring newFilePath;
    std::wstring targetPath;
    std::uint32_t processId = 0;
    // Anything else would start a normal launcher run here.
    if (!parseApplyUpdateArgs(args.at(0).c_str(), newFilePath, targetPath, processId))
        return kNotRecognised;
    runLauncher(args.at(0).c_str());
    return kLauncherReturned;
}

// Child: an old launcher that keeps its file open (no delete sharing) for a while and
// then ends. args: file, ready marker, milliseconds
QUOLVA_CHILD(hold_then_exit) {
    UniqueHandle file(CreateFileW(args.at(0).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 2;
    writeBytes(args.at(1), {});
    Sleep(static_cast<DWORD>(std::stoul(args.at(2))));
    return 0;
}

QUOLVA_CHILD(exit_at_once) {
    return 0;
}

// The id of a process that has ended and can no longer be opened. The platform keeps
// an ended process openable for a moment after its last handle is closed.
DWORD endedProcessId() {
    DWORD id = 0;
    {
        ChildProcess child;
        if (!startChild(L"exit_at_once", {}, child)) return 0;
        child.wait(30000);
        id = child.processId;
    }
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (GetTickCount64() < deadline) {
        UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
        if (!process) return id;
        Sleep(50);
    }
    ADD_FAILURE() << "process " << id << " can still be opened";
    return id;
}

struct ApplyRun {
    int exitCode = -1;
    double seconds = 0;
    FILETIME exitTime = {};
};

class ApplyUpdate : public testing::Test {
protected:
    void SetUp() override {
        folder_ = freshScratchFolder(fromUtf8(testing::UnitTest::GetInstance()->current_test_info()->name()));
        newFile_ = folder_ + L"Temp dir\\Quolva_game.new.exe";
        target_ = folder_ + L"Quolva install\\game.exe";
        profile_ = folder_ + L"profile";
        CreateDirectoryW((folder_ + L"Temp dir").c_str(), nullptr);
        CreateDirectoryW((folder_ + L"Quolva install").c_str(), nullptr);
        CreateDirectoryW(profile_.c_str(), nullptr);
        ASSERT_TRUE(writeBytes(newFile_, bytesOf("launcher build B")));
        ASSERT_TRUE(writeBytes(target_, bytesOf("launcher build A")));
    }
    void TearDown() override { removeTree(folder_); }

    ApplyRun apply(DWORD oldLauncherId, DWORD timeoutMs = 30000) {
        const std::wstring tail = L"__apply-update \"" + newFile_ + L"\" \"" + target_ + L"\" " +
                                  std::to_wstring(oldLauncherId);
        ApplyRun run;
        ChildProcess child;
        if (!startChild(L"apply_update", {tail, profile_, toastLog()}, child)) return run;
        run.exitCode = child.wait(timeoutMs);
        FILETIME created = {};
        FILETIME kernel = {};
        FILETIME user = {};
        GetProcessTimes(child.process, &created, &run.exitTime, &kernel, &user);
        run.seconds = secondsBetween(created, run.exitTime);
        return run;
    }

    void expectReplaced() {
        EXPECT_EQ(readBytes(target_), bytesOf("launcher build B"));
        EXPECT_FALSE(pathExists(newFile_));
        EXPECT_FALSE(pathExists(toastLog())) << "a failure was reported";
    }

    std::wstring toastLog() const { return folder_ + L"toasts.jsonl"; }

    std::wstring folder_;
    std::wstring newFile_;
    std::wstring target_;
    std::wstring profile_;
};

TEST_F(ApplyUpdate, OldLauncherAlreadyGonePausesTwoSecondsThenMoves) {
    const ApplyRun run = apply(endedProcessId());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_GE(run.seconds, 2.0);
    EXPECT_LT(run.seconds, 4.5) << "the first move did not succeed";
    expectReplaced();
}

TEST_F(ApplyUpdate, MovesAsSoonAsTheOldLauncherEnds) {
    ChildProcess oldLauncher;
    const std::wstring ready = folder_ + L"holding";
    ASSERT_TRUE(startChild(L"hold_then_exit", {target_, ready, L"3000"}, oldLauncher));
    ASSERT_TRUE(waitForFile(ready, 15000));

    const ApplyRun run = apply(oldLauncher.processId);
    ASSERT_EQ(oldLauncher.wait(15000), 0);
    FILETIME created = {};
    FILETIME oldLauncherEnd = {};
    FILETIME kernel = {};
    FILETIME user = {};
    GetProcessTimes(oldLauncher.process, &created, &oldLauncherEnd, &kernel, &user);

    EXPECT_EQ(run.exitCode, 0);
    const double afterOldLauncher = secondsBetween(oldLauncherEnd, run.exitTime);
    EXPECT_GE(afterOldLauncher, -0.05) << "the move did not wait for the old launcher";
    EXPECT_LT(afterOldLauncher, 1.5) << "the move did not follow the old launcher's end";
    expectReplaced();
}

TEST_F(ApplyUpdate, RetriesEveryThreeSecondsWhileTheTargetIsHeld) {
    ChildProcess holder;
    const std::wstring ready = folder_ + L"holding";
    ASSERT_TRUE(startChild(L"hold_then_exit", {target_, ready, L"4500"}, holder));
    ASSERT_TRUE(waitForFile(ready, 15000));

    // 2 s pause, a first try while the file is held, 3 s pause, a second try after it.
    const ApplyRun run = apply(endedProcessId());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_GE(run.seconds, 4.9);
    EXPECT_LT(run.seconds, 7.9);
    expectReplaced();
    holder.wait(15000);
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// The longest path: the old launcher (this test process) outlives the 30 s wait and
// holds its file for the whole run, so all ten moves fail.
TEST_F(ApplyUpdate, GivesUpAfterTenTriesDeletesTheNewFileAndReportsIt) {
    UniqueHandle held(CreateFileW(target_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);

    const ApplyRun run = apply(GetCurrentProcessId(), 120000);
    EXPECT_EQ(run.exitCode, 0);
    // 30 s of waiting, then nine pauses of 3 s between the ten tries.
    EXPECT_GE(run.seconds, 57.0);
    EXPECT_LT(run.seconds, 66.0);
    EXPECT_FALSE(pathExists(newFile_));
    held.reset();
    EXPECT_EQ(readBytes(target_), bytesOf("launcher build A"));

    const std::vector<unsigned char> log = readBytes(toastLog());
    const std::string toasts(log.begin(), log.end());
    const std::string expected = "{\"appId\":\"VORNEL LAB\",\"xml\":" +
                                 jsonString(toUtf8(buildToastXml(L"VORNEL LAB", kFailureMessage, L""))) + ",";
    EXPECT_EQ(toasts.compare(0, expected.size(), expected), 0) << toasts;
    EXPECT_EQ(std::count(toasts.begin(), toasts.end(), '\n'), 1) << toasts;
}

}  // namespace
