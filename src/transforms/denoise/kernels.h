// kernels.h - the table of denoise's kernels that are built once per vector path (the
// full-window rows and the per-column counts), and the table of this run's path.
#pragma once

#include <cstdint>

#include "support/cpu.h"

// One output row of full windows. rows are the 3 (radius 1) or 5 (radius 2) source rows
// centred on the output row (2 for the edge rows); scratch holds FullWindowScratchRows
// rows of width values. Only out[radius .. width-1-radius] is written.
template <typename T>
using DenoiseRowKernel = void (*)(const T* const* rows, T* scratch, T* out, int width);
constexpr int FullWindowScratchRows = 3;  // the sorted columns of the 3x3 windows

struct DenoiseKernels {
    DenoiseRowKernel<uint8_t> bytes[2][4];  // [radius - 1][mode]
    DenoiseRowKernel<uint16_t> words[2][4];
    // The top and bottom rows of radius 1 medians: rows are the two rows the windows span.
    DenoiseRowKernel<uint8_t> edgeBytes;
    DenoiseRowKernel<uint16_t> edgeWords;
    // The whole 1-byte image from per-column counts (column_counts.h), for a radius that
    // ColumnCountsFit accepts.
    void (*columns)(int radius, int mode);
    // The same for 2-byte samples (column_counts16.h), in vertical strips of step output
    // columns: at least the clipped radius, at most ColumnCounts16Strip(radius).
    void (*columns16)(int radius, int mode, int step);
    // Medians of 2-byte samples from their order within tiles (tile_ranks.h), for a radius
    // that TileRanksBand accepts; tile, when positive, is the tiles' side.
    void (*tiles16)(int radius, int tile);
};

// The table built for the processor path of this run (SimdPath, support/cpu.h).
const DenoiseKernels& DenoiseKernelsForRun();

extern const DenoiseKernels DenoiseKernelsBaseline;
#ifdef GRAYFIX_X86
extern const DenoiseKernels DenoiseKernelsAvx2;
extern const DenoiseKernels DenoiseKernelsAvx512;
#endif
