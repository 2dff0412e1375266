// cpu.cpp - the processor's features, from the compiler's own query, and what each
// processor path needs of them.

#include "support/cpu.h"

const ProcessorFeatures& Cpu()
{
    static const ProcessorFeatures features = [] {
        ProcessorFeatures cpu;
#ifdef GRAYFIX_X86
        // __builtin_cpu_supports also checks that the operating system saves the wide registers.
        __builtin_cpu_init();
        cpu.avx2 = __builtin_cpu_supports("avx2");
        bool avx512f = __builtin_cpu_supports("avx512f");
        cpu.avx512 = avx512f && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")
                  && __builtin_cpu_supports("bmi2");  // every such processor has it
        cpu.avx512dq = avx512f && __builtin_cpu_supports("avx512dq");
        cpu.clmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3")
                 && __builtin_cpu_supports("sse4.1");
        cpu.vpclmulqdq = __builtin_cpu_supports("vpclmulqdq");
#endif
        return cpu;
    }();
    return features;
}

// Every *_avx512.cpp file is built for AVX2, AVX-512 F/BW/VL and BMI2 (CMakeLists.txt), so each
// AVX-512 path needs all of them, and the variates' path DQ as well.
bool PathAvailable(SimdPath path)
{
    switch (path) {
    case SimdBaseline: return true;
    case SimdAvx2: return Cpu().avx2;
    case SimdAvx512: return Cpu().avx2 && Cpu().avx512;
    }
    return false;
}

bool PathAvailable(Crc32Path path)
{
    switch (path) {
    case Crc32Portable: return true;
    case Crc32Clmul: return Cpu().clmul;
    case Crc32Vclmul: return Cpu().clmul && Cpu().vpclmulqdq && Cpu().avx512;
    }
    return false;
}

bool PathAvailable(GaussPath path)
{
    switch (path) {
    case GaussPortable: return true;
    case GaussAvx512: return Cpu().avx2 && Cpu().avx512 && Cpu().avx512dq;
    }
    return false;
}

namespace cpu_detail {
std::atomic<int> Current[Families] = {-1, -1, -1};

int Settle(Family family)
{
    int path = 0;
    switch (family) {
    case Simd: path = BestPath<SimdPath>(); break;
    case Crc32: path = BestPath<Crc32Path>(); break;
    case Gauss: path = BestPath<GaussPath>(); break;
    case Families: return 0;
    }
    Current[family].store(path, std::memory_order_relaxed);
    return path;
}
}  // namespace cpu_detail
