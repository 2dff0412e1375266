// depth_test.cpp - depth reduction, crop, crop-like and increase: unit, death and end-to-end tests.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "support/crc32.h"
#include "test_util.h"
#include "transforms/increasedepth.h"
#include "transforms/reducedepth.h"

namespace {

// A text as a regular expression that matches exactly it (for EXPECT_EXIT).
std::string Literally(const std::string& text)
{
    std::string pattern;
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) pattern += '\\';
        pattern += c;
    }
    return pattern;
}

// What the transform prints on standard output.
template <class Transform>
std::string Printed(Transform transform)
{
    testing::internal::CaptureStdout();
    transform();
    return testing::internal::GetCapturedStdout();
}

// The first width*height*ImgBYTEpp bytes of the buffer.
Bytes StoredBytes()
{
    return Bytes(ImgData, ImgData + (std::size_t)ImgImageWidth * ImgImageHeight * ImgBYTEpp);
}

std::vector<int> RandomPixels(std::mt19937& random, int count, int levelMax)
{
    std::vector<int> pixels(count);
    for (int& v : pixels) v = (int)(random() % (unsigned)(levelMax + 1));
    return pixels;
}

class DepthTest : public ::testing::Test {
protected:
    void TearDown() override { FreeTestImage(); }
    void ExpectDepth(int bpp, int levelMax, int bytepp)
    {
        EXPECT_EQ(Imgbpp, bpp);
        EXPECT_EQ(ImgLevelMax, levelMax);
        EXPECT_EQ(ImgBYTEpp, bytepp);
    }
    // A reference PGM whose header is exactly this text.
    std::string Reference(const std::string& header)
    {
        dir_.Write("ref.pgm", ToBytes(header));
        return dir_.Path("ref.pgm");
    }
    TempDir dir_;
};
using DepthDeathTest = DepthTest;


// ---- Reduction

// Packing runs forward in place; a wrong order garbles all but a few pixels.
TEST_F(DepthTest, ReduceEqualsShiftForEveryDepthPair)
{
    std::mt19937 random(11);
    for (int oldDepth = 2; oldDepth <= 16; ++oldDepth)
        for (int newDepth = 1; newDepth < oldDepth; ++newDepth)
            for (int bigEndian : {1, 0}) {
                std::vector<int> pixels = RandomPixels(random, 9 * 7, (int)BppMask[oldDepth]);
                MakeTestImage(9, 7, oldDepth, pixels, bigEndian);
                testing::internal::CaptureStdout();
                ImgTransformReduceDepth(newDepth);
                testing::internal::GetCapturedStdout();
                for (int& v : pixels) v >>= oldDepth - newDepth;
                ExpectDepth(newDepth, (int)BppMask[newDepth], (newDepth - 1) / 8 + 1);
                ASSERT_EQ(StoredBytes(), SampleBytes(pixels, ImgBYTEpp, !bigEndian))
                    << oldDepth << " to " << newDepth << " bigEndian " << bigEndian;
            }
}

// ---- Increase: a widening that fails

// The enlarged buffer cannot be had: the old one stays in ImgData, so the
// failure path (here an exit handler, in the fuzz build the harness) still
// holds the image and can free it.
// Leaves 4 MiB of address space, then widens the 8 MiB image of 7s; ends
// with 3 when the image is still in ImgData at exit, 42 when it is lost.
void WidenWithLittleRoom()
{
    LeaveAddressSpace(std::size_t(4) << 20);
    std::atexit([] {
        std::size_t bytes = (std::size_t)ImgImageWidth * (std::size_t)ImgImageHeight;
        bool kept = ImgData != nullptr && ImgData[0] == 7 && ImgData[bytes - 1] == 7;
        std::free(ImgData);
        _exit(kept ? 3 : 42);
    });
    ImgTransformIncreaseDepth(16, 0);
}

TEST_F(DepthDeathTest, FailedWideningKeepsTheOldBuffer)
{
#if defined(__SANITIZE_ADDRESS__) || defined(GRAYFIX_EMULATOR)
    GTEST_SKIP() << "an address-space limit binds the sanitizer's or the emulator's reservations";
#endif
    const int width = 4096, height = 2048;  // 8 MiB at one byte per pixel, 16 MiB widened
    MakeTestImage(width, height, 8, std::vector<int>((std::size_t)width * height, 7));
    EXPECT_EXIT(WidenWithLittleRoom(), testing::ExitedWithCode(3),
                "ImgTransformIncreaseDepth: Cannot reallocate");
}

// ---- Crop and crop-clip

TEST_F(DepthTest, Crop16To8KeepsFittingIntensities)
{
    MakeTestImage(2, 2, 16, {255, 0, 17, 200}, 0);
    EXPECT_EQ(Printed([] { ImgTransformCropDepth(8, 0); }),
              "\nImage depth cropped from 16 to 8 (ImgBYTEpp=1, ImgLevelMax=255), "
              "pixel intensities not changed");
    ExpectDepth(8, 255, 1);
    EXPECT_EQ(StoredBytes(), (Bytes{255, 0, 17, 200}));
}

TEST_F(DepthDeathTest, CropStopsAtFirstTooHighIntensity)
{
    MakeTestImage(2, 1, 16, {0, 256});
    EXPECT_EXIT(ImgTransformCropDepth(8, 0), testing::ExitedWithCode(7),
                "ImgTransformCropDepth: pixel value too high");
}

// ---- Crop-like

TEST_F(DepthTest, CropLikeCountsOnlyTheMaxval)
{
    // Width and height are neither stored nor checked; comments and CR LF are
    // the header grammar's.
    for (const char* header : {"P5\n0 -7\n255\n", "P5#c\n3#x\r\n 2\t255\r\n", "P53 2 255 "}) {
        MakeTestImage(2, 1, 8, {200, 3}, 1, 200);
        std::string reference = Reference(header);
        EXPECT_EQ(Printed([&] { ImgTransformCropDepthLike(reference.c_str()); }),
                  "\nImage depth retrieved from " + reference + " is 8. "
                  "\nImage depth cropped from 8 to 8 (ImgBYTEpp=1, ImgLevelMax=255), "
                  "pixel intensities not changed")
            << header;
        ExpectDepth(8, 255, 1);
        EXPECT_EQ(ImgImageWidth, 2);
        EXPECT_EQ(ImagePixels(), (std::vector<int>{200, 3}));
    }
}

TEST_F(DepthTest, CropLikeToMoreBitsInTheSameBytesOnlyRelabels)
{
    MakeTestImage(2, 1, 3, {7, 0});
    std::string reference = Reference("P5 1 1 31\n");
    EXPECT_EQ(Printed([&] { ImgTransformCropDepthLike(reference.c_str()); }),
              "\nImage depth retrieved from " + reference + " is 5. "
              "\nImage depth cropped from 3 to 5 (ImgBYTEpp=1, ImgLevelMax=31), "
              "pixel intensities not changed");
    EXPECT_EQ(StoredBytes(), (Bytes{7, 0}));
}

// A one-byte image cropped "like" a 9..16-bit file is widened in place, not
// written past its buffer (the sanitizer build would catch that).
TEST_F(DepthTest, CropLikeWidensAOneByteImage)
{
    std::mt19937 random(5);
    for (int bigEndian : {1, 0}) {
        std::vector<int> pixels = RandomPixels(random, 31 * 17, 255);
        MakeTestImage(31, 17, 8, pixels, bigEndian);
        std::string reference = Reference("P5\n1 1\n1000\n");
        EXPECT_EQ(Printed([&] { ImgTransformCropDepthLike(reference.c_str()); }),
                  "\nImage depth retrieved from " + reference + " is 10. "
                  "\nImage depth cropped from 8 to 10 (ImgBYTEpp=2, ImgLevelMax=1023), "
                  "pixel intensities not changed");
        ExpectDepth(10, 1023, 2);
        EXPECT_EQ(StoredBytes(), SampleBytes(pixels, 2, !bigEndian));
    }
}

TEST_F(DepthDeathTest, CropLikeOfMaxval1000StopsAbove1023)
{
    MakeTestImage(2, 1, 16, {1023, 1024});
    std::string reference = Reference("P5 1 1 1000\n");
    EXPECT_EXIT(ImgTransformCropDepthLike(reference.c_str()), testing::ExitedWithCode(7),
                "ImgTransformCropDepth: pixel value too high");
}

TEST_F(DepthDeathTest, CropLikeReferenceFileFailures)
{
    MakeTestImage(1, 1, 8, {0});
    EXPECT_EXIT(ImgTransformCropDepthLike(dir_.Path("missing.pgm").c_str()),
                testing::ExitedWithCode(2), "ReadPgm: Cannot open input");
    for (const char* header : {"", " P5 1 1 255\n", "P6 1 1 255\n", "P5 1 1 255", "P5 1 1 255\rx",
                               "P5 1 1\n", "P5 1 1 # no LF", "P5 1 1 2147483648\n"}) {
        std::string reference = Reference(header);
        EXPECT_EXIT(ImgTransformCropDepthLike(reference.c_str()), testing::ExitedWithCode(2),
                    "ReadPgm: Bad pgm header")
            << header;
    }
}

// Reference maxvals outside 1..65535 stop in a check, before any pixel moves.
TEST_F(DepthDeathTest, CropLikeReferenceMaxvalOutOfRange)
{
    struct Case { const char* header; int bpp; const char* condition; };
    for (Case c : {Case{"P5 1 1 -1\n", 8, "val>0"},
                   Case{"P5 1 1 -5", 8, "val>0"},  // depth first, terminator second
                   Case{"P5 1 1 2147483647\n", 8, "val>0"},
                   Case{"P5 1 1 0\n", 8, "depthDiff < Imgbpp"},
                   Case{"P5 1 1 65536\n", 8, "ImgBYTEpp == 2"},
                   Case{"P5 1 1 65536\n", 16, "ImgBYTEpp == 2"},
                   Case{"P5 1 1 1073741824\n", 8, "ImgBYTEpp == 2"}}) {
        MakeTestImage(3, 2, c.bpp, {1, 2, 3, 4, 5, 6});
        std::string reference = Reference(c.header);
        EXPECT_EXIT(ImgTransformCropDepthLike(reference.c_str()), testing::ExitedWithCode(8),
                    Literally(std::string("check failed: ") + c.condition))
            << c.header;
    }
}

// ---- Increase

TEST_F(DepthTest, IncreaseOfMaxval200KeepsIntensities)
{
    MakeTestImage(2, 1, 8, {200, 9}, 1, 200);
    testing::internal::CaptureStdout();
    ImgTransformIncreaseDepth(9, 0);
    testing::internal::GetCapturedStdout();
    ExpectDepth(9, 511, 2);
    EXPECT_EQ(ImagePixels(), (std::vector<int>{200, 9}));
}

// Widening runs backward in place; any other order overwrites unread samples.
TEST_F(DepthTest, IncreaseEqualsShiftForEveryDepthPair)
{
    std::mt19937 random(3);
    for (int oldDepth = 1; oldDepth <= 15; ++oldDepth)
        for (int newDepth = oldDepth + 1; newDepth <= 16; ++newDepth)
            for (int mode : {0, 1}) {
                int bigEndian = (oldDepth + newDepth) % 2;
                std::vector<int> pixels = RandomPixels(random, 13 * 7, (int)BppMask[oldDepth]);
                MakeTestImage(13, 7, oldDepth, pixels, bigEndian);
                testing::internal::CaptureStdout();
                ImgTransformIncreaseDepth(newDepth, mode);
                testing::internal::GetCapturedStdout();
                if (mode) for (int& v : pixels) v <<= newDepth - oldDepth;
                ASSERT_EQ(StoredBytes(), SampleBytes(pixels, ImgBYTEpp, !bigEndian))
                    << oldDepth << " to " << newDepth << " mode " << mode;
            }
}

TEST_F(DepthDeathTest, IncreaseRefusesNoIncreaseAndMoreThan16Bits)
{
    MakeTestImage(1, 1, 8, {0});
    EXPECT_EXIT(ImgTransformIncreaseDepth(8, 0), testing::ExitedWithCode(8),
                "check failed: newDepth > oldDepth");
    EXPECT_EXIT(ImgTransformIncreaseDepth(17, 0), testing::ExitedWithCode(8),
                "check failed: newDepth <= 16");
}

// ---- End to end

class DepthRunTest : public ::testing::Test {
protected:
    TempDir dir_;
};

struct ReduceRun {
    const char* name;
    int oldDepth, newDepth, bigEndian;
    std::vector<int> in, out;
};
class ReduceDepthRun : public DepthRunTest, public ::testing::WithParamInterface<ReduceRun> {};

TEST_P(ReduceDepthRun, TruncatesAndKeepsTheByteOrder)
{
    const ReduceRun& c = GetParam();
    int width = (int)c.in.size();
    int oldBytes = (c.oldDepth - 1) / 8 + 1, newBytes = (c.newDepth - 1) / 8 + 1;
    int newMax = (int)BppMask[c.newDepth];
    dir_.Write("in.raw", SampleBytes(c.in, oldBytes, !c.bigEndian));
    RunResult run = RunGrayfix(
        dir_, {"-i:RAW:" + std::to_string(width) + ":1:" + std::to_string(c.oldDepth),
               c.bigEndian ? "-i:endian:Big" : "-i:endian:Little", "in.raw",
               "-t:reducedepth:" + std::to_string(c.newDepth), "-o:RAW", "out.raw"});
    EXPECT_EQ(run.out,
              ExpectedInput("in.raw", width, 1, c.bigEndian, 1, 0, c.oldDepth,
                            (int)BppMask[c.oldDepth], c.in)
                  + "\nImage depth reduced from " + std::to_string(c.oldDepth) + " to "
                  + std::to_string(c.newDepth) + " (ImgBYTEpp=" + std::to_string(newBytes)
                  + ", ImgLevelMax=" + std::to_string(newMax) + ") done"
                  + ExpectedOutput("out.raw", width, 1, c.bigEndian, 1, 0, c.newDepth, newMax, c.out));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir_.Read("out.raw"), SampleBytes(c.out, newBytes, !c.bigEndian));
}

INSTANTIATE_TEST_SUITE_P(Depths, ReduceDepthRun, ::testing::Values(
    ReduceRun{"From16To8", 16, 8, 1, {65535, 258, 0, 256}, {255, 1, 0, 1}},
    ReduceRun{"From9To8Little", 9, 8, 0, {511, 257, 256}, {255, 128, 128}},
    ReduceRun{"From12To10Little", 12, 10, 0, {4095, 1028, 3}, {1023, 257, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DepthRunTest, CropOfTooHighIntensityWritesNothing)
{
    std::vector<int> in{0, 256};
    dir_.Write("in.pgm", MakePgm(2, 1, 65535, in));
    RunResult run = RunGrayfix(dir_, {"in.pgm", "-t:cropdepth:8", "out.pgm"});
    EXPECT_EQ(run.out, ExpectedInput("in.pgm", 2, 1, 1, 0, 13, 16, 65535, in));
    EXPECT_EQ(run.err, "\ngrayfix ERROR: ImgTransformCropDepth: pixel value too high");
    EXPECT_EQ(run.status, 7);
    EXPECT_FALSE(dir_.Exists("out.pgm"));
}

TEST_F(DepthRunTest, CropClipReportsWhetherIntensitiesChanged)
{
    struct Case { std::vector<int> in, out; const char* ending; };
    for (const Case& c : {Case{{256, 1000, 255, 7}, {255, 255, 255, 7},
                               "WARNING: some pixel intensities changed"},
                          Case{{255, 0, 1, 2}, {255, 0, 1, 2}, "pixel intensities not changed"}}) {
        dir_.Write("in.raw", SampleBytes(c.in, 2, true));
        RunResult run = RunGrayfix(dir_, {"-i:RAW:4:1:16", "-i:endian:Little", "in.raw",
                                          "-t:cropclipdepth:8", "-o:RAW", "out.raw"});
        EXPECT_EQ(run.out, ExpectedInput("in.raw", 4, 1, 0, 1, 0, 16, 65535, c.in)
                         + "\nImage depth cropped from 16 to 8 (ImgBYTEpp=1, ImgLevelMax=255), "
                         + c.ending + ExpectedOutput("out.raw", 4, 1, 0, 1, 0, 8, 255, c.out));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(dir_.Read("out.raw"), SampleBytes(c.out, 1));
    }
}

TEST_F(DepthRunTest, CropLikeTurnsMaxval200Into255)
{
    std::vector<int> pixels{200, 0, 13, 199};
    dir_.Write("in.pgm", MakePgm(2, 2, 200, pixels));
    dir_.Write("ref.pgm", ToBytes("P5\n-4 0\n255\n"));
    RunResult run = RunGrayfix(dir_, {"in.pgm", "-t:cropdepthlike:ref.pgm", "out.pgm"});
    EXPECT_EQ(run.out, ExpectedInput("in.pgm", 2, 2, 1, 0, 11, 8, 200, pixels)
                     + "\nImage depth retrieved from ref.pgm is 8. "
                       "\nImage depth cropped from 8 to 8 (ImgBYTEpp=1, ImgLevelMax=255), "
                       "pixel intensities not changed"
                     + ExpectedOutput("out.pgm", 2, 2, 1, 0, 11, 8, 255, pixels));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir_.Read("out.pgm"), MakePgm(2, 2, 255, pixels));
}

TEST_F(DepthRunTest, CropLikeWidensToTheReferenceDepth)
{
    std::vector<int> pixels{200, 0, 13, 255};
    dir_.Write("in.pgm", MakePgm(2, 2, 255, pixels));
    dir_.Write("ref.pgm", ToBytes("P5 1 1 1000\n"));
    RunResult run = RunGrayfix(
        dir_, {"-i:endian:Little", "in.pgm", "-t:cropdepthlike:ref.pgm", "out.pgm"});
    EXPECT_EQ(run.out, ExpectedInput("in.pgm", 2, 2, 0, 0, 11, 8, 255, pixels)
                     + "\nImage depth retrieved from ref.pgm is 10. "
                       "\nImage depth cropped from 8 to 10 (ImgBYTEpp=2, ImgLevelMax=1023), "
                       "pixel intensities not changed"
                     + ExpectedOutput("out.pgm", 2, 2, 0, 0, 11, 10, 1023, pixels));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir_.Read("out.pgm"), MakePgm(2, 2, 1023, pixels, true));
}

struct IncreaseRun {
    const char* name;
    int oldDepth, newDepth, mode, bigEndian;
    std::vector<int> in, out;
};
class IncreaseDepthRun : public DepthRunTest, public ::testing::WithParamInterface<IncreaseRun> {};

TEST_P(IncreaseDepthRun, WritesTheRaisedSamples)
{
    const IncreaseRun& c = GetParam();
    int width = (int)c.in.size();
    int oldBytes = (c.oldDepth - 1) / 8 + 1, newBytes = (c.newDepth - 1) / 8 + 1;
    dir_.Write("in.raw", SampleBytes(c.in, oldBytes, !c.bigEndian));
    std::string raw = "-i:RAW:" + std::to_string(width) + ":1:" + std::to_string(c.oldDepth);
    std::string transform =
        "-t:increasedepth:" + std::to_string(c.newDepth) + ":" + std::to_string(c.mode);
    RunResult run = RunGrayfix(dir_, {raw, c.bigEndian ? "-i:endian:Big" : "-i:endian:Little",
                                      "in.raw", transform, "-o:RAW", "out.raw"});
    int newMax = (int)BppMask[c.newDepth];
    EXPECT_EQ(run.out,
              ExpectedInput("in.raw", width, 1, c.bigEndian, 1, 0, c.oldDepth,
                            (int)BppMask[c.oldDepth], c.in)
                  + "\nImage depth increased from " + std::to_string(c.oldDepth) + " to "
                  + std::to_string(c.newDepth) + " (ImgBYTEpp=" + std::to_string(newBytes)
                  + ", ImgLevelMax=" + std::to_string(newMax) + ")"
                  + (c.mode ? "\nPixel values shifted (mode 1)" : "\nPixel values NOT shifted (mode 0)")
                  + ExpectedOutput("out.raw", width, 1, c.bigEndian, 1, 0, c.newDepth, newMax, c.out));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir_.Read("out.raw"), SampleBytes(c.out, newBytes, !c.bigEndian));
}

INSTANTIATE_TEST_SUITE_P(Depths, IncreaseDepthRun, ::testing::Values(
    IncreaseRun{"From8To16Mode0Big", 8, 16, 0, 1, {200, 255, 0}, {200, 255, 0}},
    IncreaseRun{"From8To16Mode0Little", 8, 16, 0, 0, {200, 255, 0}, {200, 255, 0}},
    IncreaseRun{"From8To16Mode1Big", 8, 16, 1, 1, {255, 1, 0}, {65280, 256, 0}},
    IncreaseRun{"From8To16Mode1Little", 8, 16, 1, 0, {255, 1, 0}, {65280, 256, 0}},
    IncreaseRun{"From10To12Mode1", 10, 12, 1, 0, {1023, 5}, {4092, 20}},
    IncreaseRun{"From4To8Mode1", 4, 8, 1, 1, {15, 1, 0}, {240, 16, 0}},
    IncreaseRun{"From1To16Mode1", 1, 16, 1, 1, {1, 0}, {32768, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

struct Refusal { const char* name; int bpp; const char* transform; const char* message; };
class DepthRefusal : public DepthRunTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(DepthRefusal, StopsWithTheSwitchMessage)
{
    const Refusal& c = GetParam();
    std::vector<int> pixels{0, 0};
    dir_.Write("in.raw", SampleBytes(pixels, (c.bpp - 1) / 8 + 1));
    RunResult run = RunGrayfix(
        dir_, {"-i:RAW:2:1:" + std::to_string(c.bpp), "in.raw", c.transform, "out.raw"});
    EXPECT_EQ(run.out, ExpectedInput("in.raw", 2, 1, 1, 1, 0, c.bpp, (int)BppMask[c.bpp], pixels));
    EXPECT_EQ(run.err, std::string("\ngrayfix ERROR: ") + c.message);
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(dir_.Exists("out.raw"));
}

INSTANTIATE_TEST_SUITE_P(Switches, DepthRefusal, ::testing::Values(
    Refusal{"ReduceToSameDepth", 8, "-t:reducedepth:8", "Bad -t:reducedepth:newdepth"},
    Refusal{"ReduceToZero", 8, "-t:reducedepth:0", "Bad -t:reducedepth:newdepth"},
    Refusal{"CropToSameDepth", 12, "-t:cropdepth:12", "Bad -t:cropdepth:newdepth"},
    Refusal{"CropClipToZero", 12, "-t:cropclipdepth:0", "Bad -t:cropclipdepth:newdepth"},
    Refusal{"IncreaseToSameDepth", 8, "-t:increasedepth:8:0", "Bad -t:increasedepth:newdepth:mode"},
    Refusal{"IncreaseTo17", 8, "-t:increasedepth:17:0", "Bad -t:increasedepth:newdepth:mode"},
    Refusal{"IncreaseMode2", 8, "-t:increasedepth:9:2", "Bad -t:increasedepth:newdepth:mode"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DepthRunTest, CropLikeReferenceStopsAreOrderly)
{
    std::vector<int> pixels{7, 9};
    dir_.Write("in.pgm", MakePgm(2, 1, 255, pixels));
    std::string input = ExpectedInput("in.pgm", 2, 1, 1, 0, 11, 8, 255, pixels);

    RunResult missing = RunGrayfix(dir_, {"in.pgm", "-t:cropdepthlike:", "out.pgm"});
    EXPECT_EQ(missing.out, input);
    EXPECT_EQ(missing.err, "\ngrayfix ERROR: ReadPgm: Cannot open input");
    EXPECT_EQ(missing.status, 2);

    dir_.Write("ref.pgm", ToBytes("P5 1 1 65536\n"));
    RunResult wide = RunGrayfix(dir_, {"in.pgm", "-t:cropdepthlike:ref.pgm", "out.pgm"});
    EXPECT_EQ(wide.out, input + "\nImage depth retrieved from ref.pgm is 17. ");
    EXPECT_TRUE(IsCheckStop(wide, "ImgBYTEpp == 2")) << wide.err;
    EXPECT_FALSE(dir_.Exists("out.pgm"));
}

}  // namespace
