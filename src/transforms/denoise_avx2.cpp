// denoise_avx2.cpp - denoise's full-window row kernels built for AVX2; used only when
// the processor has it (support/simd.h chooses).

#include "support/simd.h"

#ifdef GRAYFIX_SIMD_X86
#include "transforms/denoise_kernels.h"

constinit const DenoiseKernels DenoiseKernelsAvx2 = MakeDenoiseKernels();
#endif
