// simd.h - the vector instruction set of the window filters (denoise 3x3/5x5, soften)
// and of the image store's 16-bit row conversions, chosen once per run from what the
// processor offers.
#pragma once

#include "support/cpu.h"

// The wide kernels exist only in x86-64 builds by GCC or Clang, which compile them with
// per-file target flags (see CMakeLists.txt); elsewhere only the baseline path exists.
#ifdef GRAYFIX_CPU_X86
#define GRAYFIX_SIMD_X86 1
#endif

// The same kernels are compiled once per path, with wider registers on the later ones;
// they give identical results. Tests force each available path in turn.
enum SimdPath {
    SimdBaseline,  // the build's own target: SSE2 on any x86-64, the native set elsewhere
    SimdAvx2,      // 256-bit AVX2 (x86-64 only)
    SimdAvx512,    // 512-bit AVX-512 F/BW/VL (x86-64 only)
};
bool SimdPathAvailable(SimdPath path);
SimdPath BestSimdPath();  // the default: the widest available
SimdPath GetSimdPath();
// Returns false (and changes nothing) when the processor or the build lacks the path.
bool SetSimdPath(SimdPath path);

// The table of kernels built for this run's path, of the baseline table and those built
// for AVX2 and AVX-512 (x86-64 only: elsewhere the macro drops their names). Internal
// linkage, as the files built for wider targets include this header too.
#ifdef GRAYFIX_SIMD_X86
namespace {
template <typename Table>
const Table& TableForSimdPath(const Table& baseline, const Table& avx2, const Table& avx512)
{
    SimdPath path = GetSimdPath();
    return path == SimdAvx512 ? avx512 : path == SimdAvx2 ? avx2 : baseline;
}
}  // namespace
#define GRAYFIX_SIMD_TABLE(baseline, avx2, avx512) TableForSimdPath(baseline, avx2, avx512)
#else
#define GRAYFIX_SIMD_TABLE(baseline, avx2, avx512) (baseline)
#endif
