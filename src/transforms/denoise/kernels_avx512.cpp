// kernels_avx512.cpp - denoise's kernels built for AVX-512BW; used only when the
// processor has it (support/cpu.h chooses).

#include "support/cpu.h"

#ifdef GRAYFIX_X86
#include "transforms/denoise/kernels_table.h"

constinit const DenoiseKernels DenoiseKernelsAvx512 = MakeDenoiseKernels();
#endif
