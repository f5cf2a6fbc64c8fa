#include "patching/http_request.h"

const wchar_t* const kBrowserUserAgent =
    L"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    L"Chrome/120.0.0.0 Safari/537.36";

const wchar_t* const kBrowserHeaderBlock =
    L"Accept: */*\r\n"
    L"Accept-Language: en-US,en;q=0.9\r\n"
    L"Referer: https://duckduckgo.com/\r\n"
    L"Connection: keep-alive\r\n";

std::wstring buildRequestTarget(const std::wstring& urlPath, const std::wstring& extraInfo) {
    return urlPath + extraInfo;
}
