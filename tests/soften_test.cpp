// soften_test.cpp - soften and soften-squared: against the plain window loops on random
// images, the documented examples end to end, and the weightsum and range stops.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "test_util.h"
#include "transforms/soften/soften.h"

namespace {

std::string Softened(bool squared, int radius, int centerweight, int neighborweight)
{
    testing::internal::CaptureStdout();
    if (squared)
        ImgTransformSoftenSquared(radius, centerweight, neighborweight);
    else
        ImgTransformSoften(radius, centerweight, neighborweight);
    return testing::internal::GetCapturedStdout();
}

std::string Message(bool squared, int radius, int centerweight, int neighborweight)
{
    return std::string(squared ? "\nSoftened using squared pixel values with radius  "
                               : "\nSoftened with radius  ")
         + std::to_string(radius) + ", centerweight  " + std::to_string(centerweight)
         + ", neighborweight " + std::to_string(neighborweight);
}

class SoftenTest : public ::testing::TestWithParam<bool> {  // the parameter: squared
protected:
    void TearDown() override { FreeTestImage(); }
};
using SoftenDeathTest = SoftenTest;
class SoftenPlainTest : public ::testing::Test {
protected:
    void TearDown() override { FreeTestImage(); }
};

// Weights from small to near the int limits reach every accumulator width; weights
// whose windows do not all have a positive weightsum are drawn again.
TEST_P(SoftenTest, MatchesPlainLoopsOnRandomImages)
{
    bool squared = GetParam();
    std::mt19937 random(squared ? 11 : 12);
    int checked = 0;
    while (checked < 300) {
        int width = 1 + (int)(random() % (checked % 4 == 0 ? 70 : 12));
        int height = 1 + (int)(random() % 12);
        int bpp = 1 + (int)(random() % 16);
        int bigEndian = (int)(random() % 2);
        std::vector<int> pixels;
        for (int i = 0; i < width * height; ++i) pixels.push_back((int)(random() & BppMask[bpp]));
        int radius = checked % 10 == 0 ? 1000 : 1 + (int)(random() % 3);
        int scale = std::vector<int>{4, 200, 1 << 20, INT_MAX}[random() % 4];
        int centerweight = (int)(random() % scale) - (checked % 5 == 0 ? 0 : scale / 8);
        int neighborweight = (int)(random() % scale) - (checked % 3 == 0 ? scale / 4 : 0);
        MakeTestImage(width, height, bpp, pixels, bigEndian);
        std::vector<int> expected;
        if (!ReferenceSoften(radius, centerweight, neighborweight, squared, expected)) continue;
        ++checked;
        EXPECT_EQ(Softened(squared, radius, centerweight, neighborweight),
                  Message(squared, radius, centerweight, neighborweight));
        ASSERT_EQ(ImagePixels(), expected) << width << "x" << height << " depth " << bpp << " radius "
                                           << radius << " weights " << centerweight << " "
                                           << neighborweight;
    }
}

TEST_P(SoftenTest, HugeRadiusAveragesTheWholeImage)
{
    std::vector<int> pixels{10, 20, 30, 40, 50, 60, 30, 20, 20};  // total 280
    MakeTestImage(3, 3, 8, pixels);
    std::vector<int> expected;
    ASSERT_TRUE(ReferenceSoften(3, 5, 2, GetParam(), expected));
    Softened(GetParam(), INT_MAX, 5, 2);
    EXPECT_EQ(ImagePixels(), expected);
}

TEST_P(SoftenTest, UniformImageStaysUnderSharpening)
{
    MakeTestImage(6, 5, 16, std::vector<int>(30, 65535), 0);
    Softened(GetParam(), 1, 9, -1);
    EXPECT_EQ(ImagePixels(), std::vector<int>(30, 65535));
    MakeTestImage(6, 5, 7, std::vector<int>(30, 99));
    Softened(GetParam(), 2, 1, 1);
    EXPECT_EQ(ImagePixels(), std::vector<int>(30, 99));
}

TEST_P(SoftenDeathTest, RadiusZeroIsTheCheckStop)
{
    MakeTestImage(2, 2, 8, {1, 2, 3, 4});
    EXPECT_EXIT(Softened(GetParam(), 0, 1, 1), testing::ExitedWithCode(8), "check failed: radius>0");
}

// The first window in scan order without a positive weightsum decides the quoted check.
TEST_P(SoftenDeathTest, FirstBadWeightsumDecidesTheCheck)
{
    MakeTestImage(3, 3, 8, std::vector<int>(9, 1));
    // Corners 2-3 = -1 first.
    EXPECT_EXIT(Softened(GetParam(), 1, 2, -1), testing::ExitedWithCode(8), "check failed: weightsum>=0\n");
    // Corners 3-3 = 0 before the centre's 3-8 = -5.
    EXPECT_EXIT(Softened(GetParam(), 1, 3, -1), testing::ExitedWithCode(8), "check failed: weightsum>0\n");
    // Only the centre: 8-8 = 0.
    EXPECT_EXIT(Softened(GetParam(), 1, 8, -1), testing::ExitedWithCode(8), "check failed: weightsum>0\n");
    // Both weights 0.
    EXPECT_EXIT(Softened(GetParam(), 2, 0, 0), testing::ExitedWithCode(8), "check failed: weightsum>0\n");
}

// An out-of-range sample stops the run where the plain loops read it, after any bad
// weightsum of an earlier window.
TEST_P(SoftenDeathTest, OutOfRangeSampleStopsInScanOrder)
{
    MakeTestImage(5, 5, 10, std::vector<int>(25, 3), 1, 1000);
    ImgData[2 * 24] = 0x03;  // the last pixel: 0x03FF = 1023
    ImgData[2 * 24 + 1] = 0xFF;
    EXPECT_EXIT(Softened(GetParam(), 1, 1, 1), testing::ExitedWithCode(8),
                "check failed: value <= ImgLevelMax && value >= 0");
    EXPECT_EXIT(Softened(GetParam(), 1, 2, -1), testing::ExitedWithCode(8), "check failed: weightsum>=0\n");
}

// Sums from 2^24 up are not exact in float: 38349514 / 941 is exactly 40754, while the
// float quotient truncates to 40753.
TEST_F(SoftenPlainTest, QuotientStaysExactBeyondFloatPrecision)
{
    MakeTestImage(2, 1, 16, {18750, 50752});
    testing::internal::CaptureStdout();
    ImgTransformSoften(1, 294, 647);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ImagePixels(), (std::vector<int>{40754, 28748}));
}

INSTANTIATE_TEST_SUITE_P(Both, SoftenTest, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Squared" : "Plain"); });
INSTANTIATE_TEST_SUITE_P(Both, SoftenDeathTest, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Squared" : "Plain"); });

// ---- End to end: the documented examples.

TEST(SoftenRunTest, WorkedExampleOfBothTransforms)
{
    std::vector<int> in{0, 0, 0, 0, 90, 0, 0, 0, 0};
    ExpectPgmRun(3, 3, 8, in, "-t:soften:1:8:1", "\nSoftened with radius  1, centerweight  8, neighborweight 1",
                 {8, 7, 8, 7, 45, 7, 8, 7, 8});
    // The edge windows have m = 623, whose root is truncated to 24.
    ExpectPgmRun(3, 3, 8, in, "-t:softensquared:1:8:1",
                 "\nSoftened using squared pixel values with radius  1, centerweight  8, neighborweight 1",
                 {27, 24, 27, 24, 63, 24, 27, 24, 27});
}

TEST(SoftenRunTest, HalfRoundsUp)
{
    ExpectPgmRun(2, 1, 8, {4, 5}, "-t:soften:1:1:1", "\nSoftened with radius  1, centerweight  1, neighborweight 1",
                 {5, 5});
}

TEST(SoftenRunTest, SquaredRootOfExactSquareIsKept)
{
    // m = (625 + 625 + 1) / 2 = 625, whose root 25 is exact.
    ExpectPgmRun(2, 1, 8, {25, 25}, "-t:softensquared:1:1:1",
                 "\nSoftened using squared pixel values with radius  1, centerweight  1, neighborweight 1",
                 {25, 25});
}

TEST(SoftenRunTest, SharpeningClampsBothWays)
{
    std::vector<int> in(9, 10);
    in[4] = 200;
    std::vector<int> out(9, 0);
    out[4] = 255;  // 1720 clamped
    ExpectPgmRun(3, 3, 8, in, "-t:soften:1:9:-1", "\nSoftened with radius  1, centerweight  9, neighborweight -1",
                 out);
}

TEST(SoftenRunTest, WholeImageRadiusGivesTheRoundedMean)
{
    ExpectPgmRun(3, 3, 8, {10, 20, 30, 40, 50, 60, 30, 20, 20}, "-t:soften:7:1:1",
                 "\nSoftened with radius  7, centerweight  1, neighborweight 1", std::vector<int>(9, 31));
}

TEST(SoftenRunTest, NeighboursOnlyWithCentreWeightZero)
{
    ExpectPgmRun(3, 1, 8, {10, 100, 11}, "-t:soften:1:0:1", "\nSoftened with radius  1, centerweight  0, neighborweight 1",
                 {100, 11, 100});
}

TEST(SoftenRunTest, NegativeWeightsumStopsWithoutOutput)
{
    RunResult run = ExpectStoppedRun(3, 3, 8, std::vector<int>(9, 4), "-t:soften:1:1:-1");
    EXPECT_TRUE(IsCheckStop(run, "weightsum>=0")) << run.err;
    run = ExpectStoppedRun(3, 3, 8, std::vector<int>(9, 4), "-t:softensquared:1:8:-1");
    EXPECT_TRUE(IsCheckStop(run, "weightsum>0")) << run.err;
}

TEST(SoftenRunTest, ResultAboveMaxvalIsTheStoreCheck)
{
    // Maxval 200 with depth 8: sharpening reaches 255 > 200 during the store-back.
    TempDir dir;
    std::vector<int> in(9, 10);
    in[4] = 200;
    dir.Write("in.pgm", MakePgm(3, 3, 200, in));
    RunResult run = RunGrayfix(dir, {"in.pgm", "-t:soften:1:9:-1", "out.pgm"});
    EXPECT_TRUE(IsCheckStop(run, "value <= ImgLevelMax && value >= 0")) << run.err;
    EXPECT_FALSE(dir.Exists("out.pgm"));
}

}  // namespace
