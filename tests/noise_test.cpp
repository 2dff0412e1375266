// noise_test.cpp - uniform, additive, salt-and-pepper and white Gaussian noise:
// draw order, arithmetic, limits, and whole runs of the tool.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <bit>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/stats.h"
#include "support/isaac.h"
#include "test_util.h"
#include "transforms/gaussdraws.h"
#include "transforms/noise.h"
#include "transforms/wgnoise.h"

using Transform = std::function<void(int)>;

// What a transform printed.
static std::string Printed(const Transform& transform, int percent)
{
    ::testing::internal::CaptureStdout();
    transform(percent);
    return ::testing::internal::GetCapturedStdout();
}

static std::string PrintedWG(double deviation)
{
    ::testing::internal::CaptureStdout();
    ImgTransformWGNoise(deviation);
    return ::testing::internal::GetCapturedStdout();
}

static std::vector<int> Pattern(int count, int maximum)
{
    std::vector<int> pixels(count);
    for (int j = 0; j < count; ++j) pixels[j] = (int)(((unsigned)j * 2654435761u) >> 13) & maximum;
    return pixels;
}

static std::set<int> Levels(const std::vector<int>& pixels)
{
    return std::set<int>(pixels.begin(), pixels.end());
}

static std::string NoiseMessage(int percent, int count, int pixels)
{
    char text[128];
    std::snprintf(text, sizeof text, "\nNoise (%d%%) done, noised %d of %d pixels (actually %f%%)",
                  percent, count, pixels, count * 100.0 / pixels);
    return text;
}

class NoiseTest : public ::testing::Test {
protected:
    void TearDown() override { FreeTestImage(); }
};
using NoiseDeathTest = NoiseTest;

TEST_F(NoiseTest, ZeroPercentChangesNothing)
{
    std::vector<int> pixels = Pattern(63, 65535);
    MakeTestImage(9, 7, 16, pixels);
    EXPECT_EQ(Printed(ImgTransformNoise, 0), "\nNoise (0%) done, noised 0 of 63 pixels (actually 0.000000%)");
    EXPECT_EQ(Printed(ImgTransformSPNoise, 0), "\nNoise (0%) done, noised 0 of 63 pixels (actually 0.000000%)");
    EXPECT_EQ(Printed(ImgTransformAddNoise, 0),
              "\nAddNoise (0%) done, actual noise added to pixel values: 0.000000%)");
    EXPECT_EQ(ImagePixels(), pixels);
}

TEST_F(NoiseTest, HundredPercentSelectsEveryPixel)
{
    MakeTestImage(9, 7, 16, Pattern(63, 65535));
    EXPECT_EQ(Printed(ImgTransformNoise, 100), NoiseMessage(100, 63, 63));
    EXPECT_EQ(Printed(ImgTransformSPNoise, 100), NoiseMessage(100, 63, 63));
    EXPECT_EQ(Levels(ImagePixels()), (std::set<int>{0, 65535}));
}

TEST_F(NoiseTest, OneBitImagesGetOnlyZeroAndOne)
{
    for (const Transform& transform : {Transform(ImgTransformNoise), Transform(ImgTransformSPNoise),
                                       Transform(ImgTransformAddNoise)}) {
        MakeTestImage(16, 16, 1, Pattern(256, 1));
        Printed(transform, 100);
        EXPECT_EQ(Levels(ImagePixels()), (std::set<int>{0, 1}));
    }
}

// The stream replayed by hand: one selection draw per pixel, then r1 and r2 of
// the uniform value ((r1 << 8) ^ r2), or one draw whose low bit picks salt.
TEST_F(NoiseTest, DrawsFollowTheSelectionThenValueOrder)
{
    for (bool saltAndPepper : {false, true}) {
        std::vector<int> pixels = Pattern(23 * 17, 255);
        MakeTestImage(23, 17, 8, pixels);
        IsaacContext context;
        IsaacSeedFromImage(context);
        int count = 0;
        for (int& value : pixels) {
            if (IsaacNext(context) % 100 >= 37) continue;
            ++count;
            uint32_t r1 = IsaacNext(context);
            if (saltAndPepper) { value = (r1 & 1) ? 255 : 0; continue; }
            uint32_t r2 = IsaacNext(context);
            value = (int)(((r1 << 8) ^ r2) & 255);
        }
        std::string message = Printed(saltAndPepper ? ImgTransformSPNoise : ImgTransformNoise, 37);
        EXPECT_EQ(message, NoiseMessage(37, count, 23 * 17));
        EXPECT_EQ(ImagePixels(), pixels) << (saltAndPepper ? "spnoise" : "noise");
    }
}

// At 100 % every pixel takes its own draw, made for every pixel.
TEST_F(NoiseTest, FullAdditiveNoiseTakesEveryDraw)
{
    std::vector<int> pixels = Pattern(31 * 9, 4095);
    MakeTestImage(31, 9, 12, pixels, 0);
    IsaacContext context;
    IsaacSeedFromImage(context);
    for (int& value : pixels) {
        uint32_t r1 = IsaacNext(context);
        uint32_t r2 = IsaacNext(context);
        value = (int)(((r1 << 8) ^ r2) & 4095);
    }
    EXPECT_EQ(Printed(ImgTransformAddNoise, 100),
              "\nAddNoise (100%) done, actual noise added to pixel values: 100.000000%)");
    EXPECT_EQ(ImagePixels(), pixels);
}

TEST(AddNoisePixelTest, ShortfallRaisesTheNextShare)
{
    double correction = 0, shareSum = 0;
    // 0.9 * 100 + 0.1 * 103 = 100.3 rounds to 100: nothing achieved, 10 owed.
    EXPECT_EQ(AddNoisePixel(100, 103, 10, correction, shareSum), 100);
    EXPECT_EQ(correction, 10.0);
    EXPECT_EQ(shareSum, 0.0);
    // The next pixel uses 10 + 0.2 * 10 = 12 %.
    EXPECT_EQ(AddNoisePixel(0, 100, 10, correction, shareSum), 12);
    EXPECT_DOUBLE_EQ(correction, 8.0);
    EXPECT_DOUBLE_EQ(shareSum, 12.0);
}

TEST(AddNoisePixelTest, ShareIsClampedAndRoundsHalfUp)
{
    double correction = 1000, shareSum = 0;  // 50 + 200 > 100: all noise
    EXPECT_EQ(AddNoisePixel(10, 20, 50, correction, shareSum), 20);
    EXPECT_DOUBLE_EQ(shareSum, 100.0);
    correction = -1000, shareSum = 0;  // below 0: nothing moves
    EXPECT_EQ(AddNoisePixel(10, 20, 50, correction, shareSum), 10);
    EXPECT_DOUBLE_EQ(shareSum, 0.0);
    correction = 0;  // exactly half way goes up, in either direction
    EXPECT_EQ(AddNoisePixel(0, 1, 50, correction, shareSum), 1);
    correction = 0;
    EXPECT_EQ(AddNoisePixel(1, 0, 50, correction, shareSum), 1);
}

// An image whose only pixel equals its own draw: K = 0, so the mean is 0/0.
TEST_F(NoiseTest, AdditiveNoiseWithoutDifferingPixelReportsZero)
{
    int found = -1;
    for (int bpp = 1; bpp <= 16 && found < 0; ++bpp)
        for (int value = 0; value <= (int)BppMask[bpp] && found < 0; ++value) {
            MakeTestImage(1, 1, bpp, {value});
            IsaacContext context;
            IsaacSeedFromImage(context);
            uint32_t r1 = IsaacNext(context);
            uint32_t r2 = IsaacNext(context);
            if ((int)(((r1 << 8) ^ r2) & BppMask[bpp]) == value) found = value;
        }
    ASSERT_GE(found, 0) << "no 1x1 image equals its draw";
    EXPECT_EQ(Printed(ImgTransformAddNoise, 50),
              "\nAddNoise (50%) done, actual noise added to pixel values: 0.000000%)");
    EXPECT_EQ(ImagePixels(), std::vector<int>{found});
}

TEST_F(NoiseDeathTest, PercentOutOfRangeStops)
{
    MakeTestImage(2, 2, 8);
    EXPECT_EXIT(ImgTransformNoise(101), ::testing::ExitedWithCode(8),
                "NoisePercent <= 100 && NoisePercent >= 0");
    EXPECT_EXIT(ImgTransformSPNoise(-1), ::testing::ExitedWithCode(8),
                "NoisePercent <= 100 && NoisePercent >= 0");
    EXPECT_EXIT(ImgTransformAddNoise(101), ::testing::ExitedWithCode(8),
                "NoisePercent <= 100 && NoisePercent >= 0");
}

// Salt is 2^bpp - 1, which a PGM maxval of 200 does not allow.
TEST_F(NoiseDeathTest, SaltAboveAnOddMaxvalStopsAtTheStore)
{
    MakeTestImage(4, 4, 8, {}, 1, 200);
    EXPECT_EXIT(ImgTransformSPNoise(100), ::testing::ExitedWithCode(8),
                "value <= ImgLevelMax && value >= 0");
}

// ---- White Gaussian noise -------------------------------------------------

TEST_F(NoiseTest, TinyDeviationLeavesEveryPixel)
{
    std::vector<int> pixels = Pattern(40 * 30, 65535);
    pixels[0] = 0;
    pixels[1] = 65535;
    MakeTestImage(40, 30, 16, pixels, 0);
    EXPECT_EQ(PrintedWG(0.0001), "\nWhite Gaussian moise (deviation 0.0001) added.");
    EXPECT_EQ(ImagePixels(), pixels);
}

// Expected share pinned at each end is P(n < -0.5) = 0.495 at deviation 40.
TEST_F(NoiseTest, GaussianNoiseClampsAtBothEnds)
{
    std::vector<int> pixels(64 * 64);
    std::fill(pixels.begin() + 32 * 64, pixels.end(), 255);
    MakeTestImage(64, 64, 8, pixels);
    PrintedWG(40);
    std::vector<int> after = ImagePixels();
    long dark = std::count(after.begin(), after.begin() + 32 * 64, 0);
    long bright = std::count(after.begin() + 32 * 64, after.end(), 255);
    EXPECT_GT(dark, 32 * 64 * 3 / 10);
    EXPECT_LT(dark, 32 * 64 * 7 / 10);
    EXPECT_GT(bright, 32 * 64 * 3 / 10);
    EXPECT_LT(bright, 32 * 64 * 7 / 10);
}

// Sums far outside the int range, and an infinite deviation, land on 0 or the
// maximum, with about even chance.
TEST_F(NoiseTest, HugeDeviationGivesOnlyTheExtremes)
{
    for (double deviation : {1e12, 1e300, std::numeric_limits<double>::infinity()}) {
        MakeTestImage(64, 64, 12, std::vector<int>(64 * 64, 2048));
        PrintedWG(deviation);
        std::vector<int> after = ImagePixels();
        EXPECT_EQ(Levels(after), (std::set<int>{0, 4095})) << deviation;
        long low = std::count(after.begin(), after.end(), 0);
        EXPECT_GT(low, 64 * 64 * 4 / 10) << deviation;
        EXPECT_LT(low, 64 * 64 * 6 / 10) << deviation;
    }
    MakeTestImage(32, 32, 1, Pattern(1024, 1));
    PrintedWG(1);
    EXPECT_EQ(Levels(ImagePixels()), (std::set<int>{0, 1}));
}

// 262144 samples: the standard errors of the mean and of the deviation are
// about 0.02 and 0.014, so 0.5 never flakes.
TEST_F(NoiseTest, GaussianSampleHasTheRequestedMoments)
{
    MakeTestImage(512, 512, 16, std::vector<int>(512 * 512, 32768));
    EXPECT_EQ(PrintedWG(10), "\nWhite Gaussian moise (deviation 10) added.");
    double sum = 0, squares = 0;
    for (int value : ImagePixels()) {
        sum += value - 32768;
        squares += (double)(value - 32768) * (value - 32768);
    }
    double mean = sum / (512 * 512);
    EXPECT_NEAR(mean, 0.0, 0.5);
    EXPECT_NEAR(std::sqrt(squares / (512 * 512) - mean * mean), 10.0, 0.5);
}

TEST(ClampNoisyTest, RoundsHalfAwayAndClampsEverySum)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(ClampNoisy(7, 2.5, 255), 3);
    EXPECT_EQ(ClampNoisy(7, 253.5, 255), 254);
    EXPECT_EQ(ClampNoisy(7, 254.5, 255), 255);
    EXPECT_EQ(ClampNoisy(7, -0.4, 255), 0);
    EXPECT_EQ(ClampNoisy(7, -2.5, 255), 0);
    EXPECT_EQ(ClampNoisy(7, 1e300, 255), 255);
    EXPECT_EQ(ClampNoisy(7, -1e300, 255), 0);
    EXPECT_EQ(ClampNoisy(7, inf, 1), 1);
    EXPECT_EQ(ClampNoisy(7, -inf, 65535), 0);
    EXPECT_EQ(ClampNoisy(7, std::nan(""), 255), 7);
}

TEST_F(NoiseDeathTest, DeviationNotAboveZeroStops)
{
    MakeTestImage(2, 2, 8);
    for (double deviation : {0.0, -1.0, std::nan("")})
        EXPECT_EXIT(ImgTransformWGNoise(deviation), ::testing::ExitedWithCode(8), "deviation>0.0")
            << deviation;
}

TEST(RandomDeviceDeathTest, UnreadableDeviceIsAnInputError)
{
    EXPECT_EXIT(ReadRandomDevice("no-such-device"), ::testing::ExitedWithCode(2),
                "\ngrayfix ERROR: ImgTransformWGNoise: Cannot read random device$");
}

// ---- The batched draws on every path ---------------------------------------

class GaussPathTest : public OnEveryPath<GaussPath> {};
using GaussPathDeathTest = GaussPathTest;

// The batches, one after another, are the very variates the standard
// distribution hands out over the same engine, bit for bit, whatever the seed
// (0 and 2^31-1 both become state 1, 2^32-1 wraps to 1 as well) and the deviation.
TEST_P(GaussPathTest, BatchesAreTheStandardDistributionsDraws)
{
    std::vector<unsigned long> seeds = {0, 1, 2147483646, 2147483647, 4294967295};
    std::mt19937 random(20261207);
    for (int k = 0; k < 5; ++k) seeds.push_back(random());
    const double deviations[] = {1.0, 10.0, 0.3, 1e300, std::numeric_limits<double>::infinity()};
    for (std::size_t k = 0; k < seeds.size(); ++k) {
        double deviation = deviations[k % std::size(deviations)];
        std::minstd_rand0 engine(seeds[k]);
        std::normal_distribution<double> distribution(0.0, deviation);
        uint32_t state = GaussSeedState(seeds[k]);
        double values[GaussBatchMaxValues];
        int mismatches = 0;
        for (int drawn = 0; drawn < 40000;) {
            int count = DrawGaussBatch(state, deviation, values);
            ASSERT_GT(count, GaussBatchMaxValues / 2);
            for (int i = 0; i < count; ++i, ++drawn) {
                double expected = distribution(engine);
                if (std::bit_cast<uint64_t>(values[i]) != std::bit_cast<uint64_t>(expected)
                    && ++mismatches <= 3)
                    ADD_FAILURE() << "seed " << seeds[k] << " draw " << drawn << ": " << values[i]
                                  << " instead of " << expected;
            }
        }
        EXPECT_EQ(mismatches, 0) << "seed " << seeds[k];
    }
}

// The transform with a given seed is the plain per-pixel loop over the
// standard distribution, on either byte order and sample width, with sizes
// that end batches anywhere.
TEST_P(GaussPathTest, ImageMatchesThePlainLoop)
{
    struct Case { int width, height, bpp, bigEndian; double deviation; unsigned long seed; };
    for (const Case& c : {Case{123, 45, 8, 1, 10.0, 12345}, Case{77, 61, 16, 1, 300.0, 0},
                          Case{1, 1000, 12, 0, 4000.0, 4294967295}, Case{1, 1, 1, 1, 0.7, 99},
                          Case{64, 64, 8, 1, std::numeric_limits<double>::infinity(), 7}}) {
        std::vector<int> pixels = Pattern(c.width * c.height, (int)BppMask[c.bpp]);
        std::minstd_rand0 engine(c.seed);
        std::normal_distribution<double> distribution(0.0, c.deviation);
        distribution(engine);
        std::vector<int> expected = pixels;
        for (int& value : expected)
            value = ClampNoisy(value, value + distribution(engine), (int)BppMask[c.bpp]);
        MakeTestImage(c.width, c.height, c.bpp, pixels, c.bigEndian);
        ImgAddWGNoise(c.deviation, c.seed);
        EXPECT_EQ(ImagePixels(), expected) << c.width << "x" << c.height << " " << c.bpp << " bits";
        FreeTestImage();
    }
}

// The stretch clamp is ClampNoisy for every kind of sum, at every position of
// a run (the vector paths end runs with a scalar tail).
TEST_P(GaussPathTest, ClampRunIsClampNoisy)
{
    const double inf = std::numeric_limits<double>::infinity();
    std::mt19937 random(7);
    for (int maximum : {1, 255, 4095, 65535}) {
        std::vector<int> values;
        std::vector<double> noise;
        for (int k = 0; k < 4000; ++k) {
            int value = (int)(random() % (unsigned)(maximum + 1));
            const double tricky[] = {0.5, -0.5, 1.5, -2.5, 0.49999999999999994, -0.49999999999999994,
                                     -value - 0.5, -value - 0.49999999999999994, maximum - value + 0.5,
                                     maximum - value - 0.5, maximum + 0.5, -0.0, 1e300, -1e300, inf,
                                     -inf, std::nan(""), 0x1p52 + 1, -0x1p31, 2147483648.0};
            double n = k % 3 == 0 ? tricky[random() % std::size(tricky)]
                                  : std::ldexp((double)random() / 4294967296.0 - 0.5, (int)(random() % 20));
            values.push_back(value);
            noise.push_back(n);
        }
        std::vector<int> expected(values.size());
        for (std::size_t k = 0; k < values.size(); ++k)
            expected[k] = ClampNoisy(values[k], values[k] + noise[k], maximum);
        for (int count : {0, 1, 7, 8, 9, 1000, 4000}) {
            std::vector<int> run(values.begin(), values.begin() + count);
            int largest = ClampNoisyRun(run.data(), noise.data(), count, maximum);
            std::vector<int> want(expected.begin(), expected.begin() + count);
            EXPECT_EQ(run, want) << "maximum " << maximum << ", " << count << " values";
            EXPECT_EQ(largest, count ? *std::max_element(want.begin(), want.end()) : 0);
        }
    }
}

// A sample above the maxval stops the run at its read, a noisy value above it
// at its store, as pixel by pixel.
TEST_P(GaussPathDeathTest, OddMaxvalStopsAtTheAccessors)
{
    MakeTestImage(40, 40, 8, std::vector<int>(1600, 100), 1, 200);
    EXPECT_EXIT(ImgAddWGNoise(1000.0, 5), ::testing::ExitedWithCode(8),
                "value <= ImgLevelMax && value >= 0");
    FreeTestImage();
    std::vector<int> pixels(1600, 100);
    pixels[1500] = 201;
    MakeTestImage(40, 40, 8, {}, 1, 255);
    for (int i = 0; i < 1600; ++i) SetPixel(i % 40, i / 40, pixels[(std::size_t)i]);
    ImgLevelMax = 200;
    EXPECT_EXIT(ImgAddWGNoise(0.0001, 5), ::testing::ExitedWithCode(8),
                "value <= ImgLevelMax && value >= 0");
}

INSTANTIATE_TEST_SUITE_P(Paths, GaussPathTest, ::testing::Values(GaussPortable, GaussAvx512),
                         [](const auto& info) {
                             return std::string(info.param == GaussPortable ? "Portable" : "Avx512");
                         });
INSTANTIATE_TEST_SUITE_P(Paths, GaussPathDeathTest, ::testing::Values(GaussPortable, GaussAvx512),
                         [](const auto& info) {
                             return std::string(info.param == GaussPortable ? "Portable" : "Avx512");
                         });

// ---- Whole runs -----------------------------------------------------------

// The statistics block the tool prints for these pixels.
static std::string StatsText(int width, int height, int bpp, int maxval, bool little,
                             const std::vector<int>& pixels)
{
    MakeTestImage(width, height, bpp, pixels, little ? 0 : 1, maxval);
    ::testing::internal::CaptureStdout();
    PrintImgStats();
    ReportImgStats();
    FreeTestImage();
    return ::testing::internal::GetCapturedStdout();
}

struct PgmCase {
    int width, height, bpp, maxval;
    bool little;
};

// Standard output of "grayfix in.pgm <switch> out.pgm" that printed message
// and turned the input pixels into the output pixels.
static std::string ExpectedStdout(const PgmCase& c, const std::vector<int>& in,
                                  const std::string& message, const std::vector<int>& out)
{
    int skip = (int)MakePgm(c.width, c.height, c.maxval, {}).size();
    int bytepp = c.maxval > 255 ? 2 : 1;
    auto info = [&](const char* title, const char* name) {
        return InfoBlock(title, name, c.width, c.height, bytepp, c.bpp, c.maxval, c.little ? 0 : 1,
                         0, skip);
    };
    return info("Input Image", "in.pgm") + StatsText(c.width, c.height, c.bpp, c.maxval, c.little, in)
         + "\n" + message + StatsText(c.width, c.height, c.bpp, c.maxval, c.little, out)
         + info("Outputting to", "out.pgm") + "\nDone.\n";
}

static RunResult RunOnPgm(const TempDir& dir, const PgmCase& c, const std::string& transform,
                          const std::string& outName = "out.pgm")
{
    std::vector<std::string> args;
    if (c.little) args.push_back("-i:endian:Little");
    args.insert(args.end(), {"in.pgm", transform, outName});
    return RunGrayfix(dir, args);
}

struct RunCase {
    const char* name;
    const char* prefix;
    void (*transform)(int);
    PgmCase pgm;
    int percent;
};
class NoiseRun : public ::testing::TestWithParam<RunCase> {};

// A whole run matches the transform run in the store, byte for byte, on
// every run; 0 % writes the input back unchanged.
TEST_P(NoiseRun, MatchesTheStoreAndRepeats)
{
    const RunCase& c = GetParam();
    const PgmCase& p = c.pgm;
    std::vector<int> in = Pattern(p.width * p.height, p.maxval);
    MakeTestImage(p.width, p.height, p.bpp, in, p.little ? 0 : 1, p.maxval);
    std::string message = Printed(c.transform, c.percent);
    std::vector<int> out = ImagePixels();
    FreeTestImage();
    if (c.percent == 0) {
        EXPECT_EQ(out, in);
    }

    TempDir dir;
    dir.Write("in.pgm", MakePgm(p.width, p.height, p.maxval, in, p.little));
    std::string transform = std::string(c.prefix) + std::to_string(c.percent);
    RunResult r = RunOnPgm(dir, p, transform);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, ExpectedStdout(p, in, message, out));
    EXPECT_EQ(dir.Read("out.pgm"), MakePgm(p.width, p.height, p.maxval, out, p.little));
    RunOnPgm(dir, p, transform, "again.pgm");
    EXPECT_EQ(dir.Read("again.pgm"), dir.Read("out.pgm"));
}
INSTANTIATE_TEST_SUITE_P(
    Switches, NoiseRun,
    ::testing::Values(
        RunCase{"Noise8", "-t:noise:", ImgTransformNoise, {23, 17, 8, 255, false}, 37},
        RunCase{"Noise16Little", "-t:noise:", ImgTransformNoise, {23, 17, 16, 65535, true}, 37},
        RunCase{"NoiseZero", "-t:noise:", ImgTransformNoise, {23, 17, 8, 255, false}, 0},
        RunCase{"SPNoise8", "-t:spnoise:", ImgTransformSPNoise, {23, 17, 8, 255, false}, 15},
        RunCase{"SPNoiseFull16", "-t:spnoise:", ImgTransformSPNoise, {23, 17, 16, 65535, false}, 100},
        RunCase{"SPNoiseZero", "-t:spnoise:", ImgTransformSPNoise, {23, 17, 16, 65535, true}, 0},
        RunCase{"AddNoise8", "-t:addnoise:", ImgTransformAddNoise, {23, 17, 8, 255, false}, 10},
        RunCase{"AddNoise16Little", "-t:addnoise:", ImgTransformAddNoise, {23, 17, 16, 65535, true}, 63},
        RunCase{"AddNoiseZero", "-t:addnoise:", ImgTransformAddNoise, {23, 17, 8, 255, false}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Sizes whose last seed word reaches past the end of the image.
class NoiseRunSize : public ::testing::TestWithParam<std::pair<int, int>> {};
TEST_P(NoiseRunSize, RunsCleanly)
{
    auto [width, height] = GetParam();
    TempDir dir;
    std::vector<int> in = Pattern(width * height, 255);
    dir.Write("in.pgm", MakePgm(width, height, 255, in));
    for (const char* transform : {"-t:noise:50", "-t:spnoise:50", "-t:addnoise:50"}) {
        RunResult r = RunGrayfix(dir, {"in.pgm", transform, "out.pgm"});
        EXPECT_EQ(r.status, 0) << transform << r.err;
        EXPECT_EQ(r.signal, 0) << transform;
        EXPECT_EQ(dir.Read("out.pgm").size(), MakePgm(width, height, 255, in).size()) << transform;
    }
}
INSTANTIATE_TEST_SUITE_P(Sizes, NoiseRunSize,
                         ::testing::Values(std::pair{1, 1}, std::pair{2, 1}, std::pair{1, 3},
                                           std::pair{257, 1}, std::pair{1, 258}, std::pair{27, 19}),
                         [](const auto& info) {
                             return std::to_string(info.param.first) + "x"
                                  + std::to_string(info.param.second);
                         });

TEST(WGNoiseRun, TinyDeviationWritesTheInputBack)
{
    PgmCase p{16, 12, 16, 65535, false};
    std::vector<int> in = Pattern(16 * 12, 65535);
    TempDir dir;
    dir.Write("in.pgm", MakePgm(16, 12, 65535, in));
    RunResult r = RunOnPgm(dir, p, "-t:wgnoise:0.0001");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, ExpectedStdout(p, in, "\nWhite Gaussian moise (deviation 0.0001) added.", in));
    EXPECT_EQ(dir.Read("out.pgm"), MakePgm(16, 12, 65535, in));
}

TEST(WGNoiseRun, InfiniteDeviationGivesTheExtremes)
{
    TempDir dir;
    dir.Write("in.pgm", MakePgm(32, 32, 255, std::vector<int>(1024, 128)));
    RunResult r = RunGrayfix(dir, {"in.pgm", "-t:wgnoise:inf", "-o:RAW", "out.raw"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("\n\nWhite Gaussian moise (deviation inf) added.\n\nActual minLevel: 0 "
                         "maxLevel: 255 numLevels: 2 "),
              std::string::npos);
    Bytes out = dir.Read("out.raw");
    EXPECT_EQ(out.size(), 1024u);
    EXPECT_EQ(std::set<int>(out.begin(), out.end()), (std::set<int>{0, 255}));
}
