// soften_avx512.cpp - soften's row kernels built for AVX-512BW; used only when the processor
// has it (support/simd.h chooses).

#include "support/simd.h"

#ifdef GRAYFIX_SIMD_X86
#include "transforms/soften_kernels.h"

constinit const SoftenKernels SoftenKernelsAvx512 = MakeSoftenKernels();
#endif
