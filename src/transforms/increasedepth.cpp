// increasedepth.cpp - Depth increase, nominal or left-shifting, widening the buffer when needed.

#include "transforms/increasedepth.h"

#include "driver/console.h"

void ImgTransformIncreaseDepth(int newDepth, int mode)
{
    (void)newDepth;
    (void)mode;
    FatalError("ImgTransformIncreaseDepth: not built yet", ExitCommandLine);
}
