#include <windows.h>

#include "common/handles.h"
#include "launcher/display_names.h"
#include "notify/gate.h"
#include "selfupdate/apply_update.h"

namespace {

const wchar_t kUpdateFailedMessage[] =
    L"Không tự cập nhật được launcher, hãy copy file game.exe mới thủ công.";

const DWORD kOldLauncherWaitMs = 30000;
const DWORD kOldLauncherGoneDelayMs = 2000;
const int kMoveAttempts = 10;
const DWORD kMoveRetryDelayMs = 3000;

}  // namespace

int runApplyUpdate(const std::wstring& newFilePath, const std::wstring& targetPath,
                   std::uint32_t processId) {
    // The old launcher still holds its file until it ends; when it cannot be opened it
    // has normally ended already, and a short pause lets its file be released.
    UniqueHandle oldLauncher(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (oldLauncher) {
        WaitForSingleObject(oldLauncher.get(), kOldLauncherWaitMs);
        oldLauncher.reset();
    } else {
        Sleep(kOldLauncherGoneDelayMs);
    }

    bool moved = false;
    for (int attempt = 0; attempt < kMoveAttempts && !moved; ++attempt) {
        if (attempt > 0) Sleep(kMoveRetryDelayMs);
        moved = MoveFileExW(newFilePath.c_str(), targetPath.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }

    if (!moved) {
        DeleteFileW(newFilePath.c_str());
        showNotification(kDefaultDisplayName, kUpdateFailedMessage, kDefaultDisplayName, L"", L"",
                         kDefaultDisplayName);
    }
    return 0;
}
