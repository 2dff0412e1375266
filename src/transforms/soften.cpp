// soften.cpp - Soften and soften-squared: weighted window averages that smooth or sharpen.

#include "transforms/soften.h"

#include "driver/console.h"

void ImgTransformSoften(int radius, int centerweight, int neighborweight)
{
    (void)radius;
    (void)centerweight;
    (void)neighborweight;
    FatalError("ImgTransformSoften: not built yet", ExitCommandLine);
}

void ImgTransformSoftenSquared(int radius, int centerweight, int neighborweight)
{
    (void)radius;
    (void)centerweight;
    (void)neighborweight;
    FatalError("ImgTransformSoftenSquared: not built yet", ExitCommandLine);
}
