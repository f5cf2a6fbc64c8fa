// The updater copy's mode: wait for the old launcher to end, then move the new build
// over it.
#pragma once

#include <cstdint>
#include <string>

// commandLine: the command-line tail (program path excluded); may be null.
bool parseApplyUpdateArgs(const wchar_t* commandLine, std::wstring& newFilePath,
                          std::wstring& targetPath, std::uint32_t& processId);

// The whole command line of an updater process, program path included; its tail is
// what parseApplyUpdateArgs recognises.
std::wstring buildApplyUpdateCommandLine(const std::wstring& updaterPath,
                                         const std::wstring& newFilePath,
                                         const std::wstring& targetPath, std::uint32_t processId);

#ifdef _WIN32
int runApplyUpdate(const std::wstring& newFilePath, const std::wstring& targetPath,
                   std::uint32_t processId);
#endif
