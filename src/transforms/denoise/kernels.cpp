// kernels.cpp - denoise's kernels built for the baseline target, and the choice of this
// run's table.

#include "transforms/denoise/kernels.h"

#include "support/cpu.h"
#include "transforms/denoise/engines.h"
#include "transforms/denoise/kernels_table.h"

constinit const DenoiseKernels DenoiseKernelsBaseline = MakeDenoiseKernels();

const DenoiseKernels& DenoiseKernelsForRun()
{
    return GRAYFIX_PATH_TABLE(DenoiseKernelsBaseline, DenoiseKernelsAvx2, DenoiseKernelsAvx512);
}

bool ColumnCountsFit(int radius)
{
    return ColumnCountsFitImage(ImgImageWidth, ImgImageHeight, radius);
}

long long ColumnCounts16Strip(int radius)
{
    int rx = Least(radius, ImgImageWidth - 1), ry = Least(radius, ImgImageHeight - 1);
    return StripWidth16(rx, ry, ImgImageWidth);
}

int TileRanksBand(int radius, int tile)
{
    int rx = Least(radius, ImgImageWidth - 1), ry = Least(radius, ImgImageHeight - 1);
    return BandRows(rx, ry, ImgImageWidth, tile);
}
