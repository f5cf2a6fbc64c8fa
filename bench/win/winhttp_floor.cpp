// The floor of WinHTTP here: one plain GET read in the simplest way, each piece the
// stack has ready read into one fixed buffer and dropped. Times the whole fetch, from
// WinHttpOpen to the last byte. With --keep, each piece is also appended to a vector
// sized once from Content-Length: the least any client that keeps the body must do.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "bench_url.h"
#include "bench_win.h"

int wmain(int argc, wchar_t** argv) {
    const bool keep = argc == 3 && std::wcscmp(argv[2], L"--keep") == 0;
    if (argc != 2 && !keep) {
        std::fprintf(stderr, "usage: winhttp_floor URL [--keep]\n");
        return 2;
    }
    const double t0 = benchNow();
    BenchUrl url;
    if (!benchCrackUrl(argv[1], url)) return 3;
    HINTERNET session = WinHttpOpen(L"floor", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = WinHttpConnect(session, url.host.c_str(), url.port, 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", url.path.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           url.secure ? WINHTTP_FLAG_SECURE : 0);
    if (!request || !WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                        WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request, nullptr)) {
        std::printf("{\"ok\": false, \"error\": %lu}\n", GetLastError());
        return 1;
    }
    std::vector<unsigned char> body;
    if (keep) {
        wchar_t length[32] = {};
        DWORD size = sizeof(length);
        if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                                length, &size, WINHTTP_NO_HEADER_INDEX))
            body.reserve(static_cast<std::size_t>(std::wcstoull(length, nullptr, 10)));
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
        if (keep) body.insert(body.end(), buffer.data(), buffer.data() + got);
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
