// Decisions of the running-game search that need no system call: which processes are
// candidates, which command lines are read, and which of them belong to the game.
#pragma once

#include <cstdint>
#include <string>

// "java.exe" or "javaw.exe" as the whole name, ASCII letters compared without case
// (what _wcsicmp does in the C locale).
bool isJavaProcessName(const std::wstring& exeName);

// The idle and system processes, which are never opened.
bool isSystemProcessId(std::uint32_t processId);

// The command line's UNICODE_STRING as read from the target: an empty, missing or
// implausibly long (32768 bytes or more) command line is not read.
bool isReadableCommandLine(std::uint16_t lengthBytes, std::uint64_t bufferAddress);

// Plain substring test on the lower-cased command line; lowerKey is already lower-cased.
bool commandLineHasKey(const std::string& commandLineUtf8, const std::string& lowerKey);

// Last component of a path, after the final backslash or slash.
std::wstring fileNameOfPath(const std::wstring& path);

// Whether a process, known by its image path and command line, is still a running copy
// of the game whose main class is `key` (any case): a Java executable whose command line
// holds the class. Decides whether an id found earlier may be terminated now.
bool isRunningCopy(const std::wstring& imagePath, const std::string& commandLineUtf8,
                   const std::string& key);
