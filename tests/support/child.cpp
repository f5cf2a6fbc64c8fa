#include "support/child.h"

#include <map>

namespace {

std::map<std::wstring, ChildMain>& registry() {
    static std::map<std::wstring, ChildMain> children;
    return children;
}

const wchar_t kChildFlag[] = L"--quolva-child=";

}  // namespace

ChildRegistration::ChildRegistration(const wchar_t* name, ChildMain main) {
    registry()[name] = main;
}

bool runChildModeIfRequested(int argc, wchar_t** argv, int& exitCode) {
    if (argc < 2) return false;
    const std::wstring first = argv[1];
    if (first.rfind(kChildFlag, 0) != 0) return false;
    const std::wstring name = first.substr(wcslen(kChildFlag));
    auto found = registry().find(name);
    if (found == registry().end()) {
        exitCode = 120;
        return true;
    }
    std::vector<std::wstring> args(argv + 2, argv + argc);
    exitCode = found->second(args);
    return true;
}

ChildProcess::~ChildProcess() {
    if (process) CloseHandle(process);
}

int ChildProcess::wait(DWORD timeoutMs) {
    if (!process) return -1;
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return static_cast<int>(code);
}

std::wstring quoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
        else out.append(backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

std::wstring thisExecutablePath() {
    wchar_t buffer[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return buffer;
}

std::wstring helperPath(const std::wstring& exeName) {
    std::wstring self = thisExecutablePath();
    std::wstring folder = self.substr(0, self.find_last_of(L"\\/"));
    std::wstring buildDir = folder.substr(0, folder.find_last_of(L"\\/"));
    return buildDir + L"\\helpers\\" + exeName;
}

std::wstring environmentValue(const wchar_t* name) {
    wchar_t buffer[4096] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
    if (length == 0 || length >= 4096) return std::wstring();
    return buffer;
}

bool startChild(const std::wstring& name, const std::vector<std::wstring>& args, ChildProcess& child,
                const wchar_t* currentDirectory) {
    std::wstring commandLine = quoteArgument(thisExecutablePath()) + L" " + kChildFlag + name;
    for (const std::wstring& arg : args) commandLine += L" " + quoteArgument(arg);
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        currentDirectory, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    child.process = info.hProcess;
    child.processId = info.dwProcessId;
    return true;
}

int runChild(const std::wstring& name, const std::vector<std::wstring>& args, DWORD timeoutMs) {
    ChildProcess child;
    if (!startChild(name, args, child)) return -2;
    return child.wait(timeoutMs);
}
