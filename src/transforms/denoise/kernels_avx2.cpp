// kernels_avx2.cpp - denoise's kernels built for AVX2; used only when the processor has
// it (support/cpu.h chooses).

#include "support/cpu.h"

#ifdef GRAYFIX_X86
#include "transforms/denoise/kernels_table.h"

constinit const DenoiseKernels DenoiseKernelsAvx2 = MakeDenoiseKernels();
#endif
