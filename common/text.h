// Text helpers shared by every subsystem. Narrow strings hold UTF-8; wide strings
// hold file-system paths and everything shown to the user.
#pragma once

#include <cstdint>
#include <string>

std::string trimBlanksAndQuotes(const std::string& text);
std::string toLowerAscii(const std::string& text);

// Base-10 signed 32-bit conversion as the C library's strtol reads it: leading
// white space, an optional sign, then digits up to the first non-digit. False when
// there is no digit or the value does not fit in 32 bits.
bool parseLeadingInt32(const std::string& text, std::int32_t& value);

#ifdef _WIN32
std::string toUtf8(const std::wstring& text);
std::wstring fromUtf8(const std::string& text);
#endif
