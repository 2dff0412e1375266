// workers.h - sharing one transform's work among the threads this process may run on:
// how many to use, and running the parts of a job on them. Every part gets the same
// result on any number of threads; the number changes only the time.
#pragma once

// The most threads a run takes, and parts a job is cut into.
constexpr int MostWorkers = 64;

// Threads a run may use: GRAYFIX_THREADS when it is a number from 1 to MostWorkers, else the
// processors this process may run on (a cluster job's share, a taskset), at most 8.
int WorkerThreads();

// Parts to cut a job over this many pixels into: WorkerThreads, fewer on a small image,
// where starting a thread would cost more than it saves.
int PartsFor(long long pixels);

// Forces the count that WorkerThreads and PartsFor return, at any size (tests run each
// count); 0 restores the default. Returns false, and changes nothing, for a count outside
// 0 .. MostWorkers.
bool SetWorkerThreads(int count);

// Runs part(0) .. part(parts - 1) (at most MostWorkers), each on a thread of its own, the
// first on the calling thread, and returns when all are done. A part no thread could be started for (a
// process or address-space limit) runs on the calling thread after the others, so the
// job is done either way. The parts must not stop the run: allocate, and check, first.
// An exception a part throws is thrown again once all have ended.
void RunParts(int parts, void (*part)(void* context, int part), void* context);

// The same for any callable part(int).
template <typename Part> void RunParts(int parts, const Part& part)
{
    RunParts(parts, [](void* context, int i) { (*(const Part*)context)(i); }, (void*)&part);
}
