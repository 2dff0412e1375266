// simd.cpp - run-time choice of the window filters' vector path.

#include "support/simd.h"

bool SimdPathAvailable(SimdPath path)
{
    switch (path) {
    case SimdBaseline: return true;
    case SimdAvx2: return Cpu().avx2;
    case SimdAvx512: return Cpu().avx2 && Cpu().avx512;
    }
    return false;
}

using SimdChoice = PathChoice<SimdPath, SimdAvx512, SimdPathAvailable>;

SimdPath BestSimdPath() { return SimdChoice::Best(); }
SimdPath GetSimdPath() { return SimdChoice::Current(); }
bool SetSimdPath(SimdPath path) { return SimdChoice::Set(path); }
