// noise.cpp - Uniform, additive and salt-and-pepper noise drawn from the image-seeded ISAAC stream.

#include "transforms/noise.h"

#include <cmath>
#include <cstdint>

#include "driver/console.h"  // PrintMsg, CHECK
#include "image/image.h"     // image globals, GetPixel, SetPixel
#include "support/isaac.h"

// The draws of every pixel are made in a fixed order (selection, then value),
// so that the k-th number of the stream always serves the same purpose and a
// run is reproducible byte for byte.

static inline bool Selected(IsaacContext& context, int NoisePercent)
{
    return IsaacNext(context) % 100u < (uint32_t)NoisePercent;
}

// Uniform over 0..2^Imgbpp-1. Two statements, because the order of the two
// draws is part of the result and operands of ^ are unsequenced.
static inline int UniformIntensity(IsaacContext& context)
{
    uint32_t r1 = IsaacNext(context);
    uint32_t r2 = IsaacNext(context);
    return (int)(((r1 << 8) ^ r2) & BppMask[Imgbpp]);
}

// Shared by uniform and salt-and-pepper noise, which print the same text.
static void ReportNoised(int NoisePercent, int count)
{
    // The reader caps the image at INT_MAX bytes, so the pixel count fits an int.
    int pixels = ImgImageWidth * ImgImageHeight;
    PrintMsg("\nNoise (%d%%) done, noised %d of %d pixels (actually %f%%)", NoisePercent, count,
             pixels, (double)count * 100 / pixels);
}

void ImgTransformNoise(int NoisePercent)
{
    CHECK(NoisePercent <= 100 && NoisePercent >= 0);
    IsaacContext context;
    IsaacSeedFromImage(context);
    int count = 0;
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) {
            if (!Selected(context, NoisePercent)) continue;
            SetPixel(x, y, UniformIntensity(context));  // counted even if unchanged
            ++count;
        }
    ReportNoised(NoisePercent, count);
}

void ImgTransformSPNoise(int NoisePercent)
{
    CHECK(NoisePercent <= 100 && NoisePercent >= 0);
    IsaacContext context;
    IsaacSeedFromImage(context);
    const int salt = (int)(0xFFFF & BppMask[Imgbpp]);
    int count = 0;
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) {
            if (!Selected(context, NoisePercent)) continue;
            SetPixel(x, y, (IsaacNext(context) & 1) ? salt : 0);
            ++count;
        }
    ReportNoised(NoisePercent, count);
}

int AddNoisePixel(int d, int g, int NoisePercent, double& correction, double& shareSum)
{
    const double P = NoisePercent;
    double h = P + 0.2 * correction;
    double H, L;  // noise share and kept share, in per cent
    if (h > 100) { H = 100; L = 0; }
    else if (h < 0) { H = 0; L = 100; }
    else { H = h; L = 100 - h; }
    // A weighted mean of d and g rounded half up, so it lies between them.
    int m = (int)std::floor((L * d + H * g) / 100 + 0.5);
    double o = std::fabs((double)(m - d) / (g - d)) * 100;
    correction += P - o;
    shareSum += o;
    return m;
}

void ImgTransformAddNoise(int NoisePercent)
{
    CHECK(NoisePercent <= 100 && NoisePercent >= 0);
    IsaacContext context;
    IsaacSeedFromImage(context);
    double correction = 0, shareSum = 0;
    int count = 0;
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) {
            int d = GetPixel(x, y);
            int g = UniformIntensity(context);  // drawn for every pixel, used or not
            if (g == d) continue;               // no share can be applied
            SetPixel(x, y, AddNoisePixel(d, g, NoisePercent, correction, shareSum));
            ++count;
        }
    // With no differing pixel the mean is 0/0; report that nothing was added.
    PrintMsg("\nAddNoise (%d%%) done, actual noise added to pixel values: %f%%)", NoisePercent,
             count > 0 ? shareSum / count : 0.0);
}
