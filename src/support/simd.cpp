// simd.cpp - run-time choice of the window filters' vector path.

#include "support/simd.h"

bool SimdPathAvailable(SimdPath path)
{
#ifdef GRAYFIX_SIMD_X86
    // __builtin_cpu_supports also checks that the operating system saves the wide registers.
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return (bool)__builtin_cpu_supports("avx2");
    }();
    static const bool avx512 = avx2 && __builtin_cpu_supports("avx512f")
                            && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
    switch (path) {
    case SimdBaseline: return true;
    case SimdAvx2: return avx2;
    case SimdAvx512: return avx512;
    }
    return false;
#else
    return path == SimdBaseline;
#endif
}

SimdPath BestSimdPath()
{
    return SimdPathAvailable(SimdAvx512) ? SimdAvx512
         : SimdPathAvailable(SimdAvx2)   ? SimdAvx2
                                         : SimdBaseline;
}

static SimdPath& CurrentPath()
{
    static SimdPath path = BestSimdPath();
    return path;
}

SimdPath GetSimdPath() { return CurrentPath(); }

bool SetSimdPath(SimdPath path)
{
    if (!SimdPathAvailable(path)) return false;
    CurrentPath() = path;
    return true;
}
