// kernels_avx512.cpp - soften's row kernels built for AVX-512BW; used only when the processor
// has it (support/cpu.h chooses).

#include "support/cpu.h"

#ifdef GRAYFIX_X86
#include "transforms/soften/row_kernels.h"

constinit const SoftenKernels SoftenKernelsAvx512 = MakeSoftenKernels();
#endif
