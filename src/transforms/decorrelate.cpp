// decorrelate.cpp - Lossless decorrelation: average and MED prediction residuals and their inverses.

#include "transforms/decorrelate.h"

#include "driver/console.h"

void ImgTransformDecorrelate()
{
    FatalError("ImgTransformDecorrelate: not built yet", ExitCommandLine);
}

void ImgTransformCorrelate()
{
    FatalError("ImgTransformCorrelate: not built yet", ExitCommandLine);
}

void ImgTransformDecorrelateMED()
{
    FatalError("ImgTransformDecorrelateMED: not built yet", ExitCommandLine);
}

void ImgTransformCorrelateMED()
{
    FatalError("ImgTransformCorrelateMED: not built yet", ExitCommandLine);
}
