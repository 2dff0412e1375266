// workers.cpp - the thread count and the running of a job's parts.

#include "support/workers.h"

#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <thread>
#include <vector>

#include "driver/console.h"

static int Forced = 0;

bool SetWorkerThreads(int count)
{
    if (count < 0 || count > MostWorkers) return false;
    Forced = count;
    return true;
}

int WorkerThreads()
{
    if (Forced > 0) return Forced;
    if (const char* asked = std::getenv("GRAYFIX_THREADS")) {
        char* end;
        long count = std::strtol(asked, &end, 10);
        if (end != asked && *end == '\0' && count >= 1 && count <= MostWorkers) return (int)count;
    }
    // Beyond a few threads the memory bus, not the processors, sets the pace.
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return 1;
    int count = CPU_COUNT(&allowed);
    return count < 1 ? 1 : count > 8 ? 8 : count;
}

int PartsFor(long long pixels)
{
    constexpr long long PixelsPerPart = 1 << 18;  // some milliseconds of work at least
    if (Forced > 0) return Forced;
    long long parts = std::min<long long>(pixels / PixelsPerPart, WorkerThreads());
    return parts < 1 ? 1 : (int)parts;
}

void RunParts(int parts, void (*part)(void* context, int part), void* context)
{
    CHECK(parts <= MostWorkers);
    if (parts < 1) return;
    // What a part throws (the Python module's stop handler throws) is thrown again here
    // once every thread has ended, the first part's first: as one thread would meet it.
    std::exception_ptr thrown[MostWorkers];
    auto run = [&](int i) {
        try {
            part(context, i);
        } catch (...) {
            thrown[i] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    int started = 1;
    try {
        threads.reserve((std::size_t)parts);
        for (; started < parts; ++started) threads.emplace_back(run, started);
    } catch (const std::exception&) {
        // std::system_error when no thread could be made, or no room for the list
    }
    run(0);
    for (std::thread& thread : threads) thread.join();
    for (int left = started; left < parts; ++left) run(left);
    for (int i = 0; i < parts; ++i)
        if (thrown[i]) std::rethrow_exception(thrown[i]);
}
