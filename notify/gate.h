// Every desktop notification of the launcher is requested here. Requests are spaced
// within the process and across the user's launcher processes; refused ones are dropped.
#pragma once

#include <string>

bool showNotification(const std::wstring& title, const std::wstring& message,
                      const std::wstring& appName, const std::wstring& logoPath,
                      const std::wstring& iconPath, const std::wstring& gameName);
