// cpu.cpp - the processor's features, from the compiler's own query.

#include "support/cpu.h"

const ProcessorFeatures& Cpu()
{
    static const ProcessorFeatures features = [] {
        ProcessorFeatures cpu;
#ifdef GRAYFIX_CPU_X86
        // __builtin_cpu_supports also checks that the operating system saves the wide registers.
        __builtin_cpu_init();
        cpu.avx2 = __builtin_cpu_supports("avx2");
        bool avx512f = __builtin_cpu_supports("avx512f");
        cpu.avx512 = avx512f && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
        cpu.avx512dq = avx512f && __builtin_cpu_supports("avx512dq");
        cpu.clmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3")
                 && __builtin_cpu_supports("sse4.1");
        cpu.vpclmulqdq = __builtin_cpu_supports("vpclmulqdq");
#endif
        return cpu;
    }();
    return features;
}
