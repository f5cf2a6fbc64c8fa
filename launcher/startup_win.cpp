#include <windows.h>

#include <cstdint>

#include "common/text.h"
#include "launcher/catalogue.h"
#include "launcher/display_names.h"
#include "launcher/selection.h"
#include "launcher/startup.h"
#include "notify/gate.h"
#include "patching/update_check.h"
#include "selfupdate/apply_update.h"

const wchar_t* const kLoadingMessage =
    L"Đang load dữ liệu sẽ mất vài giây để mở trò chơi, vui lòng chờ chút lát.";

int runLauncher(const wchar_t* commandLineTail) {
    std::wstring newFilePath;
    std::wstring targetPath;
    std::uint32_t processId = 0;
    if (parseApplyUpdateArgs(commandLineTail, newFilePath, targetPath, processId))
        ExitProcess(static_cast<UINT>(runApplyUpdate(newFilePath, targetPath, processId)));

    wchar_t modulePath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    g_launcherPath = modulePath;
    g_launcherDir = directoryOfPath(g_launcherPath);

    const GameSelection selection = selectGame(toLowerAscii(toUtf8(g_launcherDir)));
    g_gameId = selection.gameId;
    g_appDisplayName = selection.displayName;

    showNotification(g_appDisplayName, kLoadingMessage, kDefaultDisplayName, L"resource/game.ico",
                     L"", g_appDisplayName);
    runUpdateFlow();
    return 0;
}
