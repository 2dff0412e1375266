// decorrelate_test.cpp - average and MED residual transforms: worked examples, stops and round trips.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "test_util.h"
#include "transforms/decorrelate.h"

namespace {

struct Direction {
    const char* name;
    void (*forward)();
    void (*inverse)();
    const char* forwardSwitch;
    const char* inverseSwitch;
    const char* forwardMessage;
    const char* inverseMessage;
};
const Direction Average{"Average", ImgTransformDecorrelate, ImgTransformCorrelate,
                        "-t:decorrelate", "-t:correlate", "\nDecorrelated", "\nCorrelated"};
const Direction Med{"MED", ImgTransformDecorrelateMED, ImgTransformCorrelateMED,
                    "-t:decorrelatemed", "-t:correlatemed", "\nDecorrelated using MED",
                    "\nCorrelated using MED"};

std::string Quietly(void (*transform)())
{
    testing::internal::CaptureStdout();
    transform();
    return testing::internal::GetCapturedStdout();
}

class DecorrelateTest : public ::testing::TestWithParam<Direction> {
protected:
    void TearDown() override { FreeTestImage(); }
    // Residual image of a depth-B source: depth B + 1.
    void ExpectResidualDepth(int sourceDepth)
    {
        EXPECT_EQ(Imgbpp, sourceDepth + 1);
        EXPECT_EQ(ImgLevelMax, (int)BppMask[sourceDepth + 1]);
        EXPECT_EQ(ImgBYTEpp, sourceDepth / 8 + 1);
    }
};

TEST_P(DecorrelateTest, OnePixelGetsTheOffset)
{
    for (int v : {0, 255}) {
        MakeTestImage(1, 1, 8, {v});
        EXPECT_EQ(Quietly(GetParam().forward),
                  std::string("\nImage depth increased from 8 to 9 (ImgBYTEpp=2, ImgLevelMax=511)"
                              "\nPixel values NOT shifted (mode 0)")
                      + GetParam().forwardMessage);
        ExpectResidualDepth(8);
        EXPECT_EQ(ImagePixels(), (std::vector<int>{v + 255}));
    }
}

TEST_P(DecorrelateTest, ConstantImageLeavesOnlyTheCorner)
{
    MakeTestImage(4, 3, 8, std::vector<int>(12, 77));
    Quietly(GetParam().forward);
    std::vector<int> residuals(12, 255);
    residuals[0] = 77 + 255;
    EXPECT_EQ(ImagePixels(), residuals);
}

TEST_P(DecorrelateTest, OneBitImageGivesResidualsUpToTwo)
{
    MakeTestImage(3, 2, 1, {1, 0, 1, 0, 1, 1});
    Quietly(GetParam().forward);
    ExpectResidualDepth(1);
    EXPECT_EQ(ImagePixels(), (std::vector<int>{2, 0, 2, 0, 2, 1}));
}

TEST_P(DecorrelateTest, InverseUndoesForwardForEveryDepth)
{
    std::mt19937 random(99);
    for (int depth = 1; depth <= 15; ++depth)
        for (int bigEndian : {1, 0}) {
            int levelMax = (int)BppMask[depth];
            std::vector<int> pixels(40 * 30);
            for (int& v : pixels) v = (int)(random() % (unsigned)(levelMax + 1));
            pixels[0] = levelMax;  // the largest residual, 2^(B+1) - 2
            MakeTestImage(40, 30, depth, pixels, bigEndian);
            Quietly(GetParam().forward);
            ASSERT_EQ(ImagePixels()[0], 2 * levelMax) << depth;
            Quietly(GetParam().inverse);
            EXPECT_EQ(Imgbpp, depth);
            ASSERT_EQ(ImagePixels(), pixels) << "depth " << depth << " bigEndian " << bigEndian;
        }
}

INSTANTIATE_TEST_SUITE_P(Predictors, DecorrelateTest, ::testing::Values(Average, Med),
                         [](const auto& info) { return std::string(info.param.name); });

class PredictorTest : public ::testing::Test {
protected:
    void TearDown() override { FreeTestImage(); }
    // The prediction for the lower-right pixel of c b / a v, read off its residual.
    static int PredictionAt(void (*forward)(), int a, int b, int c)
    {
        MakeTestImage(2, 2, 8, {c, b, a, 100});
        Quietly(forward);
        return 100 + 255 - ImagePixels()[3];
    }
};

TEST_F(PredictorTest, AverageIsTheFloorOfTheMean)
{
    EXPECT_EQ(PredictionAt(ImgTransformDecorrelate, 4, 3, 0), 3);
    EXPECT_EQ(PredictionAt(ImgTransformDecorrelate, 255, 254, 0), 254);
    // Borders: above for the first column, left for the first row.
    MakeTestImage(2, 2, 8, {9, 3, 4, 50});
    Quietly(ImgTransformDecorrelate);
    EXPECT_EQ(ImagePixels(), (std::vector<int>{264, 249, 250, 302}));
}

TEST_F(PredictorTest, MedFollowsEdgesAndPlanes)
{
    struct Case { int a, b, c, prediction; };
    for (Case k : {Case{10, 20, 5, 20}, Case{10, 20, 25, 10}, Case{10, 20, 20, 10},
                   Case{10, 20, 10, 20}, Case{10, 20, 15, 15}, Case{20, 10, 12, 18},
                   Case{7, 7, 0, 7}, Case{7, 7, 7, 7}, Case{7, 7, 200, 7}})
        EXPECT_EQ(PredictionAt(ImgTransformDecorrelateMED, k.a, k.b, k.c), k.prediction)
            << "a " << k.a << " b " << k.b << " c " << k.c;
}

// ---- End to end

class DecorrelateRunTest : public ::testing::TestWithParam<Direction> {
protected:
    TempDir dir_;
};

TEST_P(DecorrelateRunTest, OnePixelThereAndBack)
{
    const Direction& d = GetParam();
    dir_.Write("in.pgm", MakePgm(1, 1, 255, {255}));
    RunResult there = RunGrayfix(dir_, {"in.pgm", d.forwardSwitch, "res.pgm"});
    EXPECT_EQ(there.out, ExpectedInput("in.pgm", 1, 1, 1, 0, 11, 8, 255, {255})
                       + "\nImage depth increased from 8 to 9 (ImgBYTEpp=2, ImgLevelMax=511)"
                         "\nPixel values NOT shifted (mode 0)"
                       + d.forwardMessage
                       + ExpectedOutput("res.pgm", 1, 1, 1, 0, 11, 9, 511, {510}));
    EXPECT_EQ(there.err, "");
    EXPECT_EQ(there.status, 0);
    EXPECT_EQ(dir_.Read("res.pgm"), MakePgm(1, 1, 511, {510}));

    RunResult back = RunGrayfix(dir_, {"res.pgm", d.inverseSwitch, "out.pgm"});
    EXPECT_EQ(back.out, ExpectedInput("res.pgm", 1, 1, 1, 0, 11, 9, 511, {510})
                      + "\nImage depth cropped from 9 to 8 (ImgBYTEpp=1, ImgLevelMax=255), "
                        "pixel intensities not changed"
                      + d.inverseMessage + ExpectedOutput("out.pgm", 1, 1, 1, 0, 11, 8, 255, {255}));
    EXPECT_EQ(back.err, "");
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(dir_.Read("out.pgm"), dir_.Read("in.pgm"));
}

TEST_P(DecorrelateRunTest, Maxval200ComesBackAs255)
{
    const Direction& d = GetParam();
    std::vector<int> pixels{0, 100, 200, 199, 3, 150};
    dir_.Write("in.pgm", MakePgm(3, 2, 200, pixels));
    ASSERT_EQ(RunGrayfix(dir_, {"in.pgm", d.forwardSwitch, "res.pgm"}).status, 0);
    RunResult back = RunGrayfix(dir_, {"res.pgm", d.inverseSwitch, "out.pgm"});
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(dir_.Read("out.pgm"), MakePgm(3, 2, 255, pixels));
}

TEST_P(DecorrelateRunTest, InverseOfNoResidualImageStopsWithoutOutput)
{
    const Direction& d = GetParam();
    std::vector<int> low{10, 300}, high{511, 0};
    dir_.Write("low.pgm", MakePgm(2, 1, 511, low));
    RunResult negative = RunGrayfix(dir_, {"low.pgm", d.inverseSwitch, "out.pgm"});
    EXPECT_EQ(negative.out, ExpectedInput("low.pgm", 2, 1, 1, 0, 11, 9, 511, low));
    EXPECT_TRUE(IsCheckStop(negative, "value <= ImgLevelMax && value >= 0")) << negative.err;

    dir_.Write("high.pgm", MakePgm(2, 1, 511, high));
    RunResult tooHigh = RunGrayfix(dir_, {"high.pgm", d.inverseSwitch, "out.pgm"});
    EXPECT_EQ(tooHigh.out, ExpectedInput("high.pgm", 2, 1, 1, 0, 11, 9, 511, high));
    EXPECT_EQ(tooHigh.err, "\ngrayfix ERROR: ImgTransformCropDepth: pixel value too high");
    EXPECT_EQ(tooHigh.status, 7);
    EXPECT_FALSE(dir_.Exists("out.pgm"));
}

TEST_P(DecorrelateRunTest, DriverRefusesDepthsOutOfRange)
{
    const Direction& d = GetParam();
    struct Case { int bpp; const char* transform; std::string message; };
    for (const Case& c : {Case{16, d.forwardSwitch,
                               std::string("Bit depths 1-15 are supported in ") + d.forwardSwitch + " "},
                          Case{1, d.inverseSwitch,
                               std::string("Bit depths 2-16 are supported in ") + d.inverseSwitch + " "}}) {
        std::vector<int> pixels{1, 0};
        dir_.Write("in.raw", SampleBytes(pixels, (c.bpp - 1) / 8 + 1));
        RunResult run = RunGrayfix(
            dir_, {"-i:RAW:2:1:" + std::to_string(c.bpp), "in.raw", c.transform, "out.raw"});
        EXPECT_EQ(run.out, ExpectedInput("in.raw", 2, 1, 1, 1, 0, c.bpp, (int)BppMask[c.bpp], pixels));
        EXPECT_EQ(run.err, "\ngrayfix ERROR: " + c.message);
        EXPECT_EQ(run.status, 1);
        EXPECT_FALSE(dir_.Exists("out.raw"));
    }
}

// Forward then inverse returns the input file byte for byte, for every depth,
// both byte orders and both file formats.
TEST_P(DecorrelateRunTest, RoundTripIsLosslessForEveryDepth)
{
    const Direction& d = GetParam();
    std::mt19937 random(2024);
    for (int depth = 1; depth <= 15; ++depth)
        for (int bigEndian : {1, 0})
            for (bool raw : {false, true}) {
                int width = 1 + (int)(random() % 12), height = 1 + (int)(random() % 12);
                std::vector<int> pixels(width * height);
                // Mostly smooth with jumps, so residuals reach both ends of their range.
                int levelMax = (int)BppMask[depth];
                for (int& v : pixels)
                    v = random() % 4 == 0
                            ? (int)(random() % (unsigned)(levelMax + 1))
                            : std::clamp(levelMax / 2 + (int)(random() % 3) - 1, 0, levelMax);
                std::string size = std::to_string(width) + ":" + std::to_string(height) + ":";
                std::vector<std::string> endian{bigEndian ? "-i:endian:Big" : "-i:endian:Little"};
                Bytes input;
                std::vector<std::string> there = endian, back = endian;
                if (raw) {
                    input = SampleBytes(pixels, (depth - 1) / 8 + 1, !bigEndian);
                    there.push_back("-i:RAW:" + size + std::to_string(depth));
                    back.push_back("-i:RAW:" + size + std::to_string(depth + 1));
                } else {
                    input = MakePgm(width, height, (int)BppMask[depth], pixels, !bigEndian);
                }
                dir_.Write("in", input);
                for (const std::string& a : {std::string("in"), std::string(d.forwardSwitch)}) there.push_back(a);
                for (const std::string& a : {std::string("res"), std::string(d.inverseSwitch)}) back.push_back(a);
                if (raw) { there.push_back("-o:RAW"); back.push_back("-o:RAW"); }
                there.push_back("res");
                back.push_back("out");
                RunResult forward = RunGrayfix(dir_, there), inverse = RunGrayfix(dir_, back);
                std::string label = "depth " + std::to_string(depth) + " bigEndian "
                                  + std::to_string(bigEndian) + (raw ? " RAW" : " PGM");
                ASSERT_EQ(forward.status, 0) << label << forward.err;
                ASSERT_EQ(inverse.status, 0) << label << inverse.err;
                EXPECT_NE(forward.out.find(d.forwardMessage), std::string::npos) << label;
                EXPECT_NE(inverse.out.find(d.inverseMessage), std::string::npos) << label;
                ASSERT_EQ(dir_.Read("out"), input) << label;
            }
}

INSTANTIATE_TEST_SUITE_P(Predictors, DecorrelateRunTest, ::testing::Values(Average, Med),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
