// wgnoise.cpp - White Gaussian noise seeded from the platform random device:
// the variates of std::normal_distribution over std::minstd_rand0, made in
// batches (gaussdraws.h), added to the pixels a stretch at a time.

#include "transforms/wgnoise.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <random>
#include <string>

#include "driver/console.h"         // PrintMsg, FatalError, CHECK
#include "image/image.h"            // image globals, GetPixel, SetPixel, row samples
#include "transforms/gaussdraws.h"  // the variates of normal_distribution over minstd_rand0
#include "transforms/stretch.h"     // samples straight from the buffer

// The minimal-standard engine x -> 16807 x mod (2^31 - 1) is minstd_rand0;
// std::minstd_rand is the later 48271 variant.
static_assert(std::minstd_rand0::multiplier == GaussMultiplier
              && std::minstd_rand0::modulus == GaussModulus);

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

// Every pixel of a stretch through the accessors, with every check where they
// make it: for a stretch in which one of them will stop the run, and for a
// sample width they refuse.
static void NoisePixels(std::size_t first, int count, const double* noise, int maximum)
{
    for (int k = 0; k < count; ++k) {
        std::size_t i = first + (std::size_t)k;
        int x = (int)(i % (std::size_t)ImgImageWidth), y = (int)(i / (std::size_t)ImgImageWidth);
        int value = GetPixel(x, y);
        SetPixel(x, y, ClampNoisy(value, value + noise[k], maximum));
    }
}

// A stretch straight from the buffer. It is read whole before any of it is
// written, and the largest sample read and the largest value to store tell
// whether GetPixel or SetPixel would refuse one; only then NoisePixels redoes
// it, from the same untouched samples, and stops where they would.
template <int Bytes, bool BigEndian>
static void NoiseStretch(std::size_t first, int count, const double* noise, int maximum)
{
    static_assert(GaussBatchMaxValues <= Stretch);
    unsigned char* p = ImgData + first * Bytes;
    int values[Stretch];
    int largest = LoadStretch<Bytes, BigEndian>(p, count, values);
    if (largest > ImgLevelMax || ClampNoisyRun(values, noise, count, maximum) > ImgLevelMax)
        return NoisePixels(first, count, noise, maximum);
    StoreStretch<Bytes, BigEndian>(p, count, values);
}

void ImgAddWGNoise(double deviation, unsigned long seed)
{
    void (*stretch)(std::size_t, int, const double*, int) = NoisePixels;
    if (ImgBYTEpp == 1) stretch = NoiseStretch<1, true>;
    else if (ImgBYTEpp == 2) stretch = ImgBigEndian ? NoiseStretch<2, true> : NoiseStretch<2, false>;
    const int maximum = (int)BppMask[Imgbpp];
    const std::size_t pixels = PixelIndex(0, ImgImageHeight);  // row-major: one run of pixels
    uint32_t state = GaussSeedState(seed);
    double noise[GaussBatchMaxValues];
    // The pixels take the variates in order, a batch at a time; the very first
    // variate is discarded. A batch may (very rarely) keep no attempt at all.
    int count = 0, next = 1;
    for (std::size_t first = 0; first < pixels;) {
        while (next >= count) {
            next -= count;
            count = DrawGaussBatch(state, deviation, noise);
        }
        int n = (int)std::min<std::size_t>((std::size_t)(count - next), pixels - first);
        stretch(first, n, noise + next, maximum);
        first += (std::size_t)n;
        next += n;
    }
}

void ImgTransformWGNoise(double deviation)
{
    CHECK(deviation>0.0);
    // One device value seeds the engine, which reduces it modulo 2^31-1 and
    // replaces 0 by 1.
    ImgAddWGNoise(deviation, ImgWGNoiseSeedFixed ? ImgWGNoiseSeed : ReadRandomDevice());
    PrintMsg("\nWhite Gaussian moise (deviation %g) added.", deviation);
}

bool ImgWGNoiseSeedFixed = false;
unsigned long ImgWGNoiseSeed = 0;

void ImgFixWGNoiseSeed(unsigned long seed)
{
    ImgWGNoiseSeedFixed = true;
    ImgWGNoiseSeed = seed;
}

void ImgUseDeviceSeed() { ImgWGNoiseSeedFixed = false; }
