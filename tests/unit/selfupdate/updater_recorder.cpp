#include "unit/selfupdate/updater_recorder.h"

#include <shellapi.h>

#include <sstream>

#include "common/handles.h"
#include "common/text.h"
#include "support/child.h"
#include "unit/selfupdate/files.h"

namespace {

bool probeWasInherited() {
    const std::wstring probe = environmentValue(kInheritProbeVariable);
    const std::size_t separator = probe.find(L';');
    if (separator == std::wstring::npos) return false;
    const HANDLE value = reinterpret_cast<HANDLE>(
        static_cast<ULONG_PTR>(std::wcstoull(probe.substr(0, separator).c_str(), nullptr, 10)));
    UniqueHandle named(OpenEventW(SYNCHRONIZE, FALSE, probe.substr(separator + 1).c_str()));
    // Not in the import libraries of the toolchain; kernelbase has it.
    using CompareObjects = BOOL(WINAPI*)(HANDLE, HANDLE);
    const auto compare = reinterpret_cast<CompareObjects>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CompareObjectHandles")));
    return named && compare && compare(value, named.get());
}

void writeRecord(const std::wstring& path) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    std::ostringstream text;
    text << toUtf8(GetCommandLineW()) << "\n"
         << startup.dwFlags << "\n"
         << startup.wShowWindow << "\n"
         << (probeWasInherited() ? 1 : 0) << "\n"
         << GetCurrentProcessId() << "\n";
    const std::wstring partial = path + L".part";
    if (writeBytes(partial, bytesOf(text.str())))
        MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

int recordIfStartedAsUpdater() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const bool updater = argv != nullptr && argc >= 2 && std::wstring(argv[1]) == L"__apply-update";
    LocalFree(argv);
    if (!updater) return 0;
    const std::wstring path = environmentValue(kUpdaterRecordVariable);
    if (!path.empty()) writeRecord(path);
    ExitProcess(0);
}

const int g_updaterRecorded = recordIfStartedAsUpdater();

}  // namespace

bool readUpdaterRecord(const std::wstring& path, UpdaterRecord& record) {
    const std::vector<unsigned char> bytes = readBytes(path);
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::string commandLine;
    if (!std::getline(text, commandLine)) return false;
    int inherited = 0;
    if (!(text >> record.startupFlags >> record.showWindow >> inherited >> record.processId))
        return false;
    record.commandLine = fromUtf8(commandLine);
    record.inheritedProbe = inherited != 0;
    return true;
}
