// reducedepth.cpp - Depth reduction: right shift, crop (with or without clipping) and crop to another file's depth.

#include "transforms/reducedepth.h"

#include "driver/console.h"

void ImgTransformReduceDepth(int newDepth)
{
    (void)newDepth;
    FatalError("ImgTransformReduceDepth: not built yet", ExitCommandLine);
}

void ImgTransformCropDepth(int newDepth, int clip)
{
    (void)newDepth;
    (void)clip;
    FatalError("ImgTransformCropDepth: not built yet", ExitCommandLine);
}

void ImgTransformCropDepthLike(const char* PGMP5filename)
{
    (void)PGMP5filename;
    FatalError("ImgTransformCropDepthLike: not built yet", ExitCommandLine);
}
