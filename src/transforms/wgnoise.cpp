// wgnoise.cpp - White Gaussian noise seeded from the platform random device.

#include "transforms/wgnoise.h"

#include <cmath>
#include <exception>
#include <random>
#include <string>

#include "driver/console.h"  // PrintMsg, FatalError, CHECK
#include "image/image.h"     // image globals, GetPixel, SetPixel

// The minimal-standard engine x -> 16807 x mod (2^31 - 1). That is minstd_rand0;
// std::minstd_rand is the later 48271 variant.
using NoiseEngine = std::minstd_rand0;
static_assert(NoiseEngine::multiplier == 16807 && NoiseEngine::modulus == 2147483647);

unsigned ReadRandomDevice(const char* token)
{
    // The device is an input the tool reads (on most systems a special file or
    // a system call), so failing to open or read it is an input failure.
    try {
        if (token == nullptr) {
            std::random_device device;
            return device();
        }
        std::random_device device{std::string(token)};
        return device();
    } catch (const std::exception&) {
        FatalError("ImgTransformWGNoise: Cannot read random device", ExitInputFile);
    }
}

// Compared as doubles so that no value outside the int range is ever
// converted. A NaN sum comes only from 0 * infinity (an infinite deviation
// and a zero draw), which is read as no noise.
int ClampNoisy(int value, double sum, int maximum)
{
    double rounded = std::round(sum);
    if (rounded >= maximum) return maximum;
    if (rounded > 0) return (int)rounded;
    if (rounded <= 0) return 0;
    return value;  // NaN
}

void ImgTransformWGNoise(double deviation)
{
    CHECK(deviation>0.0);
    // One device value seeds the engine, which reduces it modulo 2^31-1 and
    // replaces 0 by 1 itself.
    NoiseEngine engine(ReadRandomDevice());
    std::normal_distribution<double> distribution(0.0, deviation);
    distribution(engine);  // the first variate is discarded
    const int maximum = (int)BppMask[Imgbpp];
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) {
            int value = GetPixel(x, y);
            SetPixel(x, y, ClampNoisy(value, value + distribution(engine), maximum));
        }
    PrintMsg("\nWhite Gaussian moise (deviation %g) added.", deviation);
}
