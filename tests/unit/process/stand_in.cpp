#include "stand_in.h"

#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>

#include "launcher/launch.h"
#include "support/child.h"
#include "support/test_files.h"

std::wstring scratchFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"quolva_process\\" + name;
    removeTree(folder);
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    return folder;
}

std::wstring placeSleeper(const std::wstring& folder, const std::wstring& fileName) {
    const std::wstring path = folder + L"\\" + fileName;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        CopyFileW(helperPath(L"sleeper.exe").c_str(), path.c_str(), TRUE);
    return path;
}

std::wstring gameCommandLine(const std::wstring& exePath, const std::wstring& mainClass) {
    return buildJavaCommandLine(exePath, mainClass);
}

std::string uniqueMainClass(const std::string& name) {
    return "org.quolva.test" + std::to_string(GetCurrentProcessId()) + "." + name + ".Main";
}

StandIn::~StandIn() {
    end();
}

namespace {

bool waitUntilSleeperIsReady(std::uint32_t id, HANDLE process) {
    const std::wstring name = L"Local\\quolva_sleeper_" + std::to_wstring(id);
    for (int i = 0; i < 200; ++i) {
        HANDLE ready = OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
        if (ready) {
            CloseHandle(ready);
            return true;
        }
        if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0) return false;
    }
    return false;
}

}  // namespace

bool StandIn::start(const std::wstring& commandLine, bool isSleeper) {
    end();
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    // No console: Wine gives a console program started with CREATE_NO_WINDOW a console
    // host of its own, which can outlive a stand-in terminated early and keep the test
    // run's output open.
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
    return !isSleeper || waitUntilSleeperIsReady(id_, process_);
}

void StandIn::end() {
    if (!process_) return;
    if (running()) TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
    CloseHandle(process_);
    process_ = nullptr;
}

bool StandIn::running() const {
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

DWORD StandIn::exitCode() const {
    DWORD code = STILL_ACTIVE;
    if (process_) GetExitCodeProcess(process_, &code);
    return code;
}

std::vector<std::uint32_t> inSnapshotOrder(const std::vector<std::uint32_t>& ids) {
    std::vector<std::uint32_t> ordered;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ordered;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (std::find(ids.begin(), ids.end(), entry.th32ProcessID) != ids.end())
            ordered.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return ordered;
}
