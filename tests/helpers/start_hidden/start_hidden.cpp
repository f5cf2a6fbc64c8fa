// start_hidden.exe DIR COMMANDLINE
// Starts COMMANDLINE (one argument: the whole line, quotes included) with the process
// options the launcher gives the game: working directory DIR, standard output and
// error into one anonymous pipe whose read end only this process holds, standard
// input from NUL, STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW with SW_HIDE, handle
// inheritance on and CREATE_NO_WINDOW. Prints the child's process id and ends at once
// without reading the pipe, so the child is left writing into a pipe without a reader.
// Exit codes: 0 started, 1 CreateProcessW failed (its error code is printed), 2 usage.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fwprintf(stderr, L"usage: start_hidden DIR COMMANDLINE\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    std::vector<wchar_t> commandLine(argv[2], argv[2] + wcslen(argv[2]) + 1);

    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    } else {
        readEnd = writeEnd = nullptr;
    }
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inheritable, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (writeEnd && nul != INVALID_HANDLE_VALUE) {
        startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        startup.hStdInput = nul;
    }
    PROCESS_INFORMATION process = {};
    const BOOL created = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, folder.c_str(), &startup, &process);
    const DWORD error = created ? ERROR_SUCCESS : GetLastError();
    if (writeEnd) CloseHandle(writeEnd);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!created) {
        if (readEnd) CloseHandle(readEnd);
        printf("error %lu\n", error);
        return 1;
    }
    printf("pid %lu\n", process.dwProcessId);
    fflush(stdout);
    // Like the launcher: end at once; the read end and the child's handles close with us.
    ExitProcess(0);
}
