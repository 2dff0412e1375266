// denoise_paths_test.cpp - the histogram denoise paths (running counts, per-column
// counts on every vector path, in strips for 2-byte samples) against direct selection
// from each gathered window, each forced on every window of random images.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "support/cpu.h"
#include "support/workers.h"
#include "test_util.h"
#include "transforms/denoise/denoise.h"

namespace {

class DenoisePathsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        SetPath(DenoiseAuto);
        SetDenoiseStripWidth(0);
        SetWorkerThreads(0);
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
                    SetWorkerThreads(1);
                    std::vector<int> selected = DenoisedBy(DenoiseSelection, width, height, bpp,
                                                           pixels, bigEndian, r, mode);
                    // Per-column counts are built for each vector path; those of 2-byte
                    // samples go in vertical strips, here as wide as the image or a few
                    // columns (at least the radius), so that windows cross strip borders.
                    // Medians of 2-byte samples also come from tiles, of the engine's own
                    // size or a few pixels, so that windows cross tiles and bands. The
                    // rows go in as many parts as the strip has columns, so that windows
                    // cross the cuts between threads.
                    int strip = 1 + (int)(random() % 4);
                    for (int simd = -1; simd <= SimdAvx512; ++simd) {
                        if (simd >= 0 && !SetPath((SimdPath)simd)) continue;
                        for (int tiles = 0; tiles <= (bpp > 8 && simd >= 0 && mode == 0); ++tiles)
                            for (int strips = 0; strips <= (bpp > 8 && simd >= 0); ++strips) {
                                SetDenoiseStripWidth(strips ? strip : 0);
                                SetWorkerThreads(strip);
                                DenoisePath path = simd < 0 ? DenoiseRunningCounts
                                                 : tiles    ? DenoiseTileRanks
                                                            : DenoiseColumnCounts;
                                std::vector<int> counted = DenoisedBy(path, width, height, bpp,
                                                                      pixels, bigEndian, r, mode);
                                ASSERT_EQ(counted, selected)
                                    << width << "x" << height << " depth " << bpp << " bigEndian "
                                    << bigEndian << " radius " << r << " mode " << mode << " kind "
                                    << kind
                                    << (simd < 0 ? " running"
                                                 : (tiles ? " tiles" : " columns")
                                                       + std::string(", vector path ")
                                                       + std::to_string(simd))
                                    << (strips ? " side " + std::to_string(strip) : "")
                                    << " parts " << strip;
                            }
                    }
                }
            }
}

// The strip width is a count of columns: a negative one is refused and changes nothing.
TEST_F(DenoisePathsTest, StripWidthRefusesNegative)
{
    EXPECT_TRUE(SetDenoiseStripWidth(3));
    EXPECT_FALSE(SetDenoiseStripWidth(-1));
    std::mt19937 random(5);
    std::vector<int> pixels = RandomLevels(random, 9 * 4, 16, Levels::Any);
    std::vector<int> selected = DenoisedBy(DenoiseSelection, 9, 4, 16, pixels, 1, 3, 0);
    // Still strips of 3: the image takes three, and the result is still the median's.
    EXPECT_EQ(DenoisedBy(DenoiseColumnCounts, 9, 4, 16, pixels, 1, 3, 0), selected);
}

// Large windows of 2-byte samples take the per-column counts on their own (modes 2 and 3
// from radius 8), medians the tiles, and an image wider than the counts' strips of about
// 256 columns goes in several: each result still matches selection, on every vector path.
class DenoiseStripsTest : public OnEveryPath<SimdPath> {
protected:
    void TearDown() override
    {
        SetPath(DenoiseAuto);
        SetWorkerThreads(0);
        OnEveryPath<SimdPath>::TearDown();
    }
};

TEST_P(DenoiseStripsTest, WideImageMatchesSelection)
{
    std::mt19937 random(77);
    int width = 700, height = 31;
    for (Levels kind : {Levels::Few, Levels::Any, Levels::Ends}) {
        std::vector<int> pixels = RandomLevels(random, width * height, 16, kind, 5);
        for (int bigEndian = 0; bigEndian <= 1; ++bigEndian)
            for (auto [radius, mode] : {std::pair{14, 0}, std::pair{8, 2}, std::pair{9, 3}}) {
                std::vector<int> selected = DenoisedBy(DenoiseSelection, width, height, 16, pixels,
                                                       bigEndian, radius, mode);
                ASSERT_EQ(DenoisedBy(DenoiseAuto, width, height, 16, pixels, bigEndian, radius, mode),
                          selected)
                    << "kind " << (int)kind << " bigEndian " << bigEndian << " radius " << radius
                    << " mode " << mode;
            }
    }
}

// 2-byte medians from radius 3 go in tiles of 4 * radius + 3 pixels and bands of as many
// rows, shared among threads in parts of rows: an image of several tiles and bands
// in both directions, in one part or cut into up to five, still matches selection.
TEST_P(DenoiseStripsTest, TiledMediansMatchSelection)
{
    std::mt19937 random(78);
    int width = 97, height = 64;
    for (Levels kind : {Levels::Few, Levels::Any}) {
        std::vector<int> pixels = RandomLevels(random, width * height, 16, kind, 5);
        for (int radius : {3, 4, 7}) {
            std::vector<int> selected = DenoisedBy(DenoiseSelection, width, height, 16, pixels, 1,
                                                   radius, 0);
            for (int parts : {1, 2, 5}) {
                SetWorkerThreads(parts);
                ASSERT_EQ(DenoisedBy(DenoiseAuto, width, height, 16, pixels, 1, radius, 0), selected)
                    << "kind " << (int)kind << " radius " << radius << " parts " << parts;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, DenoiseStripsTest,
                         ::testing::Values(SimdBaseline, SimdAvx2, SimdAvx512), SimdPathName);

}  // namespace
