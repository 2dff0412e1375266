// denoise.cpp - Denoise: the rank-order window filter (median, RCRS-1, second extreme, RCRS-2).

#include "transforms/denoise.h"

#include "driver/console.h"

void ImgTransformDenoise(int radius, int mode)
{
    (void)radius;
    (void)mode;
    FatalError("ImgTransformDenoise: not built yet", ExitCommandLine);
}
