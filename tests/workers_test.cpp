// workers_test.cpp - the thread count a run takes, and a job's parts each run once, on
// threads or, when none can be started, on the calling thread.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/workers.h"
#include "test_util.h"

namespace {

// Runs parts on RunParts and returns how often each ran.
std::vector<int> RunCounts(int parts)
{
    std::vector<std::atomic<int>> runs((std::size_t)parts);
    RunParts(parts, [&](int part) { ++runs[(std::size_t)part]; });
    return std::vector<int>(runs.begin(), runs.end());
}

TEST(WorkersTest, EveryPartRunsOnce)
{
    for (int parts = 0; parts <= 9; ++parts) EXPECT_EQ(RunCounts(parts), std::vector<int>((std::size_t)parts, 1));
}

// A part that throws on another thread throws from RunParts once every part has run.
TEST(WorkersTest, ThrowsWhatAPartThrew)
{
    std::atomic<int> ran{0};
    EXPECT_THROW(RunParts(3,
                          [&](int part) {
                              ++ran;
                              if (part == 2) throw std::runtime_error("part 2");
                          }),
                 std::runtime_error);
    EXPECT_EQ(ran, 3);
}

// GRAYFIX_THREADS takes a whole number from 1 to 64; anything else leaves the default, as
// does a forced count of 0. A small image takes one part unless a test forces more.
TEST(WorkersTest, CountFromEnvironmentOrForced)
{
    unsetenv("GRAYFIX_THREADS");
    int fallback = WorkerThreads();
    EXPECT_GE(fallback, 1);
    EXPECT_LE(fallback, 8);
    for (auto [text, count] : {std::pair{"3", 3}, {"64", 64}, {"1", 1}, {"0", fallback}, {"65", fallback},
                               {"-2", fallback}, {"2x", fallback}, {"", fallback}, {"x", fallback}}) {
        setenv("GRAYFIX_THREADS", text, 1);
        EXPECT_EQ(WorkerThreads(), count) << '"' << text << '"';
    }
    setenv("GRAYFIX_THREADS", "4", 1);
    EXPECT_EQ(PartsFor(100), 1);
    EXPECT_EQ(PartsFor(3LL << 18), 3);
    EXPECT_EQ(PartsFor(1LL << 30), 4);
    EXPECT_FALSE(SetWorkerThreads(65));
    EXPECT_FALSE(SetWorkerThreads(-1));
    EXPECT_TRUE(SetWorkerThreads(5));
    EXPECT_EQ(WorkerThreads(), 5);
    EXPECT_EQ(PartsFor(100), 5);
    SetWorkerThreads(0);
    EXPECT_EQ(WorkerThreads(), 4);
    unsetenv("GRAYFIX_THREADS");
}

// With too little address space for a thread's stack, the parts still all run, on the
// calling thread.
TEST(WorkersDeathTest, PartsRunWithoutThreads)
{
#if defined(__SANITIZE_ADDRESS__) || defined(GRAYFIX_EMULATOR)
    GTEST_SKIP() << "an address-space limit binds the sanitizer's or the emulator's reservations";
#endif
    EXPECT_EXIT(
        {
            LeaveAddressSpace(std::size_t(1) << 20);
            std::vector<int> runs = RunCounts(4);
            std::exit(runs == std::vector<int>(4, 1) ? 3 : 42);
        },
        testing::ExitedWithCode(3), "");
}

}  // namespace
