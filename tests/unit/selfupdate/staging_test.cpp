#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/text.h"
#include "launcher/catalogue.h"
#include "selfupdate/staging.h"
#include "support/child.h"
#include "unit/selfupdate/files.h"
#include "unit/selfupdate/updater_recorder.h"
#include "support/zip_writer.h"

namespace {

constexpr int kStaged = 1;
constexpr int kNotStaged = 0;
constexpr int kArchiveUnreadable = 2;

const wchar_t kNewFileName[] = L"Quolva_game.new.exe";
const wchar_t kUpdaterName[] = L"Quolva_updater.exe";

std::uint64_t peakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize;
}

// Child: this test binary stands for the running launcher (its own file is both the
// launcher path and the entry's target) and stages entry 0 of the archive, with the
// temporary folder pointed at the test's scratch folder.
// args: archive path, temporary folder, updater record path, peak-memory report path
QUOLVA_CHILD(stage) {
    SetEnvironmentVariableW(L"TMP", args.at(1).c_str());
    SetEnvironmentVariableW(L"TEMP", args.at(1).c_str());
    SetEnvironmentVariableW(kUpdaterRecordVariable, args.at(2).c_str());
    g_launcherPath = thisExecutablePath();

    // Something the updater must not receive: handles are not to be inherited.
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    const std::wstring probeName = L"quolva-selfupdate-probe-" + std::to_wstring(GetCurrentProcessId());
    UniqueHandle probe(CreateEventW(&inheritable, TRUE, FALSE, probeName.c_str()));
    const std::wstring probeText =
        std::to_wstring(reinterpret_cast<ULONG_PTR>(probe.get())) + L";" + probeName;
    SetEnvironmentVariableW(kInheritProbeVariable, probeText.c_str());

    const std::vector<unsigned char> bytes = readBytes(args.at(0));
    ZipArchive archive;
    if (!zipOpenMemory(archive, bytes.data(), bytes.size())) return kArchiveUnreadable;
    const std::uint64_t peakBefore = peakWorkingSet();
    const bool staged = stageLauncherUpdate(archive, 0, g_launcherPath);
    writeBytes(args.at(3), bytesOf(std::to_string(peakWorkingSet() - peakBefore)));
    zipClose(archive);
    return staged ? kStaged : kNotStaged;
}

struct StagingRun {
    int exitCode = -1;
    DWORD stagingProcessId = 0;
    std::uint64_t peakGrowth = 0;
};

class Staging : public testing::Test {
protected:
    void SetUp() override {
        folder_ = freshScratchFolder(fromUtf8(testing::UnitTest::GetInstance()->current_test_info()->name()));
        runningImage_ = readBytes(thisExecutablePath());
        ASSERT_FALSE(runningImage_.empty());
    }
    void TearDown() override { removeTree(folder_); }

    StagingRun stage(const std::vector<unsigned char>& archive) {
        StagingRun run;
        const std::wstring archivePath = folder_ + L"patch.zip";
        EXPECT_TRUE(writeBytes(archivePath, archive));
        ChildProcess child;
        if (!startChild(L"stage", {archivePath, folder_, recordPath(), folder_ + L"peak.txt"}, child))
            return run;
        run.stagingProcessId = child.processId;
        run.exitCode = child.wait(60000);
        const std::vector<unsigned char> peak = readBytes(folder_ + L"peak.txt");
        const std::string peakText(peak.begin(), peak.end());
        run.peakGrowth = peakText.empty() ? UINT64_MAX : std::strtoull(peakText.c_str(), nullptr, 10);
        return run;
    }

    // The updater copy ends right after recording; waiting for it frees the scratch folder.
    bool waitForUpdater(UpdaterRecord& record) {
        if (!waitForFile(recordPath(), 15000) || !readUpdaterRecord(recordPath(), record)) return false;
        UniqueHandle updater(OpenProcess(SYNCHRONIZE, FALSE, record.processId));
        if (updater) WaitForSingleObject(updater.get(), 15000);
        return true;
    }

    std::wstring expectedCommandLine(DWORD stagingProcessId) const {
        return L"\"" + folder_ + kUpdaterName + L"\" __apply-update \"" + folder_ + kNewFileName +
               L"\" \"" + thisExecutablePath() + L"\" " + std::to_wstring(stagingProcessId);
    }

    std::wstring recordPath() const { return folder_ + L"updater.record"; }
    std::wstring newFilePath() const { return folder_ + kNewFileName; }
    std::wstring updaterPath() const { return folder_ + kUpdaterName; }

    std::vector<unsigned char> changedImage() const {
        std::vector<unsigned char> image = runningImage_;
        image[image.size() / 2] ^= 0x5A;
        return image;
    }

    std::wstring folder_;
    std::vector<unsigned char> runningImage_;
};

TEST_F(Staging, EntryEqualToTheRunningFileWritesAndStartsNothing) {
    const StagingRun run = stage(zipWithStoredEntry("game.exe", runningImage_));
    EXPECT_EQ(run.exitCode, kStaged);
    EXPECT_FALSE(pathExists(newFilePath()));
    EXPECT_FALSE(pathExists(updaterPath()));
    Sleep(500);
    EXPECT_FALSE(pathExists(recordPath()));
}

TEST_F(Staging, EntryDifferingInOneByteIsWrittenAndHandedToAHiddenUpdaterCopy) {
    ASSERT_TRUE(writeBytes(updaterPath(), bytesOf("leftover of an earlier run")));
    const std::vector<unsigned char> newImage = changedImage();

    const StagingRun run = stage(zipWithStoredEntry("game.exe", newImage));
    ASSERT_EQ(run.exitCode, kStaged);

    UpdaterRecord record;
    ASSERT_TRUE(waitForUpdater(record)) << "the updater copy never started";
    EXPECT_EQ(record.commandLine, expectedCommandLine(run.stagingProcessId));
    EXPECT_TRUE(record.startupFlags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(record.showWindow, static_cast<DWORD>(SW_HIDE));
    EXPECT_FALSE(record.inheritedProbe) << "the updater inherited the staging process's handles";

    EXPECT_TRUE(readBytes(newFilePath()) == newImage);
    // The updater is the old build, the one that was running.
    EXPECT_TRUE(readBytes(updaterPath()) == runningImage_);
}

TEST_F(Staging, SizeLimitIsJudgedFromTheDeclaredSizeBeforeInflating) {
    const std::uint32_t limit = static_cast<std::uint32_t>(kMaxLauncherImageSize);
    ASSERT_EQ(limit, 104857600u);

    const StagingRun above = stage(zipWithDeflatedZeros("game.exe", limit + 1));
    EXPECT_EQ(above.exitCode, kNotStaged);
    EXPECT_FALSE(pathExists(newFilePath()));
    EXPECT_FALSE(pathExists(updaterPath()));
    EXPECT_LT(above.peakGrowth, 32u << 20) << "the oversized entry was inflated";

    const StagingRun atLimit = stage(zipWithDeflatedZeros("game.exe", limit));
    EXPECT_EQ(atLimit.exitCode, kStaged);
    WIN32_FILE_ATTRIBUTE_DATA staged = {};
    ASSERT_TRUE(GetFileAttributesExW(newFilePath().c_str(), GetFileExInfoStandard, &staged));
    EXPECT_EQ(staged.nFileSizeHigh, 0u);
    EXPECT_EQ(staged.nFileSizeLow, limit);
    // The same measurement does see an entry of the limit's size being inflated.
    EXPECT_GE(atLimit.peakGrowth, 64u << 20);
    UpdaterRecord record;
    EXPECT_TRUE(waitForUpdater(record));
    EXPECT_EQ(record.commandLine, expectedCommandLine(atLimit.stagingProcessId));
}

TEST_F(Staging, FailuresLeaveNoStagedFileAndStartNoUpdater) {
    enum class Blocker { None, NewFileName, UpdaterName };
    struct Case {
        const char* name;
        std::vector<unsigned char> archive;
        Blocker blocker;
    };
    const std::vector<Case> cases = {
        {"entry fails its CRC check", zipWithStoredEntry("game.exe", changedImage(), true), Blocker::None},
        {"empty entry", zipWithStoredEntry("game.exe", {}), Blocker::None},
        // A folder where a file must go: it cannot be created, whoever runs the test.
        {"staged file cannot be created", zipWithStoredEntry("game.exe", changedImage()), Blocker::NewFileName},
        {"updater copy cannot be made", zipWithStoredEntry("game.exe", changedImage()), Blocker::UpdaterName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        removeTree(folder_);
        folder_ = freshScratchFolder(L"failure");
        if (c.blocker == Blocker::NewFileName) CreateDirectoryW(newFilePath().c_str(), nullptr);
        if (c.blocker == Blocker::UpdaterName) CreateDirectoryW(updaterPath().c_str(), nullptr);

        const StagingRun run = stage(c.archive);
        EXPECT_EQ(run.exitCode, kNotStaged);
        const DWORD newFile = GetFileAttributesW(newFilePath().c_str());
        if (c.blocker == Blocker::NewFileName) EXPECT_TRUE(newFile & FILE_ATTRIBUTE_DIRECTORY);
        else EXPECT_EQ(newFile, INVALID_FILE_ATTRIBUTES) << "a staged file was left behind";
        if (c.blocker != Blocker::UpdaterName) EXPECT_FALSE(pathExists(updaterPath()));
        Sleep(300);
        EXPECT_FALSE(pathExists(recordPath()));
    }
}

}  // namespace
