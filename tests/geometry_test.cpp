// geometry_test.cpp - downsize and crop: block means and rectangles against
// models computed here, in-place packing, stops, and end-to-end runs.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "support/crc32.h"
#include "test_util.h"
#include "transforms/geometry.h"

namespace {

class GeometryTest : public ::testing::Test {
protected:
    void TearDown() override { FreeTestImage(); }
};
using GeometryDeathTest = GeometryTest;

// The first width*height samples of the buffer, as the store's byte order holds them.
Bytes StoredBytes()
{
    return Bytes(ImgData, ImgData + (std::size_t)ImgImageWidth * ImgImageHeight * ImgBYTEpp);
}

// Means of times x times blocks, nearest with halves up: floor(sum/area + 1/2).
std::vector<int> BlockMeans(const std::vector<int>& in, int width, int height, int times)
{
    std::vector<int> out;
    for (int y = 0; y < height / times; ++y)
        for (int x = 0; x < width / times; ++x) {
            long sum = 0;
            for (int dy = 0; dy < times; ++dy)
                for (int dx = 0; dx < times; ++dx) sum += in[(y * times + dy) * width + x * times + dx];
            long area = (long)times * times;
            out.push_back((int)((2 * sum + area) / (2 * area)));
        }
    return out;
}

std::vector<int> Cut(const std::vector<int>& in, int width, int x0, int y0, int w, int h)
{
    std::vector<int> out;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) out.push_back(in[y * width + x]);
    return out;
}

// A random image in the store: any depth, byte order and (PGM-like) maxval.
std::vector<int> RandomImage(std::mt19937& random, int width, int height)
{
    int bpp = (int)(random() % 16) + 1;
    int levelMax = (int)BppMask[bpp];
    if (random() % 3 == 0) levelMax = (int)(BppMask[bpp - 1] + 1 + random() % (BppMask[bpp - 1] + 1));
    std::vector<int> pixels((std::size_t)width * height);
    for (int& v : pixels) v = (int)(random() % (levelMax + 1));
    MakeTestImage(width, height, bpp, pixels, (int)(random() % 2), levelMax);
    return pixels;
}

TEST_F(GeometryTest, DownsizeEqualsBlockMeansOfRandomImages)
{
    std::mt19937 random(6);
    for (int round = 0; round < 400; ++round) {
        int width = (int)(random() % 40) + 1, height = (int)(random() % 40) + 1;
        std::vector<int> in = RandomImage(random, width, height);
        int times = (int)(random() % std::min(width, height)) + 1;
        bool little = ImgBYTEpp == 2 && !ImgBigEndian;
        testing::internal::CaptureStdout();
        ImgTransformDownsize(times);
        testing::internal::GetCapturedStdout();
        std::vector<int> expected = BlockMeans(in, width, height, times);
        ASSERT_EQ(ImgImageWidth, width / times) << round;
        ASSERT_EQ(ImgImageHeight, height / times) << round;
        ASSERT_EQ(ImagePixels(), expected) << round << " times " << times;
        ASSERT_EQ(StoredBytes(), SampleBytes(expected, ImgBYTEpp, little)) << round;
    }
}

// Rows wider than the column chunk of the fast path, with factors that do and
// do not divide it, and the largest factor.
TEST_F(GeometryTest, DownsizeWideAndLargeFactors)
{
    std::mt19937 random(7);
    struct { int width, height, times; } cases[] = {{9001, 7, 2}, {9001, 7, 3}, {9001, 7, 7},
                                                    {4097, 5, 5}, {250, 230, 100}, {100, 100, 100}};
    for (auto c : cases) {
        std::vector<int> in = RandomImage(random, c.width, c.height);
        testing::internal::CaptureStdout();
        ImgTransformDownsize(c.times);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(ImagePixels(), BlockMeans(in, c.width, c.height, c.times)) << c.width << " " << c.times;
    }
}

TEST_F(GeometryTest, CropEqualsRectangleOfRandomImages)
{
    std::mt19937 random(8);
    for (int round = 0; round < 400; ++round) {
        int width = (int)(random() % 30) + 1, height = (int)(random() % 30) + 1;
        std::vector<int> in = RandomImage(random, width, height);
        int x0 = (int)(random() % width), y0 = (int)(random() % height);
        int w = (int)(random() % (width - x0 + 1)), h = (int)(random() % (height - y0 + 1));
        bool little = ImgBYTEpp == 2 && !ImgBigEndian;
        Bytes before = StoredBytes();
        testing::internal::CaptureStdout();
        ImgTransformCrop(x0, y0, w, h);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "\nCropping left top " + std::to_string(x0) + "," + std::to_string(y0) + " width "
                      + std::to_string(w) + ", height " + std::to_string(h) + " done");
        if (w == 0 || h == 0) {  // nothing visited: the image stays as it was
            ASSERT_EQ(ImgImageWidth, width);
            ASSERT_EQ(StoredBytes(), before);
            continue;
        }
        std::vector<int> expected = Cut(in, width, x0, y0, w, h);
        ASSERT_EQ(ImgImageWidth, w);
        ASSERT_EQ(ImgImageHeight, h);
        ASSERT_EQ(StoredBytes(), SampleBytes(expected, ImgBYTEpp, little)) << round;
    }
}

TEST_F(GeometryDeathTest, DownsizeStopsOnTooSmallImagesAndBadFactors)
{
    MakeTestImage(50, 50, 8);
    EXPECT_EXIT(ImgTransformDownsize(100), testing::ExitedWithCode(8),
                "check failed: newWidth>0 && newHeight>0");
    // A zero factor must not divide by zero: it is a zero dimension.
    EXPECT_EXIT(ImgTransformDownsize(0), testing::ExitedWithCode(8),
                "check failed: newWidth>0 && newHeight>0");
    MakeTestImage(202, 202, 8);
    EXPECT_EXIT(ImgTransformDownsize(101), testing::ExitedWithCode(8),
                "check failed: times>0 && times <= 100");
}

// A sample above ImgLevelMax stops the run when it is read, as GetPixel would;
// samples that belong to no block or lie outside the rectangle are never read.
TEST_F(GeometryDeathTest, SourceAboveLevelMaxStopsOnlyWhenRead)
{
    MakeTestImage(5, 4, 8, {}, 1, 200);
    ImgData[4] = 201;  // (4, 0): the column a downsize by 2 drops
    EXPECT_EXIT((ImgTransformDownsize(2), std::exit(0)), testing::ExitedWithCode(0), "");
    MakeTestImage(5, 4, 12, {}, 0, 3000);
    ImgData[2 * 6] = 0xB9;  // (1, 1) = 3001, stored low byte first
    ImgData[2 * 6 + 1] = 0x0B;
    EXPECT_EXIT((ImgTransformCrop(2, 0, 3, 4), std::exit(0)), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(ImgTransformCrop(1, 1, 1, 1), testing::ExitedWithCode(8),
                "check failed: value <= ImgLevelMax && value >= 0");
    EXPECT_EXIT(ImgTransformDownsize(2), testing::ExitedWithCode(8),
                "check failed: value <= ImgLevelMax && value >= 0");
}

// ---- End-to-end runs through the binary ----

struct Pgm {
    int width, height, maxval;
    std::vector<int> pixels;
};

int DepthOf(int maxval)
{
    int bits = 0;
    while ((1 << bits) <= maxval) ++bits;
    return bits;
}

// in.pgm in the given byte order, with the endian switch when it is little.
RunResult RunOn(const TempDir& dir, const Pgm& in, bool little, const std::string& transform)
{
    dir.Write("in.pgm", MakePgm(in.width, in.height, in.maxval, in.pixels, little));
    std::vector<std::string> args{"in.pgm", transform, "out.pgm"};
    if (little) args.insert(args.begin(), "-i:endian:Little");
    return RunGrayfix(dir, args);
}

// Everything a run prints up to its transform.
std::string InputPart(const Pgm& in, bool little)
{
    int bpp = DepthOf(in.maxval), bytepp = (bpp - 1) / 8 + 1;
    int skip = (int)MakePgm(in.width, in.height, in.maxval, {}).size();
    return InfoBlock("Input Image", "in.pgm", in.width, in.height, bytepp, bpp, in.maxval, !little, 0,
                     skip)
         + ExpectedStats(in.pixels, bytepp, !little) + "\n";
}

void ExpectRun(const Pgm& in, bool little, const std::string& transform, const std::string& message,
               const Pgm& out)
{
    TempDir dir;
    RunResult r = RunOn(dir, in, little, transform);
    int bpp = DepthOf(in.maxval), bytepp = (bpp - 1) / 8 + 1;
    int skip = (int)MakePgm(in.width, in.height, in.maxval, {}).size();
    EXPECT_EQ(r.out, InputPart(in, little) + message + ExpectedStats(out.pixels, bytepp, !little)
                         + InfoBlock("Outputting to", "out.pgm", out.width, out.height, bytepp, bpp,
                                     in.maxval, !little, 0, skip)
                         + "\nDone.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.Read("out.pgm"), MakePgm(out.width, out.height, in.maxval, out.pixels, little));
}

TEST(GeometryRun, DownsizeByOneKeepsTheImageWithoutNote)
{
    Pgm in{3, 2, 255, {1, 2, 3, 4, 5, 6}};
    ExpectRun(in, false, "-t:downsize:1", "\nDownsize 1 x done", in);
}

TEST(GeometryRun, DownsizeFiveByFourByTwoDropsTheRightColumn)
{
    Pgm in{5, 4, 255, {0, 2, 4, 6, 255,
                       2, 4, 6, 8, 255,
                       10, 10, 1, 1, 255,
                       10, 11, 2, 1, 255}};
    ExpectRun(in, false, "-t:downsize:2",
              "\nDownsize (2): image dims!  prior to downsize cropping to 4 x 4\nDownsize 2 x done",
              Pgm{2, 2, 255, {2, 6, 10, 1}});
}

TEST(GeometryRun, DownsizeRoundsToNearestWithHalvesUp)
{
    struct { int times; std::vector<int> block; int mean; } cases[] = {
        {2, {1, 1, 2, 2}, 2}, {2, {1, 2, 2, 2}, 2}, {2, {0, 0, 0, 1}, 0}, {2, {0, 0, 1, 1}, 1},
        {3, {1, 1, 1, 1, 1, 1, 1, 1, 5}, 1}, {3, {1, 1, 1, 1, 1, 1, 1, 1, 6}, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mean);
        ExpectRun(Pgm{c.times, c.times, 255, c.block}, false, "-t:downsize:" + std::to_string(c.times),
                  "\nDownsize " + std::to_string(c.times) + " x done", Pgm{1, 1, 255, {c.mean}});
    }
}

TEST(GeometryRun, DownsizeSixteenBitMaximumByHundred)
{
    ExpectRun(Pgm{100, 100, 65535, std::vector<int>(10000, 65535)}, false, "-t:downsize:100",
              "\nDownsize 100 x done", Pgm{1, 1, 65535, {65535}});
}

TEST(GeometryRun, DownsizeTooSmallImageStops)
{
    TempDir dir;
    Pgm in{50, 50, 255, std::vector<int>(2500, 7)};
    RunResult r = RunOn(dir, in, false, "-t:downsize:100");
    EXPECT_EQ(r.out, InputPart(in, false));
    std::string suffix = ": check failed: newWidth>0 && newHeight>0\n";
    EXPECT_EQ(r.err.rfind("grayfix: src/transforms/geometry.cpp:", 0), 0u) << r.err;
    EXPECT_TRUE(r.err.ends_with(suffix)) << r.err;
    EXPECT_EQ(r.status, 8);
    EXPECT_FALSE(dir.Exists("out.pgm"));
}

TEST(GeometryRun, CropWholeOnePixelAndEmpty)
{
    Pgm in{3, 2, 200, {10, 20, 30, 40, 50, 60}};
    ExpectRun(in, false, "-t:crop:0:0:3:2", "\nCropping left top 0,0 width 3, height 2 done", in);
    ExpectRun(in, false, "-t:crop:2:1:1:1", "\nCropping left top 2,1 width 1, height 1 done",
              Pgm{1, 1, 200, {60}});
    // An empty rectangle would keep the whole image: refused like one outside it.
    for (const char* empty : {"-t:crop:1:1:0:1", "-t:crop:1:0:2:0", "-t:crop:0:0:0:0"}) {
        SCOPED_TRACE(empty);
        TempDir dir;
        RunResult r = RunOn(dir, in, false, empty);
        EXPECT_EQ(r.out, InputPart(in, false));
        EXPECT_EQ(r.err, "\ngrayfix ERROR: Bad -t:crop:x0:y0:width:height");
        EXPECT_EQ(r.status, 1);
        EXPECT_FALSE(dir.Exists("out.pgm"));
    }
}

TEST(GeometryRun, TwoByteImagesKeepTheirByteOrder)
{
    Pgm in{4, 2, 4095, {0x102, 0x304, 0x506, 0x708, 0x90A, 0xB0C, 0xD0E, 0xF00}};
    for (bool little : {false, true}) {
        ExpectRun(in, little, "-t:crop:1:0:2:2", "\nCropping left top 1,0 width 2, height 2 done",
                  Pgm{2, 2, 4095, {0x304, 0x506, 0xB0C, 0xD0E}});
        ExpectRun(in, little, "-t:downsize:2", "\nDownsize 2 x done",
                  Pgm{2, 1, 4095, {(0x102 + 0x304 + 0x90A + 0xB0C + 2) / 4,
                                   (0x506 + 0x708 + 0xD0E + 0xF00 + 2) / 4}});
    }
}

}  // namespace
