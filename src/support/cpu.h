// cpu.h - the processor's features, asked once per run, and the one place where every
// kernel family (window filters and row conversions, CRC-32, normal variates) picks its
// processor path: what each path needs, the default, and the test hook that forces one.
#pragma once

#include <atomic>

// Only x86-64 builds by GCC or Clang have processor-specific paths; elsewhere every
// feature below reads false and the portable paths are the only ones. Files named
// *_avx2.cpp and *_avx512.cpp get their target flags from the build by their name.
#if defined(__x86_64__) && defined(__GNUC__)
#define GRAYFIX_X86 1
#endif

struct ProcessorFeatures {
    bool avx2 = false;
    bool avx512 = false;    // AVX-512 F, BW and VL, and BMI2
    bool avx512dq = false;  // AVX-512 F and DQ
    bool clmul = false;     // PCLMULQDQ with SSSE3 and SSE4.1
    bool vpclmulqdq = false;
};

// The answers for this processor (and operating system: a wide register set
// counts only when the system saves it).
const ProcessorFeatures& Cpu();

// The paths of each family, from the portable one (0, always available) to the widest.
// All paths of a family give identical results.
enum SimdPath {     // the window filters and the image store's 16-bit row conversions
    SimdBaseline,   // the build's own target: SSE2 on any x86-64, the native set elsewhere
    SimdAvx2,       // 256-bit AVX2
    SimdAvx512,     // 512-bit AVX-512 F/BW/VL
};
enum Crc32Path {    // whole-buffer CRC-32
    Crc32Portable,  // slicing-by-8 tables
    Crc32Clmul,     // 128-bit carry-less multiply folding (PCLMULQDQ, SSE4.1)
    Crc32Vclmul,    // 512-bit folding (VPCLMULQDQ, AVX-512 F/BW/VL)
};
enum GaussPath {    // batches of normal variates
    GaussPortable,
    GaussAvx512,    // AVX-512 F/DQ
};

// Whether the processor and the build have the path.
bool PathAvailable(SimdPath path);
bool PathAvailable(Crc32Path path);
bool PathAvailable(GaussPath path);

namespace cpu_detail {
enum Family { Simd, Crc32, Gauss, Families };
constexpr Family FamilyOf(SimdPath) { return Simd; }
constexpr Family FamilyOf(Crc32Path) { return Crc32; }
constexpr Family FamilyOf(GaussPath) { return Gauss; }
constexpr int Widest[Families] = {SimdAvx512, Crc32Vclmul, GaussAvx512};
// -1 until first asked; atomic, since the worker threads may be the first to ask
extern std::atomic<int> Current[Families];
int Settle(Family family);     // the widest available path, now current
}  // namespace cpu_detail

// The widest available path of the family: the default.
template <typename Path> Path BestPath()
{
    for (int path = cpu_detail::Widest[cpu_detail::FamilyOf(Path{})]; path > 0; --path)
        if (PathAvailable((Path)path)) return (Path)path;
    return (Path)0;
}

// The current path of the family.
template <typename Path> Path GetPath()
{
    auto family = cpu_detail::FamilyOf(Path{});
    int path = cpu_detail::Current[family].load(std::memory_order_relaxed);
    return (Path)(path >= 0 ? path : cpu_detail::Settle(family));
}

// Makes the path current for its family (tests force each path in turn). Returns false,
// and changes nothing, when the processor or the build lacks it.
template <typename Path> bool SetPath(Path path)
{
    if (!PathAvailable(path)) return false;
    cpu_detail::Current[cpu_detail::FamilyOf(path)].store((int)path, std::memory_order_relaxed);
    return true;
}

// The table (of kernels built once per vector path) of the current SimdPath, of the
// baseline table and those built for AVX2 and AVX-512 (x86-64 only: elsewhere the macro
// drops their names). Internal linkage, as the files built for wider targets include
// this header too.
#ifdef GRAYFIX_X86
namespace {
template <typename Table>
const Table& TableForPath(const Table& baseline, const Table& avx2, const Table& avx512)
{
    SimdPath path = GetPath<SimdPath>();
    return path == SimdAvx512 ? avx512 : path == SimdAvx2 ? avx2 : baseline;
}
}  // namespace
#define GRAYFIX_PATH_TABLE(baseline, avx2, avx512) TableForPath(baseline, avx2, avx512)
#else
#define GRAYFIX_PATH_TABLE(baseline, avx2, avx512) (baseline)
#endif
