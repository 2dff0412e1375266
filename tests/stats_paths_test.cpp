// stats_paths_test.cpp - the blocked statistics pass against the statistics as first
// defined, on every depth, byte order and CRC-32 path, and its refusal of a sample above
// ImgLevelMax.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/stats.h"
#include "support/cpu.h"
#include "support/crc32.h"
#include "support/workers.h"
#include "test_util.h"

struct Statistics {
    int minLevel, maxLevel, numLevels, bitsUsed;
    double h0;
    uint32_t bigEndianCrc, byteCrc;
};

// The statistics exactly as first defined: every pixel through GetPixel, the
// big-endian checksum fed one byte at a time, the histogram sized by
// ImgLevelMax, the entropy terms in ascending order of intensity.
static Statistics ReferenceStatistics()
{
    Statistics s{};
    double N = (double)ImgImageWidth * ImgImageHeight;
    std::vector<int> hist((std::size_t)ImgLevelMax + 1);
    uint32_t crc = 0xFFFFFFFFu;
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) {
            int v = GetPixel(x, y);
            ++hist[(std::size_t)v];
            if (ImgBYTEpp == 2) crc = UpdateCRC32((unsigned)v >> 8, crc);
            crc = UpdateCRC32((unsigned)v & 0xFF, crc);
        }
    s.bigEndianCrc = ~crc;
    s.byteCrc = ReferenceCrc(ImgData, (std::size_t)ImgImageWidth * ImgImageHeight * ImgBYTEpp);
    s.minLevel = s.maxLevel = GetPixel(0, 0);
    for (int i = 0; i <= ImgLevelMax; ++i) {
        int n = hist[(std::size_t)i];
        if (n == 0) continue;
        ++s.numLevels;
        if (i < s.minLevel) s.minLevel = i;
        if (i > s.maxLevel) s.maxLevel = i;
        s.bitsUsed |= i;
        double p = n / N;
        s.h0 = s.h0 - n * std::log(p) * 1.4426950408889634;
    }
    return s;
}

// Pixels in 0..levelMax with runs of equal values, as images have them.
static std::vector<int> RandomPixels(std::mt19937& random, int count, int levelMax)
{
    std::vector<int> pixels;
    while ((int)pixels.size() < count) {
        int value = (int)(random() % (unsigned)(levelMax + 1));
        int run = random() % 4 == 0 ? (int)(random() % 20) + 1 : 1;
        for (int i = 0; i < run && (int)pixels.size() < count; ++i) pixels.push_back(value);
    }
    return pixels;
}

// ---- The statistics pass on every depth, byte order and CRC path ----

struct StatsCase {
    int bpp;
    int bigEndian;
};

class StatsPathTest : public OnEveryPath<Crc32Path> {
protected:
    void ExpectSameAsReference(const char* what)
    {
        Statistics expected = ReferenceStatistics();
        PrintImgStats();
        SCOPED_TRACE(what);
        EXPECT_EQ(minLevel, expected.minLevel);
        EXPECT_EQ(maxLevel, expected.maxLevel);
        EXPECT_EQ(numLevels, expected.numLevels);
        EXPECT_EQ(bitsUsed, expected.bitsUsed);
        EXPECT_EQ(H0, expected.h0);  // same operations in the same order: bit for bit
        EXPECT_EQ(BigEndianCRC32, expected.bigEndianCrc);
        EXPECT_EQ(ByteCRC32, expected.byteCrc);
    }
};

TEST_P(StatsPathTest, EveryDepthAndByteOrderMatchesTheReference)
{
    std::mt19937 random(21);
    // Sizes: a single pixel, rows shorter than one 8-byte word, odd sizes, and
    // images of several 16 KiB blocks.
    const int sizes[][2] = {{1, 1}, {3, 1}, {1, 7}, {61, 37}, {300, 70}, {257, 129}};
    for (int bpp = 1; bpp <= 16; ++bpp)
        for (int bigEndian = 0; bigEndian <= 1; ++bigEndian)
            for (const auto& size : sizes) {
                int levelMax = (int)BppMask[bpp];
                MakeTestImage(size[0], size[1], bpp,
                              RandomPixels(random, size[0] * size[1], levelMax), bigEndian);
                std::string what = "bpp " + std::to_string(bpp) + " bigEndian "
                                 + std::to_string(bigEndian) + " " + std::to_string(size[0])
                                 + "x" + std::to_string(size[1]);
                ExpectSameAsReference(what.c_str());
            }
}

TEST_P(StatsPathTest, MaxvalNotAPowerOfTwoMinusOne)
{
    std::mt19937 random(22);
    for (int levelMax : {1, 2, 200, 255, 256, 1000, 40000, 65535}) {
        int bpp = BitsNeeded(levelMax + 1);
        for (int bigEndian = 0; bigEndian <= 1; ++bigEndian) {
            MakeTestImage(123, 45, bpp, RandomPixels(random, 123 * 45, levelMax), bigEndian,
                          levelMax);
            ExpectSameAsReference(("maxval " + std::to_string(levelMax)).c_str());
        }
    }
}

TEST_P(StatsPathTest, SingleIntensityAndAllIntensities)
{
    MakeTestImage(401, 3, 16, std::vector<int>(401 * 3, 65535), 0);
    ExpectSameAsReference("all 65535");
    std::vector<int> every(65536);
    for (int i = 0; i < 65536; ++i) every[(std::size_t)i] = (i * 7919) & 0xFFFF;
    MakeTestImage(256, 256, 16, every, 1);
    ExpectSameAsReference("every 16-bit value once");
}

// Large 1-byte images are counted in pairs of samples: an odd pixel count leaves
// one sample alone, and an image of one value (or two alternating) fills few
// pairs. Sizes just below and above the quarter million pixels where pairs start.
TEST_P(StatsPathTest, LargeOneByteImagesCountedInPairs)
{
    std::mt19937 random(23);
    const int sizes[][2] = {{511, 513}, {512, 512}, {1023, 257}, {1, 262145}};
    for (const auto& size : sizes)
        for (int bpp : {1, 7, 8}) {
            int count = size[0] * size[1];
            std::vector<std::vector<int>> images{RandomPixels(random, count, (int)BppMask[bpp]),
                                                 std::vector<int>(count, (int)BppMask[bpp]),
                                                 std::vector<int>(count)};
            for (int i = 0; i < count; i += 2) images[2][(std::size_t)i] = 1;
            images[2].back() = (int)BppMask[bpp];  // alone when the count is odd
            for (const auto& pixels : images) {
                MakeTestImage(size[0], size[1], bpp, pixels);
                ExpectSameAsReference(("bpp " + std::to_string(bpp) + " " + std::to_string(size[0])
                                       + "x" + std::to_string(size[1])).c_str());
            }
        }
}

// Large images go in parts of whole 16 KiB blocks on several threads, whose tables and
// checksums join into the whole's: 2, 3 or 5 parts (at most one a block) of 2-byte
// samples in both byte orders, and of 1-byte pairs with an odd sample left alone.
TEST_P(StatsPathTest, PartsOnThreadsMatchTheReference)
{
    std::mt19937 random(24);
    for (int parts : {2, 3, 5}) {
        SetWorkerThreads(parts);
        for (int bigEndian = 0; bigEndian <= 1; ++bigEndian)
            for (int bpp : {12, 16}) {
                MakeTestImage(257, 129, bpp, RandomPixels(random, 257 * 129, (int)BppMask[bpp]), bigEndian);
                ExpectSameAsReference(("parts " + std::to_string(parts) + " bpp " + std::to_string(bpp)
                                       + " bigEndian " + std::to_string(bigEndian)).c_str());
            }
        MakeTestImage(1023, 257, 8, RandomPixels(random, 1023 * 257, 255));
        ExpectSameAsReference(("parts " + std::to_string(parts) + " pairs").c_str());
    }
    SetWorkerThreads(0);
}

static std::string PathName(const ::testing::TestParamInfo<Crc32Path>& info)
{
    return info.param == Crc32Vclmul ? "Vclmul" : info.param == Crc32Clmul ? "Clmul" : "Portable";
}
INSTANTIATE_TEST_SUITE_P(Paths, StatsPathTest,
                         ::testing::Values(Crc32Portable, Crc32Clmul, Crc32Vclmul), PathName);

// ---- A pixel above ImgLevelMax stops the run as a pixel-by-pixel pass would ----

class StatsRefusalDeathTest : public ::testing::Test {
protected:
    void TearDown() override { FreeTestImage(); }
};

TEST_F(StatsRefusalDeathTest, QuotesTheAccessorCheckWherever)
{
#ifndef GRAYFIX_EMULATOR
    // The threadsafe style starts the test program afresh, which a build for
    // another processor cannot do without binfmt registration: it keeps the
    // default fork there.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#endif
    const char* diagnostic =
        "grayfix: src/image/image.h:[0-9]+: check failed: value <= ImgLevelMax && value >= 0";
    // Counted in pairs: the bad sample alone as the odd last byte, or in a pair.
    for (int width : {1023, 1024}) {
        MakeTestImage(width, 257, 8, std::vector<int>((std::size_t)width * 257, 100), 1, 200);
        ImgData[width * 257 - 1] = 201;
        EXPECT_EXIT(PrintImgStats(), ::testing::ExitedWithCode(ExitCheckFailed), diagnostic);
    }
    // 8 bits, maxval 200, the bad sample in the last byte (the tail loop).
    std::vector<int> pixels(50 * 3, 100);
    MakeTestImage(50, 3, 8, pixels, 1, 200);
    ImgData[50 * 3 - 1] = 201;
    EXPECT_EXIT(PrintImgStats(), ::testing::ExitedWithCode(ExitCheckFailed), diagnostic);
    // 12 bits stored little-endian, a high bit set in a pixel of the first word.
    MakeTestImage(33, 2, 12, std::vector<int>(66, 4095), 0);
    ImgData[2 * 2 + 1] = 0x10;
    EXPECT_EXIT(PrintImgStats(), ::testing::ExitedWithCode(ExitCheckFailed), diagnostic);
}

