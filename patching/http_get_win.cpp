#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cwchar>
#include <new>

#include "common/handles.h"
#include "common/text.h"
#include "patching/http_request.h"

namespace {

struct RequestParts {
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring target;
    bool secure = false;
};

// Larger than any patch archive the launcher is meant to hold in memory.
constexpr std::uint64_t kMaxPresizedBody = std::uint64_t{1} << 30;

enum class AttemptEnd { Success, FailedAtOnce, FailedAfterContact };

bool crackRequestUrl(const std::string& url, RequestParts& parts) {
    const std::wstring wideUrl = fromUtf8(url);
    URL_COMPONENTS components = {};
    components.dwStructSize = sizeof(components);
    components.dwHostNameLength = static_cast<DWORD>(-1);
    components.dwUrlPathLength = static_cast<DWORD>(-1);
    components.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wideUrl.c_str(), static_cast<DWORD>(wideUrl.size()), 0, &components))
        return false;
    if (!components.lpszHostName || components.dwHostNameLength == 0 || !components.lpszUrlPath ||
        components.dwUrlPathLength == 0)
        return false;

    parts.host.assign(components.lpszHostName, components.dwHostNameLength);
    parts.port = components.nPort;
    std::wstring extra;
    if (components.lpszExtraInfo && components.dwExtraInfoLength > 0)
        extra.assign(components.lpszExtraInfo, components.dwExtraInfoLength);
    parts.target = buildRequestTarget(
        std::wstring(components.lpszUrlPath, components.dwUrlPathLength), extra);
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

// The length the response declares for its body; false when it names none.
bool declaredBodyLength(HINTERNET request, std::uint64_t& length) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX))
        return false;
    length = 0;
    const wchar_t* c = text;
    if (*c < L'0' || *c > L'9') return false;
    for (; *c >= L'0' && *c <= L'9'; ++c) length = length * 10 + static_cast<std::uint64_t>(*c - L'0');
    return *c == L'\0';
}

// The owners are declared session, connection, request, so every return closes them
// in the order request, connection, session.
AttemptEnd attemptGet(const RequestParts& parts, std::vector<unsigned char>& out) {
    UniqueInternet session(WinHttpOpen(kBrowserUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return AttemptEnd::FailedAtOnce;
    WinHttpSetTimeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                       kReceiveTimeoutMs);

    UniqueInternet connection(WinHttpConnect(session.get(), parts.host.c_str(), parts.port, 0));
    if (!connection) return AttemptEnd::FailedAtOnce;

    UniqueInternet request(WinHttpOpenRequest(connection.get(), L"GET", parts.target.c_str(),
                                              nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              parts.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return AttemptEnd::FailedAtOnce;

    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_ALWAYS;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                     sizeof(redirectPolicy));
    // The receive timeout above does not bound the wait for the response headers: that
    // wait has a limit of its own (90 s by default on Windows, none at all under Wine),
    // so a server that accepts and never answers would hold the start for minutes or
    // for ever. It gets the same limit as every other receive.
    DWORD headerTimeout = kReceiveTimeoutMs;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headerTimeout,
                     sizeof(headerTimeout));
    WinHttpAddRequestHeaders(request.get(), kBrowserHeaderBlock,
                             static_cast<DWORD>(std::wcslen(kBrowserHeaderBlock)),
                             WINHTTP_ADDREQ_FLAG_ADD);

    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return AttemptEnd::FailedAfterContact;

    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                        WINHTTP_NO_HEADER_INDEX);
    if (status != 200 && status != 206) return AttemptEnd::FailedAfterContact;

    out.clear();
    // A body vector that grows by doubling holds up to twice the body, and copies it on
    // every step. The declared length sizes it once; a length beyond the cap (a server
    // that lies, or a body no patch reaches) falls back to growing as it comes.
    std::uint64_t declared = 0;
    const bool hasDeclared = declaredBodyLength(request.get(), declared);
    if (hasDeclared && declared <= kMaxPresizedBody && declared > out.capacity()) {
        // A machine short of memory refuses the reservation: grow as the body comes.
        try {
            out.reserve(static_cast<std::size_t>(declared));
        } catch (const std::bad_alloc&) {
        }
    }
    std::vector<unsigned char> buffer(kReadBufferSize, 0);
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available))
            return AttemptEnd::FailedAfterContact;
        if (available == 0) break;
        DWORD read = 0;
        const DWORD wanted = std::min<DWORD>(available, static_cast<DWORD>(kReadBufferSize));
        if (!WinHttpReadData(request.get(), buffer.data(), wanted, &read))
            return AttemptEnd::FailedAfterContact;
        // A body too large for this machine is a failed attempt, not a crash before
        // the game could be started.
        try {
            out.insert(out.end(), buffer.data(), buffer.data() + read);
        } catch (const std::bad_alloc&) {
            return AttemptEnd::FailedAfterContact;
        }
    }
    // The stack may report a connection closed mid-body as the end of the data: a body
    // shorter than the declared length is a broken transfer, not a file.
    if (hasDeclared && declared != out.size())
        return AttemptEnd::FailedAfterContact;
    return out.empty() ? AttemptEnd::FailedAfterContact : AttemptEnd::Success;
}

}  // namespace

bool httpGet(const std::string& url, std::vector<unsigned char>& out, std::int32_t attempts) {
    RequestParts parts;
    if (!crackRequestUrl(url, parts)) return false;
    if (attempts <= 0) return false;

    for (std::int32_t attempt = 0; attempt < attempts; ++attempt) {
        const AttemptEnd end = attemptGet(parts, out);
        if (end == AttemptEnd::Success) return true;
        if (end == AttemptEnd::FailedAfterContact) Sleep(kRetryPauseMs);
    }
    return false;
}
