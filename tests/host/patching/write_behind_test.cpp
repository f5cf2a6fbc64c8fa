#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <thread>
#include <vector>

#include "patching/write_behind.h"

namespace {

FileStep writeStep(std::size_t bytes, unsigned char mark) {
    FileStep step;
    step.bytes.assign(bytes, mark);
    return step;
}

TEST(WriteBehind, RunsEveryStepInOrderOnAnotherThread) {
    std::vector<unsigned char> seen;
    std::thread::id runner;
    {
        WriteBehind files(3, 64, [&](FileStep& step) {
            runner = std::this_thread::get_id();
            seen.push_back(step.bytes.front());
        });
        for (int i = 0; i < 5000; ++i) files.queue(writeStep(1 + i % 40, static_cast<unsigned char>(i)));
        files.finish();
    }
    ASSERT_EQ(seen.size(), 5000u);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(seen[i], static_cast<unsigned char>(i)) << i;
    EXPECT_NE(runner, std::this_thread::get_id());
}

// A slow file side must hold the inflating side back, or the waiting batches would
// take as much memory as the patch.
TEST(WriteBehind, QueueWaitsWhileTheAllowanceIsUsed) {
    struct Case {
        std::size_t maxSteps, maxBytes, stepBytes;
    };
    for (const Case c : {Case{4, 1 << 20, 100}, Case{1000, 4096, 1000}}) {
        std::atomic<std::size_t> ranSteps{0};
        std::size_t worst = 0;
        WriteBehind files(c.maxSteps, c.maxBytes, [&](FileStep&) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            ++ranSteps;
        });
        for (std::size_t queued = 1; queued <= 60; ++queued) {
            files.queue(writeStep(c.stepBytes, 1));
            worst = std::max(worst, queued - ranSteps.load());
        }
        files.finish();
        EXPECT_EQ(ranSteps.load(), 60u);
        // What waits, plus the one step being run.
        const std::size_t allowed = std::min(c.maxSteps, c.maxBytes / c.stepBytes) + 1;
        EXPECT_LE(worst, allowed) << c.maxSteps << " steps, " << c.maxBytes << " bytes";
    }
}

TEST(WriteBehind, StepLargerThanTheAllowanceStillRuns) {
    std::size_t ran = 0;
    WriteBehind files(2, 16, [&](FileStep&) { ++ran; });
    files.queue(writeStep(8, 1));
    files.queue(writeStep(1000, 2));
    files.queue(writeStep(8, 3));
    files.finish();
    EXPECT_EQ(ran, 3u);
}

TEST(WriteBehind, AfterFinishStepsRunInTheCaller) {
    std::thread::id runner;
    WriteBehind files(2, 16, [&](FileStep&) { runner = std::this_thread::get_id(); });
    files.finish();
    files.queue(writeStep(1, 1));
    EXPECT_EQ(runner, std::this_thread::get_id());
}

}  // namespace
