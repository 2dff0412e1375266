// wgnoise.cpp - White Gaussian noise seeded from the platform random device.

#include "transforms/wgnoise.h"

#include "driver/console.h"

void ImgTransformWGNoise(double deviation)
{
    (void)deviation;
    FatalError("ImgTransformWGNoise: not built yet", ExitCommandLine);
}
