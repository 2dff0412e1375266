// kernels_avx2.cpp - soften's row kernels built for AVX2; used only when the processor
// has it (support/cpu.h chooses).

#include "support/cpu.h"

#ifdef GRAYFIX_X86
#include "transforms/soften/row_kernels.h"

constinit const SoftenKernels SoftenKernelsAvx2 = MakeSoftenKernels();
#endif
