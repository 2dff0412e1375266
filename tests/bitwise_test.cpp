// bitwise_test.cpp - byte-order negation and XOR with a file: unit, property,
// death and end-to-end tests.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/stats.h"
#include "support/crc32.h"
#include "test_util.h"
#include "transforms/bitwise.h"

namespace {

class BitwiseTest : public ::testing::Test {
protected:
    void TearDown() override { FreeTestImage(); }
    TempDir dir;
};
using BitwiseDeathTest = BitwiseTest;

Bytes StoredBytes()
{
    return Bytes(ImgData, ImgData + (std::size_t)ImgImageWidth * ImgImageHeight * ImgBYTEpp);
}

// The XOR model: pixel i takes bytes i*bytepp.. of the stream that repeats key.
std::vector<int> Xored(const std::vector<int>& pixels, const Bytes& key, int bytepp, int bpp)
{
    std::vector<int> out;
    std::size_t at = 0;
    for (int v : pixels) {
        int k = 0;
        for (int b = 0; b < bytepp; ++b) k = k * 256 + key[at++ % key.size()];
        out.push_back(v ^ (k & (int)BppMask[bpp]));
    }
    return out;
}

std::string Quiet(void (*transform)(const char*), const char* name)
{
    testing::internal::CaptureStdout();
    transform(name);
    return testing::internal::GetCapturedStdout();
}

TEST_F(BitwiseTest, NegEndianSwapsTwoByteSamplesAndKeepsIntensities)
{
    MakeTestImage(2, 1, 16, {0x1234, 0xFF00});
    PrintImgStats();
    uint32_t bigEndianCrc = BigEndianCRC32, byteCrc = ByteCRC32;
    testing::internal::CaptureStdout();
    ImgTransformNegEndian();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nImage Endianness negated (ImgBigEndian was 1, now is 0)");
    EXPECT_EQ(ImgBigEndian, 0);
    EXPECT_EQ(StoredBytes(), (Bytes{0x34, 0x12, 0x00, 0xFF}));
    EXPECT_EQ(ImagePixels(), (std::vector<int>{0x1234, 0xFF00}));
    PrintImgStats();
    EXPECT_EQ(BigEndianCRC32, bigEndianCrc);
    EXPECT_NE(ByteCRC32, byteCrc);
    testing::internal::CaptureStdout();
    ImgTransformNegEndian();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nImage Endianness negated (ImgBigEndian was 0, now is 1)");
    EXPECT_EQ(StoredBytes(), (Bytes{0x12, 0x34, 0xFF, 0x00}));
}

TEST_F(BitwiseTest, NegEndianOfRandomImagesSwapsEveryPair)
{
    std::mt19937 random(14);
    for (int round = 0; round < 200; ++round) {
        int width = (int)(random() % 50) + 1, height = (int)(random() % 20) + 1;
        int bpp = (int)(random() % 16) + 1, big = (int)(random() % 2);
        std::vector<int> pixels((std::size_t)width * height);
        for (int& v : pixels) v = (int)(random() & BppMask[bpp]);
        MakeTestImage(width, height, bpp, pixels, big);
        testing::internal::CaptureStdout();
        ImgTransformNegEndian();
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(ImgBigEndian, !big);
        ASSERT_EQ(ImagePixels(), pixels);
        ASSERT_EQ(StoredBytes(), SampleBytes(pixels, ImgBYTEpp, big)) << round;  // 1 byte: unchanged
    }
}

TEST_F(BitwiseTest, XorWithShortFilesCycles)
{
    dir.Write("ff.bin", {0xFF});
    MakeTestImage(2, 2, 8, {0, 1, 200, 255});
    EXPECT_EQ(Quiet(ImgTransformXorFile, dir.Path("ff.bin").c_str()),
              "\nImage xorred with BigEndian file \"" + dir.Path("ff.bin") + "\"");
    EXPECT_EQ(ImagePixels(), (std::vector<int>{255, 254, 55, 0}));

    dir.Write("ffff.bin", {0xFF, 0xFF});
    MakeTestImage(3, 1, 10, {0, 1000, 1023});
    Quiet(ImgTransformXorFile, dir.Path("ffff.bin").c_str());
    EXPECT_EQ(ImagePixels(), (std::vector<int>{1023, 23, 0}));

    // p, q, r: numbers p*256+q, r*256+p, q*256+r, then again; little-endian storage alike.
    dir.Write("pqr.bin", {0x01, 0x02, 0x03});
    for (int big : {1, 0}) {
        MakeTestImage(5, 1, 16, {0, 0, 0, 0, 0xFFFF}, big);
        Quiet(ImgTransformXorFile, dir.Path("pqr.bin").c_str());
        EXPECT_EQ(ImagePixels(), (std::vector<int>{0x0102, 0x0301, 0x0203, 0x0102, 0xFFFF ^ 0x0301}));
    }
}

// Random images against the model, with keys from one byte to past the size
// kept in memory (those wrap through the file, also inside a 2-byte number).
TEST_F(BitwiseTest, XorOfRandomImagesFollowsTheCyclicStream)
{
    std::mt19937 random(15);
    for (int round = 0; round < 60; ++round) {
        std::size_t keySize = round % 10 == 9 ? 65536 + 1 + random() % 3 : 1 + random() % 300;
        int width = (int)(random() % 300) + 1, height = (int)(random() % 300) + 1;
        int bpp = (int)(random() % 16) + 1;
        Bytes key(keySize);
        for (auto& b : key) b = (unsigned char)random();
        dir.Write("key.bin", key);
        std::vector<int> pixels((std::size_t)width * height);
        for (int& v : pixels) v = (int)(random() & BppMask[bpp]);
        MakeTestImage(width, height, bpp, pixels, (int)(random() % 2));
        Quiet(ImgTransformXorFile, dir.Path("key.bin").c_str());
        ASSERT_EQ(ImagePixels(), Xored(pixels, key, ImgBYTEpp, bpp)) << round << " key " << keySize;
        Quiet(ImgTransformXorFile, dir.Path("key.bin").c_str());
        ASSERT_EQ(ImagePixels(), pixels) << round;  // twice restores
    }
}

TEST_F(BitwiseDeathTest, XorStops)
{
    MakeTestImage(2, 2, 8, {1, 2, 3, 4});
    dir.Write("empty.bin", {});
    EXPECT_EXIT(ImgTransformXorFile(dir.Path("empty.bin").c_str()), testing::ExitedWithCode(5),
                "ImgTransformXorFile: xorFile too short");
    EXPECT_EXIT(ImgTransformXorFile(dir.Path("missing.bin").c_str()), testing::ExitedWithCode(5),
                "ImgTransformXorFile: Cannot open xorFile");
    // A directory opens but every read fails: never XOR with EOF.
    EXPECT_EXIT(ImgTransformXorFile(dir.Root().c_str()), testing::ExitedWithCode(5),
                "ImgTransformXorFile: xorFile too short");
    // maxval 1000 in 10 bits: 1000 ^ 24 = 1008 is above ImgLevelMax.
    MakeTestImage(1, 1, 10, {1000}, 1, 1000);
    dir.Write("k.bin", {0x00, 0x18});
    EXPECT_EXIT(ImgTransformXorFile(dir.Path("k.bin").c_str()), testing::ExitedWithCode(8),
                "check failed: value <= ImgLevelMax && value >= 0");
}

TEST_F(BitwiseDeathTest, NegEndianStopsOnSampleAboveLevelMax)
{
    MakeTestImage(3, 1, 12, {}, 1, 3000);
    ImgData[4] = 0x0F;  // (2, 0) = 4095
    ImgData[5] = 0xFF;
    EXPECT_EXIT(ImgTransformNegEndian(), testing::ExitedWithCode(8),
                "check failed: value <= ImgLevelMax && value >= 0");
}

// ---- End-to-end runs through the binary ----

// One run on name (a PGM of maxval and pixels; little means ImgBigEndian 0,
// and 2-byte samples stored low byte first), compared field by field; out and
// outLittle describe the result the same way. A non-empty error means a refusal.
void ExpectRun(const TempDir& dir, const std::string& name, int width, int height, int maxval,
               const std::vector<int>& pixels, bool little, const std::string& transform,
               const std::string& message, const std::vector<int>& out, bool outLittle,
               const std::string& error = "", int status = 0)
{
    dir.Write(name, MakePgm(width, height, maxval, pixels, little));
    std::remove(dir.Path("out.pgm").c_str());
    std::vector<std::string> args{name, transform, "out.pgm"};
    if (little) args.insert(args.begin(), "-i:endian:Little");
    RunResult r = RunGrayfix(dir, args);
    int bpp = 0;
    while ((1 << bpp) <= maxval) ++bpp;
    int bytepp = (bpp - 1) / 8 + 1, skip = (int)MakePgm(width, height, maxval, {}).size();
    std::string expected =
        InfoBlock("Input Image", name, width, height, bytepp, bpp, maxval, !little, 0, skip)
        + ExpectedStats(pixels, bytepp, !little) + "\n";
    if (error.empty())
        expected += message + ExpectedStats(out, bytepp, !outLittle)
                  + InfoBlock("Outputting to", "out.pgm", width, height, bytepp, bpp, maxval,
                              !outLittle, 0, skip)
                  + "\nDone.\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, error.empty() ? "" : "\ngrayfix ERROR: " + error);
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(dir.Read("out.pgm"), error.empty() ? MakePgm(width, height, maxval, out, outLittle) : Bytes{});
}

const std::string Negated10 = "\nImage Endianness negated (ImgBigEndian was 1, now is 0)";
const std::string Negated01 = "\nImage Endianness negated (ImgBigEndian was 0, now is 1)";
std::string Xorred(const std::string& name) { return "\nImage xorred with BigEndian file \"" + name + "\""; }

TEST(BitwiseRun, NegEndian)
{
    TempDir dir;
    std::vector<int> wide{0x1234, 0x00FF, 0xFFFF, 0}, narrow{1, 2, 3, 200};
    // The output holds the same intensities little-endian: 0x12 0x34 became 0x34 0x12.
    ExpectRun(dir, "in.pgm", 2, 2, 65535, wide, false, "-t:negendian", Negated10, wide, true);
    // Twice: the swapped file, read as little-endian, comes back as the input file.
    ExpectRun(dir, "mid.pgm", 2, 2, 65535, wide, true, "-t:negendian", Negated01, wide, false);
    // One byte per sample: no byte changes, only the flag.
    ExpectRun(dir, "in.pgm", 2, 2, 255, narrow, false, "-t:negendian", Negated10, narrow, true);
}

TEST(BitwiseRun, XorFile)
{
    TempDir dir;
    dir.Write("ff.bin", {0xFF});
    dir.Write("ffff.bin", {0xFF, 0xFF});
    dir.Write("pqr.bin", {0xA1, 0xB2, 0xC3});
    dir.Write("long.bin", {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07});
    dir.Write("empty.bin", {});
    ExpectRun(dir, "in.pgm", 2, 2, 255, {0, 1, 128, 255}, false, "-t:xorfile:ff.bin",
              Xorred("ff.bin"), {255, 254, 127, 0}, false);
    ExpectRun(dir, "in.pgm", 3, 1, 1023, {0, 512, 1023}, false, "-t:xorfile:ffff.bin",
              Xorred("ffff.bin"), {1023, 511, 0}, false);
    ExpectRun(dir, "in.pgm", 5, 1, 65535, {0, 0, 0, 0, 1}, true, "-t:xorfile:pqr.bin",
              Xorred("pqr.bin"), {0xA1B2, 0xC3A1, 0xB2C3, 0xA1B2, 0xC3A0}, true);
    ExpectRun(dir, "in.pgm", 3, 1, 255, {0, 0, 7}, false, "-t:xorfile:long.bin",
              Xorred("long.bin"), {1, 2, 4}, false);
    // Twice with the same file restores the input.
    dir.Write("mid.pgm", dir.Read("out.pgm"));
    ExpectRun(dir, "mid.pgm", 3, 1, 255, {1, 2, 4}, false, "-t:xorfile:long.bin",
              Xorred("long.bin"), {0, 0, 7}, false);
    ExpectRun(dir, "in.pgm", 2, 1, 255, {1, 2}, false, "-t:xorfile:empty.bin", "", {}, false,
              "ImgTransformXorFile: xorFile too short", 5);
    ExpectRun(dir, "in.pgm", 2, 1, 255, {1, 2}, false, "-t:xorfile:none.bin", "", {}, false,
              "ImgTransformXorFile: Cannot open xorFile", 5);
}

}  // namespace
