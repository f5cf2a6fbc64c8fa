// fetch_url.exe URL: one plain WinHTTP GET; prints "status N length M" and exits 0 when
// a response arrived, or prints "error E" (GetLastError of the failing call) and exits 1.
// Used to check a prefix's certificate trust and the test origins.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <string>

namespace {

int fail(const char* step) {
    printf("error %lu at %s\n", GetLastError(), step);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(argv[1], 0, 0, &parts)) return fail("crack");
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring target = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                                std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    HINTERNET session = WinHttpOpen(L"fetch_url", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr, nullptr, 0);
    if (!session) return fail("open");
    WinHttpSetTimeouts(session, 10000, 10000, 10000, 10000);
    HINTERNET connection = WinHttpConnect(session, host.c_str(), parts.nPort, 0);
    if (!connection) return fail("connect");
    const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", target.c_str(), nullptr, nullptr, nullptr, flags);
    if (!request) return fail("request");
    if (!WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0)) return fail("send");
    if (!WinHttpReceiveResponse(request, nullptr)) return fail("receive");
    DWORD status = 0, size = sizeof(status);
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr, &status,
                        &size, nullptr);
    unsigned long long length = 0;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return fail("available");
        if (available == 0) break;
        std::string buffer(available, '\0');
        DWORD read = 0;
        if (!WinHttpReadData(request, &buffer[0], available, &read)) return fail("read");
        length += read;
    }
    printf("status %lu length %llu\n", status, length);
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return 0;
}
