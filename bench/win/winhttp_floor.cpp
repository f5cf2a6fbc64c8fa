// The floor of WinHTTP here: one plain GET read in the simplest way, each piece the
// stack has ready read into one fixed buffer and dropped. Times the whole fetch, from
// WinHttpOpen to the last byte.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <vector>

#include "bench_win.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: winhttp_floor URL\n");
        return 2;
    }
    const double t0 = benchNow();
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(argv[1], 0, 0, &parts)) return 3;
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    HINTERNET session = WinHttpOpen(L"floor", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = WinHttpConnect(session, host.c_str(), parts.nPort, 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    if (!request || !WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                        WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request, nullptr)) {
        std::printf("{\"ok\": false, \"error\": %lu}\n", GetLastError());
        return 1;
    }
    std::vector<unsigned char> buffer(524288);
    unsigned long long total = 0;
    unsigned long long reads = 0;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return 4;
        if (available == 0) break;
        DWORD got = 0;
        if (!WinHttpReadData(request, buffer.data(),
                             available < buffer.size() ? available : static_cast<DWORD>(buffer.size()),
                             &got))
            return 5;
        total += got;
        ++reads;
    }
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    const double seconds = benchNow() - t0;
    std::printf("{\"ok\": true, \"seconds\": %.6f, \"bytes\": %llu, \"reads\": %llu}\n", seconds,
                total, reads);
    return 0;
}
