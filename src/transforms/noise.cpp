// noise.cpp - Uniform, additive and salt-and-pepper noise drawn from the image-seeded ISAAC stream.

#include "transforms/noise.h"

#include "driver/console.h"

void ImgTransformNoise(int NoisePercent)
{
    (void)NoisePercent;
    FatalError("ImgTransformNoise: not built yet", ExitCommandLine);
}

void ImgTransformAddNoise(int NoisePercent)
{
    (void)NoisePercent;
    FatalError("ImgTransformAddNoise: not built yet", ExitCommandLine);
}

void ImgTransformSPNoise(int NoisePercent)
{
    (void)NoisePercent;
    FatalError("ImgTransformSPNoise: not built yet", ExitCommandLine);
}
