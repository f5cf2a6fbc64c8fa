// The staging tests let this test binary stand for the running launcher, so the updater
// copy that staging starts is a copy of this binary. Started with the apply-update
// command line it records how it was started, and ends before any test runs.
#pragma once

#include <windows.h>

#include <string>

// Path of the record file; the updater inherits it through the environment.
inline constexpr const wchar_t* kUpdaterRecordVariable = L"QUOLVA_UPDATER_RECORD";
// "<handle value>;<event name>" of an inheritable event made by the staging process:
// the updater reports whether that handle value names the same event in its own table.
inline constexpr const wchar_t* kInheritProbeVariable = L"QUOLVA_INHERIT_PROBE";

struct UpdaterRecord {
    std::wstring commandLine;
    DWORD startupFlags = 0;
    DWORD showWindow = 0;
    bool inheritedProbe = false;
    DWORD processId = 0;
};

bool readUpdaterRecord(const std::wstring& path, UpdaterRecord& record);
