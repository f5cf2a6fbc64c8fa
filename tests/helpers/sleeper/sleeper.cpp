// Stand-in for a running program whose file name and command line the tests choose
// (copied as java.exe, JAVA.EXE, java64.exe ...). It ignores its arguments and sleeps.
// Exit code 3 tells a natural end from a termination with code 0; the two-minute limit
// keeps a stand-in that a failed test left behind from lingering.
#include <windows.h>

int wmain() {
    Sleep(120000);
    return 3;
}
