// soften_avx2.cpp - soften's row kernels built for AVX2; used only when the processor
// has it (support/simd.h chooses).

#include "support/simd.h"

#ifdef GRAYFIX_SIMD_X86
#include "transforms/soften_kernels.h"

constinit const SoftenKernels SoftenKernelsAvx2 = MakeSoftenKernels();
#endif
