// The file steps of an extraction, run on a thread of their own in the order they were
// queued, so that inflating the next piece of a patch overlaps writing the last one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct FileStep {
    enum class Kind { MakeFolder, BeginFile, Write, EndFile };
    Kind kind = Kind::Write;
    std::wstring path;                   // MakeFolder: the folder; BeginFile: the target
    std::uint16_t dosDate = 0;           // BeginFile: the entry's time stamp
    std::uint16_t dosTime = 0;
    std::vector<unsigned char> bytes;    // Write, EndFile: bytes for the open file
    bool inflated = false;               // EndFile: the entry passed its size and CRC checks
};

// At most maxBytes of step buffers (their capacity) and maxSteps steps wait at a time;
// queue() waits beyond that, which bounds the memory the waiting steps hold. The waiting
// side is woken only once the queue has drained to half, since every wake-up is a call
// into the system (a server round trip under Wine). A machine that cannot start a thread
// runs each step at once, in the caller.
class WriteBehind {
public:
    using Runner = std::function<void(FileStep&)>;

    WriteBehind(std::size_t maxSteps, std::size_t maxBytes, Runner run);
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    void queue(FileStep step);
    // Runs every step queued so far and ends the thread; later steps run in the caller.
    void finish();

private:
    static std::size_t weight(const FileStep& step) { return step.bytes.capacity(); }
    bool full(std::size_t incoming) const;
    void loop();

    const std::size_t maxSteps_;
    const std::size_t maxBytes_;
    Runner run_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable room_;
    std::deque<FileStep> pending_;
    std::size_t pendingBytes_ = 0;
    bool queuerWaiting_ = false;
    bool workerWaiting_ = false;
    bool closing_ = false;
    std::thread worker_;
};
