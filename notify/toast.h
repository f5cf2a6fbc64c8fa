// One granted notification turned into a Windows toast.
#pragma once

#include <cstdint>
#include <string>

// Replaces & < > " ' by their XML entities; every other UTF-16 unit is copied as is.
std::wstring xmlEscape(const std::wstring& text);

// The toast document: two text lines and, when logo is not empty, the logo image.
// logo is the resolved path of an existing file, or empty for none.
std::wstring buildToastXml(const std::wstring& title, const std::wstring& message,
                           const std::wstring& logo);

// Whether the result of entering the Windows Runtime lets delivery go on: success, or
// the thread already being in the single-threaded apartment (RPC_E_CHANGED_MODE).
bool runtimeEntryLetsDeliveryGoOn(std::int32_t hresult);

#ifdef _WIN32
// Shows the toast under the identity chosen from appName and gameName. True when the
// toast notifier accepted it.
bool deliverToast(const std::wstring& title, const std::wstring& message,
                  const std::wstring& appName, const std::wstring& logoPath,
                  const std::wstring& iconPath, const std::wstring& gameName);
#endif
