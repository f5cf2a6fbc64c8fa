// The notification gate: the in-process spacing (each scenario in a fresh child
// process, since the gate's state lives for the whole process) and the cross-process
// claim of the timestamp file (called directly).
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <thread>

#include "common/handles.h"
#include "launcher/display_names.h"
#include "notify/gate.h"
#include "notify/gate_state.h"
#include "notify/timestamp.h"
#include "notify_support.h"
#include "support/child.h"

namespace {

const wchar_t kLoadingText[] = L"\u0110ang load d\u1EEF li\u1EC7u";

bool requestLoadingNotice() {
    return showNotification(kDisplayNameKova, kLoadingText, kDefaultDisplayName, L"resource/game.ico",
                            L"", kDisplayNameKova);
}

std::wstring timestampFileIn(const std::wstring& profile) {
    return profile + L"\\Quolva\\toast_last_timestamp.txt";
}

std::wstring profileTimestampFile() {
    wchar_t profile[MAX_PATH] = {};
    GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
    return timestampFileIn(profile);
}

void recordTime(std::uint64_t ms) {
    writeBytes(profileTimestampFile(), formatNotificationTimestamp(ms));
}

}  // namespace

QUOLVA_CHILD(gate_one_request) { return requestLoadingNotice() ? 1 : 0; }

// args[0]: a second, empty profile folder that the refused request must not touch.
QUOLVA_CHILD(gate_again_after_one_second) {
    const bool first = requestLoadingNotice();
    Sleep(1000);
    SetEnvironmentVariableW(L"USERPROFILE", args.at(0).c_str());
    const bool second = requestLoadingNotice();
    return (first ? 1 : 0) | (second ? 2 : 0);
}

QUOLVA_CHILD(gate_cross_process_refusal_keeps_tick) {
    int code = requestLoadingNotice() ? 1 : 0;
    const std::uint64_t firstTick = g_lastToastTick;
    Sleep(5200);
    const std::string recent = formatNotificationTimestamp(unixMillisNow() - 2000);
    writeBytes(profileTimestampFile(), recent);
    if (!requestLoadingNotice()) code |= 2;
    if (g_lastToastTick == firstTick) code |= 4;
    std::string after;
    if (readBytes(profileTimestampFile(), after) && after == recent) code |= 8;
    // Ticks have run past the spacing since the first grant: a stale record lets it through.
    recordTime(unixMillisNow() - 60000);
    if (requestLoadingNotice()) code |= 16;
    return code;
}

// Two threads request at once; the recorder's Show is slowed down by the parent.
QUOLVA_CHILD(gate_two_threads) {
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool results[2] = {};
    std::uint64_t returned[2] = {};
    std::uint64_t started = 0;
    auto request = [&](int i) {
        WaitForSingleObject(start, INFINITE);
        results[i] = requestLoadingNotice();
        returned[i] = GetTickCount64();
    };
    std::thread a(request, 0);
    std::thread b(request, 1);
    Sleep(100);
    started = GetTickCount64();
    SetEvent(start);
    a.join();
    b.join();
    CloseHandle(start);
    int code = 0;
    if (results[0] != results[1]) code |= 1;
    const int loser = results[0] ? 1 : 0;
    if (returned[loser] - started >= 1400) code |= 2;
    return code;
}

// args[0]: an empty profile folder for the second request.
QUOLVA_CHILD(gate_failed_delivery_still_counts) {
    int code = requestLoadingNotice() ? 0 : 1;
    if (g_toastShownOnce) code |= 2;
    SetEnvironmentVariableW(L"QUOLVA_TOAST_RECORDER_FAIL", nullptr);
    SetEnvironmentVariableW(L"USERPROFILE", args.at(0).c_str());
    if (!requestLoadingNotice()) code |= 4;
    return code;
}

// Holds args[0] open as args[1] says until it is terminated; creates args[2] once open.
QUOLVA_CHILD(hold_timestamp_file) {
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ;
    if (args.at(1) == L"claiming") access = GENERIC_READ | GENERIC_WRITE;
    if (args.at(1) == L"exclusive") share = 0;
    if (args.at(1) == L"sharing-write") share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE file = CreateFileW(args.at(0).c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    writeBytes(args.at(2), "open");
    Sleep(60000);
    CloseHandle(file);
    return 0;
}

namespace {

class NotificationGateTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(toastRecorderRegistered()) << "register_toast_recorder.exe first"; }

    std::vector<RecordedToast> toasts() const { return readRecordedToasts(logs / L"toasts.jsonl"); }

    ScratchFolder profile;
    ScratchFolder logs;
    ScratchFolder temp;
    ScopedEnvironment profileVariable{L"USERPROFILE", profile.path()};
    ScopedEnvironment logVariable{L"QUOLVA_TOAST_LOG", logs / L"toasts.jsonl"};
    ScopedEnvironment tempVariable{L"TMP", temp.path()};
};

TEST_F(NotificationGateTest, FirstRequestRecordsTheCurrentTimeAndDelivers) {
    const std::uint64_t before = unixMillisNow();
    EXPECT_EQ(runChild(L"gate_one_request"), 1);
    const std::uint64_t after = unixMillisNow();

    std::string content;
    ASSERT_TRUE(readBytes(timestampFileIn(profile.path()), content));
    std::uint64_t stored = 0;
    ASSERT_TRUE(parseNotificationTimestamp(content, stored)) << content;
    EXPECT_EQ(content, formatNotificationTimestamp(stored)) << "digits only, no line end";
    EXPECT_GE(stored, before);
    EXPECT_LE(stored, after);

    const std::vector<RecordedToast> shown = toasts();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].appId, L"VORNELLAB.KOVA");
    EXPECT_NE(shown[0].xml.find(std::wstring(L"<text>") + kLoadingText + L"</text>"), std::wstring::npos);
}

TEST_F(NotificationGateTest, SecondRequestWithinTheSpacingIsRefusedBeforeTheFileIsLookedFor) {
    // The second request runs with another, empty profile: had it reached the
    // cross-process claim, the Quolva folder would have been made there.
    ScratchFolder otherProfile;
    EXPECT_EQ(runChild(L"gate_again_after_one_second", {otherProfile.path()}), 1);
    EXPECT_FALSE(pathExists(otherProfile / L"Quolva"));
    EXPECT_EQ(toasts().size(), 1u);
}

TEST_F(NotificationGateTest, CrossProcessRefusalLeavesTheTickAndTheFileAsTheyWere) {
    EXPECT_EQ(runChild(L"gate_cross_process_refusal_keeps_tick", {}, 30000), 1 | 2 | 4 | 8 | 16);
    EXPECT_EQ(toasts().size(), 2u);
}

TEST_F(NotificationGateTest, SecondThreadWaitsForTheFirstDeliveryAndIsRefused) {
    ScopedEnvironment slowShow(L"QUOLVA_TOAST_RECORDER_SHOW_DELAY_MS", L"1500");
    EXPECT_EQ(runChild(L"gate_two_threads"), 1 | 2);
    EXPECT_EQ(toasts().size(), 1u);
}

TEST_F(NotificationGateTest, FailedDeliveryStillCountsAgainstTheInProcessSpacing) {
    ScopedEnvironment failingShow(L"QUOLVA_TOAST_RECORDER_FAIL", L"show");
    ScratchFolder otherProfile;
    EXPECT_EQ(runChild(L"gate_failed_delivery_still_counts", {otherProfile.path()}), 1 | 2 | 4);
    EXPECT_TRUE(pathExists(timestampFileIn(profile.path()))) << "the claim was recorded";
    EXPECT_FALSE(pathExists(otherProfile / L"Quolva"));
    EXPECT_TRUE(toasts().empty());
}

TEST_F(NotificationGateTest, UnopenableTimestampFileLeavesOnlyTheInProcessSpacing) {
    // "Quolva" is a file, so the timestamp file cannot be opened (path not found):
    // requests are granted without a record, and only the process's own spacing holds.
    ASSERT_TRUE(writeBytes(profile / L"Quolva", "not a folder"));
    ScratchFolder unused;
    EXPECT_EQ(runChild(L"gate_again_after_one_second", {unused.path()}), 1);
    EXPECT_EQ(runChild(L"gate_one_request"), 1) << "another process is not held back";
    EXPECT_EQ(toasts().size(), 2u);
}

// The claim itself, at chosen clock values.
class TimestampClaimTest : public testing::Test {
protected:
    std::wstring file() const { return timestampFileIn(profile.path()); }
    void store(const std::string& bytes) {
        CreateDirectoryW((profile / L"Quolva").c_str(), nullptr);
        ASSERT_TRUE(writeBytes(file(), bytes));
    }
    std::string stored() const {
        std::string bytes;
        readBytes(file(), bytes);
        return bytes;
    }

    ScratchFolder profile;
    ScopedEnvironment profileVariable{L"USERPROFILE", profile.path()};
};

const std::uint64_t kNow = 1767225600123ull;  // 2026-01-01 00:00:00.123 UTC

TEST_F(TimestampClaimTest, FirstClaimCreatesFolderAndFile) {
    EXPECT_TRUE(claimNotificationSlot(kNow));
    EXPECT_EQ(stored(), "1767225600123");
}

struct ClaimCase {
    const char* name;
    std::string content;
    std::uint64_t now;
    bool granted;
};

TEST_F(TimestampClaimTest, DecidesFromTheStoredTime) {
    const std::string t = std::to_string(kNow);
    const std::string recent = std::to_string(kNow - 1000);
    const std::vector<ClaimCase> cases = {
        {"valid with CR LF, 3 s ago", t + "\r\n", kNow + 3000, false},
        {"valid with CR LF, 5 s ago", t + "\r\n", kNow + 5000, true},
        {"4999 ms ago", t, kNow + 4999, false},
        {"same millisecond", t, kNow, false},
        {"31 bytes with leading zeros", std::string(31 - recent.size(), '0') + recent, kNow, false},
        {"mixed line ends after digits", recent + "\n\r\n\r", kNow, false},
        {"10 minutes in the future", std::to_string(kNow + 600000), kNow, true},
        // Invalid content: granted and overwritten even though a recent time is in it.
        {"empty file", "", kNow, true},
        {"line feed before the digits", "\n" + recent, kNow, true},
        {"plus sign", "+" + recent, kNow, true},
        {"minus sign", "-" + recent, kNow, true},
        {"blank after the digits", recent + " ", kNow, true},
        {"digit after a line break", recent + "\r\n1", kNow, true},
        {"other byte", recent + "x", kNow, true},
        {"32 bytes of digits", std::string(32 - recent.size(), '0') + recent, kNow, true},
        {"20 nines", std::string(20, '9'), kNow, true},
        {"one above the int64 range", "9223372036854775808", kNow, true},
    };
    for (const ClaimCase& c : cases) {
        store(c.content);
        EXPECT_EQ(claimNotificationSlot(c.now), c.granted) << c.name;
        const std::string expected = c.granted ? std::to_string(c.now) : c.content;
        EXPECT_EQ(stored(), expected) << c.name;
    }
}

TEST_F(TimestampClaimTest, LongerContentIsCutToTheNewDigits) {
    store(std::string(40, '7'));
    EXPECT_TRUE(claimNotificationSlot(kNow));
    EXPECT_EQ(stored(), std::to_string(kNow));
}

struct HoldCase {
    const wchar_t* mode;
    bool granted;
};

TEST_F(TimestampClaimTest, FileHeldByAnotherProcessWithoutSharingWriteIsRefused) {
    const std::vector<HoldCase> cases = {
        {L"claiming", false},       // another launcher in the middle of its claim
        {L"exclusive", false},      // no sharing at all
        {L"reading", false},        // read access, shared for reading only
        {L"sharing-write", true},   // a reader that lets others write: no violation
    };
    ScratchFolder markers;
    for (const HoldCase& c : cases) {
        const std::string old = std::to_string(kNow - 600000);
        store(old);
        const std::wstring marker = markers / (std::wstring(c.mode) + L".open");
        ChildProcess holder;
        ASSERT_TRUE(startChild(L"hold_timestamp_file", {file(), c.mode, marker}, holder));
        for (int i = 0; i < 200 && !pathExists(marker); ++i) Sleep(50);
        ASSERT_TRUE(pathExists(marker)) << c.mode;
        EXPECT_EQ(claimNotificationSlot(kNow), c.granted) << c.mode;
        holder.wait(0);
        EXPECT_EQ(stored(), c.granted ? std::to_string(kNow) : old) << c.mode;
    }
}

TEST_F(TimestampClaimTest, OtherOpenFailuresGrantWithoutRecording) {
    // A folder where the file should be: access denied, not a sharing violation.
    CreateDirectoryW((profile / L"Quolva").c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryW(file().c_str(), nullptr));
    EXPECT_TRUE(claimNotificationSlot(kNow));
    EXPECT_TRUE(claimNotificationSlot(kNow)) << "nothing was recorded";
}

TEST(NotificationTimestampPath, FollowsTheProfileVariableAndCreatesTheFolder) {
    ScratchFolder profile;
    ScopedEnvironment variable(L"USERPROFILE", profile.path());
    EXPECT_EQ(notificationTimestampPath(), profile.path() + L"\\Quolva\\toast_last_timestamp.txt");
    const DWORD attributes = GetFileAttributesW((profile / L"Quolva").c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(pathExists(profile / L"Quolva\\toast_last_timestamp.txt")) << "only the folder";
}

TEST(NotificationTimestampPath, FallsBackToTheShellProfileWhenTheVariableIsUnusable) {
    wchar_t shell[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, shell)));
    const std::wstring expected = std::wstring(shell) + L"\\Quolva\\toast_last_timestamp.txt";
    {
        ScopedEnvironment unset(L"USERPROFILE", nullptr);
        EXPECT_EQ(notificationTimestampPath(), expected);
    }
    {
        const std::wstring tooLong = L"C:\\" + std::wstring(257, L'p');  // 260 units
        ScopedEnvironment variable(L"USERPROFILE", tooLong);
        EXPECT_EQ(notificationTimestampPath(), expected);
    }
    {
        const std::wstring longest = L"C:\\" + std::wstring(256, L'p');  // 259 units: used
        ScopedEnvironment variable(L"USERPROFILE", longest);
        EXPECT_EQ(notificationTimestampPath(), longest + L"\\Quolva\\toast_last_timestamp.txt");
    }
}

}  // namespace
