// denoise_simd.h - the table of denoise's row kernels, one table per vector path; the
// kernels themselves are in denoise_kernels.h and denoise_columns.h.
#pragma once

#include <cstdint>

#include "support/simd.h"

// One output row of full windows. rows are the 3 (radius 1) or 5 (radius 2) source rows
// centred on the output row; scratch has room for 5 rows of width values. Only
// out[radius .. width-1-radius] is written.
template <typename T>
using DenoiseRowKernel = void (*)(const T* const* rows, T* scratch, T* out, int width);

struct DenoiseKernels {
    DenoiseRowKernel<uint8_t> bytes[2][4];  // [radius - 1][mode]
    DenoiseRowKernel<uint16_t> words[2][4];
    // The top and bottom rows of radius 1 medians: rows are the two rows the windows span.
    DenoiseRowKernel<uint8_t> edgeBytes;
    DenoiseRowKernel<uint16_t> edgeWords;
    // The whole 1-byte image at any radius from per-column counts (denoise_columns.h).
    void (*columns)(int radius, int mode, uint8_t* rows, uint8_t* buf);
};

#ifdef GRAYFIX_SIMD_X86
extern const DenoiseKernels DenoiseKernelsAvx2;
extern const DenoiseKernels DenoiseKernelsAvx512;
#endif
