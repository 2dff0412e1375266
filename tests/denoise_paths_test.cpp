// denoise_paths_test.cpp - the histogram denoise paths (running counts, per-column
// counts on every vector path) against direct selection from each gathered window, each
// forced on every window of random images.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "support/cpu.h"
#include "test_util.h"
#include "transforms/denoise/denoise.h"

namespace {

class DenoisePathsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        SetPath(DenoiseAuto);
        SetPath(BestPath<SimdPath>());
        FreeTestImage();
    }
};

std::vector<int> DenoisedBy(DenoisePath path, int width, int height, int bpp,
                            const std::vector<int>& pixels, int bigEndian, int radius, int mode)
{
    MakeTestImage(width, height, bpp, pixels, bigEndian);
    SetPath(path);
    testing::internal::CaptureStdout();
    ImgTransformDenoise(radius, mode);
    std::string message = testing::internal::GetCapturedStdout();
    EXPECT_EQ(message, "\nDenoised using radius  " + std::to_string(radius) + ", mpode  "
                           + std::to_string(mode));
    return ImagePixels();
}

// Every depth in both byte orders, every mode, radii 1..12 and one larger than the image.
// The shapes (up to 26x26, some one or two pixels thin) put most windows on a border, and
// the intensities come in all three kinds of RandomLevels.
TEST_F(DenoisePathsTest, HistogramMatchesSelectionEverywhere)
{
    std::mt19937 random(4242);
    for (int bpp = 1; bpp <= 16; ++bpp)
        for (int bigEndian = 0; bigEndian <= 1; ++bigEndian)
            for (int radius = 1; radius <= 13; ++radius) {
                int width = 1 + (int)(random() % (radius % 4 == 0 ? 3 : 26));
                int height = 1 + (int)(random() % (radius % 5 == 0 ? 2 : 26));
                int kind = (int)(random() % 3);
                std::vector<int> pixels = RandomLevels(random, width * height, bpp, (Levels)kind, 4);
                // Past 12, a radius wider and taller than every image.
                int r = radius <= 12 ? radius : 30 + (int)(random() % 1000);
                for (int mode = 0; mode < 4; ++mode) {
                    std::vector<int> selected = DenoisedBy(DenoiseSelection, width, height, bpp,
                                                           pixels, bigEndian, r, mode);
                    // Per-column counts are built for each vector path; 2-byte samples have
                    // only the running counts.
                    for (int simd = -1; simd <= (bpp <= 8 ? SimdAvx512 : -1); ++simd) {
                        if (simd >= 0 && !SetPath((SimdPath)simd)) continue;
                        DenoisePath path = simd < 0 ? DenoiseRunningCounts : DenoiseColumnCounts;
                        std::vector<int> counted = DenoisedBy(path, width, height, bpp, pixels,
                                                              bigEndian, r, mode);
                        ASSERT_EQ(counted, selected)
                            << width << "x" << height << " depth " << bpp << " bigEndian "
                            << bigEndian << " radius " << r << " mode " << mode << " kind " << kind
                            << (simd < 0 ? " running" : " columns, vector path " + std::to_string(simd));
                    }
                }
            }
}

}  // namespace
