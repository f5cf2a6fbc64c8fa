// Where the download's time goes under Wine: the plain WinHTTP loop of winhttp_floor
// with one thing changed at a time, each timed in the same way, with the time spent
// inside WinHttpQueryDataAvailable, inside WinHttpReadData and in the copy.
//   floor            the plain loop, bytes dropped
//   options          the launcher's request set-up: its user agent, timeouts, redirect
//                    policy, response timeout and header block; bytes dropped
//   keep             each piece appended to a vector sized from Content-Length
//   keep-pretouched  the same, into memory written once before the clock starts
//   keep-batched     pieces read one after another into the read buffer, which is
//                    appended to the vector only when full
//   read-into-body   WinHttpReadData straight into the vector, no read buffer
//   hot-copy         each piece copied into one small buffer used again and again
//   resident         as much memory as the body, written before the clock starts;
//                    bytes dropped
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "bench_url.h"
#include "bench_win.h"

namespace {

std::size_t declaredLength(HINTERNET request) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return static_cast<std::size_t>(std::wcstoull(text, nullptr, 10));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: winhttp_variants URL MODE BODY-BYTES\n");
        return 2;
    }
    const std::wstring mode = argv[2];
    const std::size_t bodyBytes = static_cast<std::size_t>(std::wcstoull(argv[3], nullptr, 10));
    const bool options = mode == L"options";
    const bool keep = mode == L"keep" || mode == L"keep-pretouched";
    const bool direct = mode == L"read-into-body";
    const bool batched = mode == L"keep-batched";

    std::vector<unsigned char> body;
    std::vector<unsigned char> resident;
    if (mode == L"keep-pretouched") {
        body.resize(bodyBytes, 1);
        body.clear();
    }
    if (mode == L"resident") resident.resize(bodyBytes, 1);

    const double t0 = benchNow();
    BenchUrl url;
    if (!benchCrackUrl(argv[1], url)) return 3;
    HINTERNET session = WinHttpOpen(
        options ? L"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
                  L"Gecko) Chrome/120.0.0.0 Safari/537.36"
                : L"floor",
        WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (options) WinHttpSetTimeouts(session, 15000, 15000, 30000, 30000);
    HINTERNET connection = WinHttpConnect(session, url.host.c_str(), url.port, 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", url.path.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           url.secure ? WINHTTP_FLAG_SECURE : 0);
    if (options) {
        DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_ALWAYS;
        WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
        DWORD timeout = 30000;
        WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &timeout, sizeof(timeout));
        const wchar_t* headers = L"Accept: */*\r\nAccept-Language: en-US,en;q=0.9\r\n"
                                 L"Referer: https://duckduckgo.com/\r\nConnection: keep-alive\r\n";
        WinHttpAddRequestHeaders(request, headers, static_cast<DWORD>(std::wcslen(headers)),
                                 WINHTTP_ADDREQ_FLAG_ADD);
    }
    if (!request || !WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                        WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request, nullptr)) {
        std::printf("{\"ok\": false, \"error\": %lu}\n", GetLastError());
        return 1;
    }
    if ((keep || direct || batched) && body.capacity() == 0) body.reserve(declaredLength(request));

    std::vector<unsigned char> buffer(524288, 0);
    unsigned char hot[16384] = {};
    std::size_t filled = 0;
    unsigned long long total = 0;
    double inQuery = 0, inRead = 0, inCopy = 0;
    for (;;) {
        DWORD available = 0;
        const double a = benchNow();
        if (!WinHttpQueryDataAvailable(request, &available)) return 4;
        const double b = benchNow();
        inQuery += b - a;
        if (available == 0) break;
        DWORD wanted = std::min<DWORD>(available, static_cast<DWORD>(buffer.size()));
        unsigned char* into = buffer.data();
        if (batched) {
            if (filled == buffer.size()) {
                body.insert(body.end(), buffer.data(), buffer.data() + filled);
                filled = 0;
            }
            wanted = std::min<DWORD>(wanted, static_cast<DWORD>(buffer.size() - filled));
            into = buffer.data() + filled;
        }
        const std::size_t before = body.size();
        if (direct) {
            body.resize(before + wanted);
            into = body.data() + before;
        }
        DWORD got = 0;
        if (!WinHttpReadData(request, into, wanted, &got)) return 5;
        const double c = benchNow();
        inRead += c - b;
        if (direct) body.resize(before + got);
        if (batched) filled += got;
        if (keep) body.insert(body.end(), buffer.data(), buffer.data() + got);
        if (mode == L"hot-copy") std::memcpy(hot, buffer.data(), std::min<std::size_t>(got, sizeof(hot)));
        inCopy += benchNow() - c;
        total += got;
    }
    if (batched) body.insert(body.end(), buffer.data(), buffer.data() + filled);
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    const double seconds = benchNow() - t0;
    std::printf("{\"ok\": true, \"seconds\": %.6f, \"bytes\": %llu, \"query\": %.6f, \"read\": %.6f, "
                "\"copy\": %.6f, \"hot\": %u}\n",
                seconds, total, inQuery, inRead, inCopy, static_cast<unsigned>(hot[0]));
    return 0;
}
