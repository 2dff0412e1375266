// image_avx2.cpp - the image store's row conversions built for AVX2; used only when
// the processor has it (support/cpu.h chooses).

#include "support/cpu.h"

#ifdef GRAYFIX_X86
#include "image/row_kernels.h"

constinit const ImgRowKernels ImgRowKernelsAvx2 = MakeImgRowKernels();
#endif
