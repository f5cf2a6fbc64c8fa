// Shared pieces of the notification tests under Wine: scoped environment changes,
// scratch folders, file contents, and the records of the toast recorder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_files.h"

// A fresh folder under the temporary folder, removed with everything in it at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

bool readBytes(const std::wstring& path, std::string& bytes);
bool writeBytes(const std::wstring& path, const std::string& bytes);

std::uint64_t unixMillisNow();

// One toast the recorder saw, from its JSON line.
struct RecordedToast {
    std::wstring appId;
    std::wstring xml;
    std::wstring processAppId;
};
std::vector<RecordedToast> readRecordedToasts(const std::wstring& logPath);

// True when the recorder answers for the toast manager class in this prefix.
bool toastRecorderRegistered();

std::wstring toWide(const std::string& utf8);
