// Pieces every unit test binary under Wine shares: a scoped environment change and
// removal of scratch trees.
#pragma once

#include <windows.h>

#include <string>

// Sets (or, with nullptr, clears) one environment variable until the end of the scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value);
    ScopedEnvironment(const wchar_t* name, const std::wstring& value)
        : ScopedEnvironment(name, value.c_str()) {}
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::wstring name_;
    std::wstring old_;
    bool had_ = false;
};

// Removes a file or a folder with everything below it; a trailing backslash is allowed.
// Read-only files are made writable first, so a test that protected one cleans up too.
void removeTree(const std::wstring& path);
bool pathExists(const std::wstring& path);
