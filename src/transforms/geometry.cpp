// geometry.cpp - Downsize by block averages and crop, both packed in place.

#include "transforms/geometry.h"

#include "driver/console.h"

void ImgTransformDownsize(int times)
{
    (void)times;
    FatalError("ImgTransformDownsize: not built yet", ExitCommandLine);
}

void ImgTransformCrop(int x0, int y0, int newWidth, int newHeight)
{
    (void)x0;
    (void)y0;
    (void)newWidth;
    (void)newHeight;
    FatalError("ImgTransformCrop: not built yet", ExitCommandLine);
}
