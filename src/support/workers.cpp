// workers.cpp - the thread count and the running of a job's parts.

#include "support/workers.h"

#include <sched.h>

#include <cstdlib>
#include <exception>
#include <thread>
#include <vector>

static int Forced = 0;

bool SetWorkerThreads(int count)
{
    if (count < 0 || count > 64) return false;
    Forced = count;
    return true;
}

int WorkerThreads()
{
    if (Forced > 0) return Forced;
    if (const char* asked = std::getenv("GRAYFIX_THREADS")) {
        char* end;
        long count = std::strtol(asked, &end, 10);
        if (end != asked && *end == '\0' && count >= 1 && count <= 64) return (int)count;
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
    long long parts = pixels / PixelsPerPart;
    return parts < 1 ? 1 : parts < WorkerThreads() ? (int)parts : WorkerThreads();
}

void RunParts(int parts, void (*part)(void* context, int part), void* context)
{
    std::vector<std::thread> threads;
    int started = 1;
    try {
        threads.reserve((std::size_t)parts);
        for (; started < parts; ++started) threads.emplace_back(part, context, started);
    } catch (const std::exception&) {
        // std::system_error when no thread could be made, or no room for the list
    }
    if (parts > 0) part(context, 0);
    for (std::thread& thread : threads) thread.join();
    for (int left = started; left < parts; ++left) part(context, left);
}
