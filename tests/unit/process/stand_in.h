// Stand-in processes for the running-game tests: the sleeper helper copied under the
// chosen file name and started with the chosen command line.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A fresh folder under the temporary folder, emptied when it already exists.
std::wstring scratchFolder(const std::wstring& name);

// Copies the sleeper into folder\fileName (once) and returns the full path.
std::wstring placeSleeper(const std::wstring& folder, const std::wstring& fileName);

// The command line the launcher gives the game's runtime, for this executable and class.
std::wstring gameCommandLine(const std::wstring& exePath, const std::wstring& mainClass);

// A key nobody else's processes carry, so that a search in a shared prefix sees only the
// stand-ins of this test.
std::string uniqueMainClass(const std::string& name);

class StandIn {
public:
    StandIn() = default;
    ~StandIn();
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    // Starts it without a console and, for the sleeper, waits until it is fully started.
    bool start(const std::wstring& commandLine, bool isSleeper = true);
    // Terminates it (exit code 99) if still running, waits, and lets go of the handle, so
    // that its id is no longer in use.
    void end();

    HANDLE handle() const { return process_; }
    std::uint32_t id() const { return id_; }
    bool running() const;
    // Exit code once it has ended; STILL_ACTIVE while running.
    DWORD exitCode() const;

private:
    HANDLE process_ = nullptr;
    std::uint32_t id_ = 0;
};

// The ids of a fresh snapshot that are among `ids`, in snapshot order.
std::vector<std::uint32_t> inSnapshotOrder(const std::vector<std::uint32_t>& ids);
