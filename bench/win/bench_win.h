// Small pieces the benchmark's Windows programs share: a clock, the process's memory
// counters, reading a whole file, and one JSON line of results on stdout.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

inline double benchNow() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct BenchMemory {
    double workingSet = 0, peakWorkingSet = 0, pagefile = 0, peakPagefile = 0;
};

inline BenchMemory benchMemory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    BenchMemory m;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
        m.workingSet = static_cast<double>(counters.WorkingSetSize);
        m.peakWorkingSet = static_cast<double>(counters.PeakWorkingSetSize);
        m.pagefile = static_cast<double>(counters.PagefileUsage);
        m.peakPagefile = static_cast<double>(counters.PeakPagefileUsage);
    }
    return m;
}

inline bool benchReadFile(const std::wstring& path, std::vector<unsigned char>& out) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) != 0;
    if (ok) {
        out.resize(static_cast<std::size_t>(size.QuadPart));
        std::size_t done = 0;
        while (ok && done < out.size()) {
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 26));
            ok = ReadFile(file, out.data() + done, want, &got, nullptr) && got > 0;
            done += got;
        }
    }
    CloseHandle(file);
    return ok;
}

inline void benchPrintMemory(const char* prefix, const BenchMemory& m) {
    std::printf("\"%s_ws\": %.0f, \"%s_peak_ws\": %.0f, \"%s_pf\": %.0f, \"%s_peak_pf\": %.0f", prefix,
                m.workingSet, prefix, m.peakWorkingSet, prefix, m.pagefile, prefix, m.peakPagefile);
}
