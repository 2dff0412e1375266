// speed_paths_test.cpp - the fast paths of the core (CRC-32 folding and
// slicing, the blocked statistics pass, the large-buffer reader, the window
// filters' vector kernels) against straightforward reference versions, on
// every dispatch path.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/rawio.h"
#include "image/stats.h"
#include "support/crc32.h"
#include "support/cpu.h"
#include "test_util.h"
#include "transforms/denoise/denoise.h"
#include "transforms/soften.h"

// ---- References ----

// Byte at a time through the classic table; complemented, 0 when empty.
static uint32_t ReferenceCrc(const unsigned char* data, std::size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) crc = UpdateCRC32(data[i], crc);
    return length ? ~crc : 0u;
}

static uint32_t ReferenceCrcSwapped16(const unsigned char* data, std::size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    std::size_t i = 0;
    for (; i + 1 < length; i += 2) crc = UpdateCRC32(data[i], UpdateCRC32(data[i + 1], crc));
    if (i < length) crc = UpdateCRC32(data[i], crc);
    return length ? ~crc : 0u;
}

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

// ---- Every CRC path ----

class CrcPathTest : public ::testing::TestWithParam<Crc32Path> {
protected:
    void SetUp() override
    {
        if (!SetPath(GetParam())) GTEST_SKIP() << "this processor lacks the path";
    }
    void TearDown() override { SetPath(BestPath<Crc32Path>()); }
};

TEST_P(CrcPathTest, EveryLengthAndStartMatchesTheTable)
{
    std::mt19937 random(11);
    std::vector<unsigned char> data(300 + 16);
    for (auto& b : data) b = (unsigned char)random();
    for (std::size_t start = 0; start < 16; ++start)
        for (std::size_t length = 0; length <= 300; ++length) {
            const unsigned char* p = data.data() + start;
            ASSERT_EQ(ComputeCRC32(p, (int32_t)length), ReferenceCrc(p, length))
                << "start " << start << " length " << length;
            ASSERT_EQ(ComputeCRC32Swapped16(p, (int32_t)length), ReferenceCrcSwapped16(p, length))
                << "start " << start << " length " << length;
        }
}

TEST_P(CrcPathTest, LargeBuffersAndPiecesMatchTheTable)
{
    std::mt19937 random(12);
    std::vector<unsigned char> data(200003);
    for (auto& b : data) b = (unsigned char)random();
    for (std::size_t length : {std::size_t(1000), std::size_t(4096), std::size_t(65537), data.size()}) {
        EXPECT_EQ(ComputeCRC32(data.data() + 1, (int32_t)length - 1),
                  ReferenceCrc(data.data() + 1, length - 1)) << length;
        EXPECT_EQ(ComputeCRC32Swapped16(data.data(), (int32_t)length),
                  ReferenceCrcSwapped16(data.data(), length)) << length;
    }
    // Fed in pieces of even, unequal lengths, the running forms give the whole.
    uint32_t crc = 0xFFFFFFFFu, swapped = 0xFFFFFFFFu;
    std::size_t offset = 0;
    for (std::size_t piece = 2; offset < data.size(); piece = piece * 3 % 9998 + 2) {
        std::size_t length = std::min(piece, data.size() - offset);
        crc = UpdateCRC32Buffer(crc, data.data() + offset, length);
        swapped = UpdateCRC32BufferSwapped16(swapped, data.data() + offset, length);
        offset += length;
    }
    EXPECT_EQ(~crc, ReferenceCrc(data.data(), data.size()));
    EXPECT_EQ(~swapped, ReferenceCrcSwapped16(data.data(), data.size()));
}

TEST_P(CrcPathTest, StandardCheckValue)
{
    // 64 bytes and more take the folding; the check value is over nine digits,
    // so repeat them to cross the folding threshold as well.
    EXPECT_EQ(ComputeCRC32((const unsigned char*)"123456789", 9), 0xCBF43926u);
    std::string text;
    for (int i = 0; i < 20; ++i) text += "123456789";
    EXPECT_EQ(ComputeCRC32((const unsigned char*)text.data(), (int32_t)text.size()),
              ReferenceCrc((const unsigned char*)text.data(), text.size()));
}

// ---- The statistics pass on every depth, byte order and CRC path ----

struct StatsCase {
    int bpp;
    int bigEndian;
};

class StatsPathTest : public CrcPathTest {
protected:
    void TearDown() override
    {
        FreeTestImage();
        CrcPathTest::TearDown();
    }
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

static std::string PathName(const ::testing::TestParamInfo<Crc32Path>& info)
{
    return info.param == Crc32Vclmul ? "Vclmul" : info.param == Crc32Clmul ? "Clmul" : "Portable";
}
INSTANTIATE_TEST_SUITE_P(Paths, CrcPathTest,
                         ::testing::Values(Crc32Portable, Crc32Clmul, Crc32Vclmul), PathName);
INSTANTIATE_TEST_SUITE_P(Paths, StatsPathTest,
                         ::testing::Values(Crc32Portable, Crc32Clmul, Crc32Vclmul), PathName);

// ---- The window filters on every vector path ----
// They read and write rows through the image store's 16-bit row conversions, which
// follow the same path, so these tests cover those in both byte orders too.

class WindowPathTest : public ::testing::TestWithParam<SimdPath> {
protected:
    void SetUp() override
    {
        if (!SetPath(GetParam())) GTEST_SKIP() << "this processor lacks the path";
    }
    void TearDown() override
    {
        FreeTestImage();
        SetPath(BestPath<SimdPath>());
    }
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
                    std::vector<int> palette;
                    for (int i = 0; i < (++count % 2 ? 3 : 1 << bpp); ++i)
                        palette.push_back((int)(random() & BppMask[bpp]));
                    std::vector<int> pixels;
                    for (int i = 0; i < width * height; ++i)
                        pixels.push_back(palette[random() % palette.size()]);
                    MakeTestImage(width, height, bpp, pixels, bigEndian);
                    check(random, "depth " + std::to_string(bpp) + " bigEndian "
                                      + std::to_string(bigEndian) + " " + std::to_string(width)
                                      + "x" + std::to_string(height));
                }
    }
};

// The 3x3 and 5x5 networks (and the general path at their borders) in every mode.
TEST_P(WindowPathTest, DenoiseMatchesThePlainSort)
{
    ForEachImage(41, [&](std::mt19937&, const std::string& image) {
        std::vector<int> original = ImagePixels();
        for (int radius = 1; radius <= 2; ++radius)
            for (int mode = 0; mode < 4; ++mode) {
                std::vector<int> expected = ReferenceDenoise(radius, mode);
                testing::internal::CaptureStdout();
                ImgTransformDenoise(radius, mode);
                testing::internal::GetCapturedStdout();
                ASSERT_EQ(ImagePixels(), expected) << image << " radius " << radius << " mode " << mode;
                MakeTestImage(ImgImageWidth, ImgImageHeight, Imgbpp, original, ImgBigEndian);
            }
    });
}

// Radii with fused and running box sums; weights from small to large enough for 64-bit
// sums, sharpening ones included (windows whose weightsum is not positive are skipped).
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
                testing::internal::CaptureStdout();
                if (squared)
                    ImgTransformSoftenSquared(radius, centerweight, neighborweight);
                else
                    ImgTransformSoften(radius, centerweight, neighborweight);
                testing::internal::GetCapturedStdout();
                ASSERT_EQ(ImagePixels(), expected) << image << " radius " << radius << " weights "
                                                   << centerweight << " " << neighborweight
                                                   << (squared ? " squared" : "");
                MakeTestImage(ImgImageWidth, ImgImageHeight, Imgbpp, original, ImgBigEndian);
            }
    });
}

static std::string SimdPathName(const ::testing::TestParamInfo<SimdPath>& info)
{
    return info.param == SimdAvx512 ? "Avx512" : info.param == SimdAvx2 ? "Avx2" : "Baseline";
}
INSTANTIATE_TEST_SUITE_P(Paths, WindowPathTest,
                         ::testing::Values(SimdBaseline, SimdAvx2, SimdAvx512), SimdPathName);

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

// ---- The reader's large-buffer allocation ----

TEST(SpeedPathsReadRaw, LargeBufferHoldsTheFileAndStaysAPlainAllocation)
{
    TempDir dir;
    std::mt19937 random(31);
    const int width = 1500, height = 1401;  // 4.2 MB at 2 bytes: the huge-page size class
    Bytes bytes((std::size_t)width * height * 2 + 7);
    for (auto& b : bytes) b = (unsigned char)random();
    dir.Write("big.raw", bytes);
    unsigned char* data = ReadRaw(dir.Path("big.raw").c_str(), 7, width, height, 2);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::memcmp(data, bytes.data() + 7, bytes.size() - 7), 0);
    // The depth increase enlarges the pixel buffer with realloc and the driver
    // frees it: both must accept it.
    data = (unsigned char*)std::realloc(data, 2 * (bytes.size() - 7));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::memcmp(data, bytes.data() + 7, bytes.size() - 7), 0);
    std::free(data);
}
