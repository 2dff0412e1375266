// denoise_test.cpp - the rank-order filter: against a plain sort-the-window reference on
// random images, the documented rule examples end to end, and its stops.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "test_util.h"
#include "transforms/denoise/denoise.h"

namespace {

std::string Denoised(int radius, int mode)
{
    testing::internal::CaptureStdout();
    ImgTransformDenoise(radius, mode);
    return testing::internal::GetCapturedStdout();
}

class DenoiseTest : public ::testing::Test {
protected:
    void TearDown() override { FreeTestImage(); }
};
using DenoiseDeathTest = DenoiseTest;

TEST_F(DenoiseTest, CompareIntensitiesOrdersAscendingOverTheWholeRange)
{
    uint16_t low = 0, high = 65535;
    EXPECT_LT(CompareIntensities(&low, &high), 0);
    EXPECT_GT(CompareIntensities(&high, &low), 0);
    EXPECT_EQ(CompareIntensities(&high, &high), 0);
}

// Random sizes (wide enough for the vectorised rows and their tails), depths 1..16 in
// both byte orders, few or many distinct values (ties decide modes 1-3), radii 1..3.
TEST_F(DenoiseTest, MatchesPlainSortOnRandomImages)
{
    std::mt19937 random(20240611);
    for (int trial = 0; trial < 400; ++trial) {
        int width = 1 + (int)(random() % (trial % 4 == 0 ? 70 : 12));
        int height = 1 + (int)(random() % 12);
        int bpp = 1 + (int)(random() % 16);
        int bigEndian = (int)(random() % 2);
        std::vector<int> pixels =
            RandomLevels(random, width * height, bpp, trial % 3 == 0 ? Levels::Few : Levels::Any);
        int radius = 1 + (int)(random() % 3);
        int mode = (int)(random() % 4);
        MakeTestImage(width, height, bpp, pixels, bigEndian);
        std::vector<int> expected = ReferenceDenoise(radius, mode);
        EXPECT_EQ(Denoised(radius, mode),
                  "\nDenoised using radius  " + std::to_string(radius) + ", mpode  " + std::to_string(mode));
        ASSERT_EQ(ImagePixels(), expected) << width << "x" << height << " depth " << bpp
                                           << " radius " << radius << " mode " << mode;
    }
}

TEST_F(DenoiseTest, NonPowerMaxvalAndHugeRadiusMatchThePlainSort)
{
    std::mt19937 random(7);
    std::vector<int> pixels;
    for (int i = 0; i < 9 * 7; ++i) pixels.push_back((int)(random() % 3001));
    for (int mode = 0; mode < 4; ++mode) {
        // A window of the whole image: the buffer is sized by the pixels, not the radius.
        MakeTestImage(9, 7, 12, pixels, 0, 3000);
        std::vector<int> expected = ReferenceDenoise(20, mode);
        Denoised(INT_MAX, mode);
        EXPECT_EQ(ImagePixels(), expected) << mode;
    }
}

TEST_F(DenoiseTest, OnePixelStaysInEveryMode)
{
    for (int mode = 0; mode < 4; ++mode) {
        MakeTestImage(1, 1, 8, {77});
        Denoised(1, mode);
        EXPECT_EQ(ImagePixels(), std::vector<int>{77}) << mode;
    }
}

TEST_F(DenoiseDeathTest, RadiusZeroStopsBeforeAnyOutput)
{
    MakeTestImage(2, 2, 8, {1, 2, 3, 4});
    EXPECT_EXIT(ImgTransformDenoise(0, 0), testing::ExitedWithCode(8), "check failed: radius>0");
}

// A sample above ImgLevelMax stops the run where the plain algorithm would read it:
// before the bad mode when it lies in the first window, after it otherwise.
TEST_F(DenoiseDeathTest, OutOfRangeSampleStopsInScanOrder)
{
    MakeTestImage(6, 6, 8, std::vector<int>(36, 5), 1, 200);
    ImgData[1] = 201;  // in the first window
    EXPECT_EXIT(ImgTransformDenoise(1, 4), testing::ExitedWithCode(8),
                "check failed: value <= ImgLevelMax && value >= 0");
    ImgData[1] = 5;
    ImgData[35] = 201;  // far from it
    EXPECT_EXIT(ImgTransformDenoise(1, 4), testing::ExitedWithCode(4), "ImgTransformDenoise: bad mode");
    EXPECT_EXIT(ImgTransformDenoise(1, 0), testing::ExitedWithCode(8),
                "check failed: value <= ImgLevelMax && value >= 0");
}

// ---- End to end: the documented windows and rule examples.

// A 3x3 image whose window centre is the pixel at (1, 1); the other pixels follow the
// plain algorithm too, which the whole-file comparison checks.
void ExpectCentre(const std::vector<int>& window, int mode, int centre)
{
    MakeTestImage(3, 3, 8, window);
    std::vector<int> expected = ReferenceDenoise(1, mode);
    FreeTestImage();
    ASSERT_EQ(expected[4], centre);
    ExpectPgmRun(3, 3, 8, window, "-t:denoise:1:" + std::to_string(mode),
                 "\nDenoised using radius  1, mpode  " + std::to_string(mode), expected);
}

TEST(DenoiseRunTest, CornerEdgeAndInteriorWindowsTakeTheUpperMedian)
{
    ExpectPgmRun(3, 3, 8, {1, 2, 3, 4, 5, 6, 7, 8, 9}, "-t:denoise:1:0",
                 "\nDenoised using radius  1, mpode  0", {4, 4, 5, 5, 5, 6, 7, 7, 8});
}

TEST(DenoiseRunTest, OnePixelWideImageHasTwoOrThreeSamples)
{
    ExpectPgmRun(1, 5, 8, {9, 1, 5, 3, 7}, "-t:denoise:1:0", "\nDenoised using radius  1, mpode  0",
                 {9, 5, 3, 5, 7});
}

TEST(DenoiseRunTest, SingleBrightPixelDisappears)
{
    std::vector<int> in(25, 30), out(25, 30);
    in[12] = 250;
    ExpectPgmRun(5, 5, 8, in, "-t:denoise:1:0", "\nDenoised using radius  1, mpode  0", out);
}

TEST(DenoiseRunTest, ModeOneMovesOnlyAnUnsharedExtreme)
{
    ExpectCentre({100, 100, 100, 100, 0, 100, 100, 100, 100}, 1, 100);
    ExpectCentre({100, 0, 100, 100, 0, 100, 100, 100, 100}, 1, 0);
}

TEST(DenoiseRunTest, ModeTwoTakesTheNextSampleUnlessTheExtremeIsShared)
{
    ExpectCentre({40, 7, 40, 9, 3, 7, 50, 60, 70}, 2, 7);
    ExpectCentre({40, 3, 40, 9, 3, 7, 50, 60, 70}, 2, 3);
    ExpectCentre({40, 3, 40, 9, 99, 7, 50, 60, 70}, 2, 70);
}

TEST(DenoiseRunTest, ModeThreeWalksToTheMedianAtMost)
{
    ExpectCentre({10, 10, 12, 15, 10, 16, 17, 18, 19}, 3, 12);
    ExpectCentre({10, 10, 10, 10, 10, 20, 21, 22, 23}, 3, 10);
    ExpectCentre({1, 2, 3, 4, 9, 5, 6, 7, 9}, 3, 7);
    ExpectCentre({3, 40, 40, 40, 41, 40, 41, 41, 41}, 3, 40);
}

TEST(DenoiseRunTest, ModeThreeOnTwoPixelsSwapsThem)
{
    ExpectPgmRun(2, 1, 8, {5, 9}, "-t:denoise:1:3", "\nDenoised using radius  1, mpode  3", {9, 5});
}

TEST(DenoiseRunTest, RadiusZeroIsTheCheckStop)
{
    RunResult run = ExpectStoppedRun(2, 2, 8, {1, 2, 3, 4}, "-t:denoise:0:0");
    EXPECT_TRUE(IsCheckStop(run, "radius>0")) << run.err;
}

TEST(DenoiseRunTest, ModeFourIsRefusedWithoutOutput)
{
    RunResult run = ExpectStoppedRun(2, 2, 8, {1, 2, 3, 4}, "-t:denoise:1:4");
    EXPECT_EQ(run.err, "\ngrayfix ERROR: ImgTransformDenoise: bad mode");
    EXPECT_EQ(run.status, 4);
}

}  // namespace
