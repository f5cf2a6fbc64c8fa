// The shape of the launcher's HTTP requests: a desktop browser's user agent and
// header block, and the request target built from the cracked URL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern const wchar_t* const kBrowserUserAgent;
// Four header lines, each ended by CR LF.
extern const wchar_t* const kBrowserHeaderBlock;

inline constexpr std::uint32_t kResolveTimeoutMs = 15000;
inline constexpr std::uint32_t kConnectTimeoutMs = 15000;
inline constexpr std::uint32_t kSendTimeoutMs = 15000;
inline constexpr std::uint32_t kReceiveTimeoutMs = 30000;
inline constexpr std::uint32_t kRetryPauseMs = 500;
inline constexpr std::size_t kReadBufferSize = 524288;

// The URL path followed directly by the extra information (the query with its '?').
std::wstring buildRequestTarget(const std::wstring& urlPath, const std::wstring& extraInfo);

#ifdef _WIN32
// True when an attempt got status 200 or 206 with a non-empty body; out then holds
// exactly that body. A failed attempt that reached the server pauses before the next.
bool httpGet(const std::string& url, std::vector<unsigned char>& out, std::int32_t attempts);
#endif
