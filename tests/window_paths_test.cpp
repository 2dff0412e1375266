// window_paths_test.cpp - the window filters' vector kernels (denoise 3x3 and 5x5 in
// every mode, soften's row loops) against the plain algorithms, on every vector path.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "support/cpu.h"
#include "support/workers.h"
#include "test_util.h"
#include "transforms/denoise/denoise.h"
#include "transforms/soften/soften.h"

// They read and write rows through the image store's 16-bit row conversions, which
// follow the same path, so these tests cover those in both byte orders too.

class WindowPathTest : public OnEveryPath<SimdPath> {
protected:
    // Random pixels of every depth in both byte orders, on widths around the vector
    // lengths (16 to 64 samples a register, then the tails) and heights with no full
    // window, one, or several; every other image has only three distinct values, so
    // ties decide the rules.
    template <typename F> void ForEachImage(int seed, F&& check)
    {
        std::mt19937 random((unsigned)seed);
        const int sizes[][2] = {{1, 1}, {2, 5}, {3, 3}, {6, 4}, {17, 2}, {33, 5}, {70, 6}, {131, 7}};
        int count = 0;
        for (int bpp = 1; bpp <= 16; ++bpp)
            for (int bigEndian = 0; bigEndian <= 1; ++bigEndian)
                for (const auto& size : sizes) {
                    int width = size[0], height = size[1];
                    Levels kind = ++count % 2 ? Levels::Few : Levels::Any;
                    std::vector<int> pixels = RandomLevels(random, width * height, bpp, kind);
                    MakeTestImage(width, height, bpp, pixels, bigEndian);
                    check(random, "depth " + std::to_string(bpp) + " bigEndian "
                                      + std::to_string(bigEndian) + " " + std::to_string(width)
                                      + "x" + std::to_string(height));
                }
    }
};

// The 3x3 and 5x5 networks (and the general path at their borders) in every mode, with
// the rows in one part or cut into up to four for the worker threads.
TEST_P(WindowPathTest, DenoiseMatchesThePlainSort)
{
    ForEachImage(41, [&](std::mt19937& random, const std::string& image) {
        std::vector<int> original = ImagePixels();
        for (int radius = 1; radius <= 2; ++radius)
            for (int mode = 0; mode < 4; ++mode) {
                std::vector<int> expected = ReferenceDenoise(radius, mode);
                int parts = 1 + (int)(random() % 4);
                SetWorkerThreads(parts);
                testing::internal::CaptureStdout();
                ImgTransformDenoise(radius, mode);
                testing::internal::GetCapturedStdout();
                SetWorkerThreads(0);
                ASSERT_EQ(ImagePixels(), expected)
                    << image << " radius " << radius << " mode " << mode << " parts " << parts;
                MakeTestImage(ImgImageWidth, ImgImageHeight, Imgbpp, original, ImgBigEndian);
            }
    });
}

// Radii with fused and running box sums; weights from small to large enough for 64-bit
// sums, sharpening ones included (windows whose weightsum is not positive are skipped);
// the rows in one part or cut into up to four.
TEST_P(WindowPathTest, SoftenMatchesThePlainLoops)
{
    ForEachImage(42, [&](std::mt19937& random, const std::string& image) {
        std::vector<int> original = ImagePixels();
        for (int radius = 1; radius <= 3; ++radius)
            for (bool squared : {false, true}) {
                int scale = std::vector<int>{4, 200, 1 << 20}[random() % 3];
                int centerweight = (int)(random() % (unsigned)scale) + 1;
                int neighborweight = (int)(random() % (unsigned)scale) - (random() % 3 ? 0 : scale / 9);
                std::vector<int> expected;
                if (!ReferenceSoften(radius, centerweight, neighborweight, squared, expected)) continue;
                int parts = 1 + (int)(random() % 4);
                SetWorkerThreads(parts);
                testing::internal::CaptureStdout();
                if (squared)
                    ImgTransformSoftenSquared(radius, centerweight, neighborweight);
                else
                    ImgTransformSoften(radius, centerweight, neighborweight);
                testing::internal::GetCapturedStdout();
                SetWorkerThreads(0);
                ASSERT_EQ(ImagePixels(), expected) << image << " radius " << radius << " weights "
                                                   << centerweight << " " << neighborweight
                                                   << (squared ? " squared" : "") << " parts " << parts;
                MakeTestImage(ImgImageWidth, ImgImageHeight, Imgbpp, original, ImgBigEndian);
            }
    });
}

INSTANTIATE_TEST_SUITE_P(Paths, WindowPathTest,
                         ::testing::Values(SimdBaseline, SimdAvx2, SimdAvx512), SimdPathName);

