// Unit tests that must end a process (ExitProcess) or block on a message box run the
// code in a child: the test binary starts itself again in a named child mode.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

using ChildMain = int (*)(const std::vector<std::wstring>& args);

struct ChildRegistration {
    ChildRegistration(const wchar_t* name, ChildMain main);
};

// Defines a child mode: QUOLVA_CHILD(launch_beside) { ...; return code; }
#define QUOLVA_CHILD(name)                                                        \
    static int name##_childMain(const std::vector<std::wstring>& args);           \
    static ChildRegistration name##_childRegistration(L## #name, name##_childMain); \
    static int name##_childMain([[maybe_unused]] const std::vector<std::wstring>& args)

// Runs the child mode from main() when the command line asks for one; returns true
// and sets exitCode when it did.
bool runChildModeIfRequested(int argc, wchar_t** argv, int& exitCode);

struct ChildProcess {
    HANDLE process = nullptr;
    DWORD processId = 0;
    ~ChildProcess();
    // Waits at most timeoutMs; returns the exit code, or -1 on timeout (then kills it).
    int wait(DWORD timeoutMs);
};

// Starts this test binary in child mode `name` with the given arguments.
bool startChild(const std::wstring& name, const std::vector<std::wstring>& args, ChildProcess& child,
                const wchar_t* currentDirectory = nullptr);
int runChild(const std::wstring& name, const std::vector<std::wstring>& args = {},
             DWORD timeoutMs = 60000);

// Quotes one argument the way CommandLineToArgvW reads it back.
std::wstring quoteArgument(const std::wstring& arg);

// Paths around the test binary: its own folder, and the helper programs' folder.
std::wstring thisExecutablePath();
std::wstring helperPath(const std::wstring& exeName);

// Environment of the test run (empty when unset).
std::wstring environmentValue(const wchar_t* name);
