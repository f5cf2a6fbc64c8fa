// Stand-in for a running program whose file name and command line the tests choose
// (copied as java.exe, JAVA.EXE, java64.exe ...). It ignores its arguments and sleeps.
// The event "Local\quolva_sleeper_<pid>" tells the test it is fully started: before
// that, its command line may not be readable yet. Exit code 3 tells a natural end from
// a termination with code 0; the two-minute limit keeps a stand-in that a failed test
// left behind from lingering.
#include <windows.h>

#include <string>

int wmain() {
    const std::wstring name = L"Local\\quolva_sleeper_" + std::to_wstring(GetCurrentProcessId());
    HANDLE ready = CreateEventW(nullptr, TRUE, TRUE, name.c_str());
    Sleep(120000);
    if (ready) CloseHandle(ready);
    return 3;
}
