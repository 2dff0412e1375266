// denoise_avx512.cpp - denoise's full-window row kernels built for AVX-512BW; used only when
// the processor has it (support/simd.h chooses).

#include "support/simd.h"

#ifdef GRAYFIX_SIMD_X86
#include "transforms/denoise_kernels.h"

constinit const DenoiseKernels DenoiseKernelsAvx512 = MakeDenoiseKernels();
#endif
