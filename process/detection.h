// Finding the running Java processes of one game by the main class on their command
// lines, read out of each process's memory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Ids of the java.exe/javaw.exe processes (other than this one) whose command line holds
// `key` in any case, in snapshot order. True when at least one matched.
bool findRunningGameProcesses(const std::string& key, std::vector<std::uint32_t>& pids);

// Opens the process for reading and reads its command line, up to the first NUL.
bool readProcessCommandLine(std::uint32_t processId, std::wstring& commandLine);

// Reads the command line through a handle opened with at least
// PROCESS_QUERY_INFORMATION | PROCESS_VM_READ.
bool readCommandLineThrough(HANDLE process, std::wstring& commandLine);

// Whether the process behind this handle is, right now, a running Java process of the
// game whose main class is `key`. The handle needs PROCESS_QUERY_INFORMATION,
// PROCESS_VM_READ and SYNCHRONIZE.
bool isRunningCopyOfGame(HANDLE process, const std::string& key);
