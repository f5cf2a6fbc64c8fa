// File helpers shared by the self-update tests: scratch folders with blanks in their
// names, whole-file reads and writes, waiting for a file another process writes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/test_files.h"

// An empty folder "<temp>\quolva selfupdate\<name>\" (trailing backslash included).
std::wstring freshScratchFolder(const std::wstring& name);

std::vector<unsigned char> readBytes(const std::wstring& path);
bool writeBytes(const std::wstring& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> bytesOf(const std::string& text);

// Polls until the file exists (it is written elsewhere and then renamed into place).
bool waitForFile(const std::wstring& path, DWORD timeoutMs);

// Seconds from a to b (negative when b is earlier).
double secondsBetween(const FILETIME& a, const FILETIME& b);
