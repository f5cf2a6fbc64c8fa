#include <windows.h>

#include <vector>

#include "common/handles.h"
#include "common/text.h"
#include "launcher/catalogue.h"
#include "launcher/launch.h"

namespace {

bool pathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void showLaunchError(const std::wstring& text, const wchar_t* caption) {
    MessageBoxW(nullptr, text.c_str(), caption, MB_OK | MB_ICONERROR | MB_TOPMOST);
}

}  // namespace

void launchGame() {
    const GameEntry* entry = findGameEntry(g_gameId);
    if (!entry) return;

    std::wstring runtimePath = javaRuntimePathIn(g_launcherDir);
    if (!pathExists(runtimePath)) {
        const std::wstring fallbackFolder = g_installRoot + fromUtf8(g_gameId);
        runtimePath = javaRuntimePathIn(fallbackFolder);
        if (!pathExists(runtimePath)) {
            showLaunchError(
                L"Không tìm thấy Java runtime (pmzjre\\bin\\java.exe). Vui lòng kiểm tra lại bộ cài!",
                L"Lỗi");
            return;
        }
        g_launcherDir = fallbackFolder;
    }

    const std::wstring commandLine = buildJavaCommandLine(runtimePath, fromUtf8(entry->mainClass));
    std::vector<wchar_t> commandBuffer(commandLine.begin(), commandLine.end());
    commandBuffer.push_back(L'\0');

    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;

    // Only the write end goes to the game: the read end stays here and closes with the
    // launcher's process, so the game never blocks on a reader that waits for it.
    UniqueHandle readEnd;
    UniqueHandle writeEnd;
    if (CreatePipe(readEnd.receive(), writeEnd.receive(), &inheritable, 0)) {
        SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    } else {
        readEnd.reset();
        writeEnd.reset();
    }

    UniqueHandle nulInput(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inheritable,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (writeEnd && nulInput) {
        startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
        startup.hStdOutput = writeEnd.get();
        startup.hStdError = writeEnd.get();
        startup.hStdInput = nulInput.get();
    }

    PROCESS_INFORMATION process = {};
    const BOOL created =
        CreateProcessW(nullptr, commandBuffer.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                       nullptr, g_launcherDir.c_str(), &startup, &process);
    const DWORD createError = created ? ERROR_SUCCESS : GetLastError();
    writeEnd.reset();
    nulInput.reset();

    if (created) {
        // The read end and the game's handles close with this process; the updater
        // copy waits for exactly this end before it replaces the executable.
        readEnd.release();
        ExitProcess(0);
    }

    readEnd.reset();
    showLaunchError(buildLaunchFailureText(createError), L"Thông báo");
}
