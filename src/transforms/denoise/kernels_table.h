// kernels_table.h - one vector path's table of denoise kernels, for a constinit
// definition in that path's source (kernels.cpp, kernels_avx2.cpp, kernels_avx512.cpp),
// which compiles the kernels for its target. Internal linkage, like the kernels.
#pragma once

#include "transforms/denoise/column_counts.h"
#include "transforms/denoise/column_counts16.h"
#include "transforms/denoise/full_window.h"
#include "transforms/denoise/kernels.h"
#include "transforms/denoise/tile_ranks.h"

namespace {

// A constant table: no start-up code runs with a wider target's instructions.
constexpr DenoiseKernels MakeDenoiseKernels()
{
    return {
        {{Denoise3x3Row<uint8_t, 0>, Denoise3x3Row<uint8_t, 1>, Denoise3x3Row<uint8_t, 2>,
          Denoise3x3Row<uint8_t, 3>},
         {Denoise5x5Row<uint8_t, 0>, Denoise5x5Row<uint8_t, 1>, Denoise5x5Row<uint8_t, 2>,
          Denoise5x5Row<uint8_t, 3>}},
        {{Denoise3x3Row<uint16_t, 0>, Denoise3x3Row<uint16_t, 1>, Denoise3x3Row<uint16_t, 2>,
          Denoise3x3Row<uint16_t, 3>},
         {Denoise5x5Row<uint16_t, 0>, Denoise5x5Row<uint16_t, 1>, Denoise5x5Row<uint16_t, 2>,
          Denoise5x5Row<uint16_t, 3>}},
        DenoiseEdgeRow<uint8_t>,
        DenoiseEdgeRow<uint16_t>,
        DenoiseByColumnCounts,
        DenoiseByColumnCounts16,
        DenoiseByTileRanks,
    };
}

}  // namespace
