// stats_test.cpp - the statistics block: range, levels, bits used, H0 and both CRCs.

#include <gtest/gtest.h>

#include <cstdio>

#include "image/image.h"
#include "image/stats.h"
#include "test_util.h"

class StatsTest : public ::testing::Test {
protected:
    void TearDown() override { FreeTestImage(); }
    static std::string Report()
    {
        ::testing::internal::CaptureStdout();
        PrintImgStats();
        ReportImgStats();
        std::fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    }
};
using StatsDeathTest = StatsTest;

TEST_F(StatsTest, ThreeLettersGiveTheirEntropyAndCrc)
{
    MakeTestImage(3, 1, 8, {97, 98, 99});
    EXPECT_EQ(Report(), StatsBlock(97, 99, 3, 0x63, 5, 1, "1.584962500721", 0x352441c2, 0x352441c2));
}

TEST_F(StatsTest, EntropyExamples)
{
    MakeTestImage(3, 1, 8, {0, 0, 1});
    std::string report = Report();
    EXPECT_EQ(bitsUsed, 1);
    EXPECT_NE(report.find("\nH0 (bits): 3 (Bytes): 1 (bpp): 0.918295834054\n"), std::string::npos);

    MakeTestImage(2, 2, 8, {0, 1, 2, 3});
    EXPECT_NE(Report().find("\nH0 (bits): 8 (Bytes): 1 (bpp): 2.000000000000\n"), std::string::npos);

    MakeTestImage(4, 4, 12, std::vector<int>(16, 777));
    std::string single = Report();
    EXPECT_NE(single.find("minLevel: 777 maxLevel: 777 numLevels: 1 bitsUsed: 0x0309"), std::string::npos);
    EXPECT_NE(single.find("\nH0 (bits): 0 (Bytes): 0 (bpp): 0.000000000000\n"), std::string::npos);
}

TEST_F(StatsTest, BitsUsedIsTheOrOfAllLevels)
{
    MakeTestImage(2, 1, 8, {1, 2});
    Report();
    EXPECT_EQ(bitsUsed, 3);
    EXPECT_EQ(minLevel, 1);
    EXPECT_EQ(maxLevel, 2);
}

TEST_F(StatsTest, SixteenBitChecksumsInBothByteOrders)
{
    MakeTestImage(1, 1, 16, {0x0102}, 1);
    Report();
    EXPECT_EQ(BigEndianCRC32, 0xb6cc4292u);
    EXPECT_EQ(ByteCRC32, 0xb6cc4292u);
    MakeTestImage(1, 1, 16, {0x0102}, 0);
    Report();
    EXPECT_EQ(BigEndianCRC32, 0xb6cc4292u);
    EXPECT_EQ(ByteCRC32, 0x04e840ebu);
}

TEST_F(StatsTest, MinAndMaxComeFromTheWholeImage)
{
    MakeTestImage(3, 2, 10, {500, 3, 1023, 0, 9, 500});
    Report();
    EXPECT_EQ(minLevel, 0);
    EXPECT_EQ(maxLevel, 1023);
    EXPECT_EQ(numLevels, 5);
    EXPECT_EQ(bitsUsed, 1023);
}

TEST_F(StatsDeathTest, SampleAboveANonPowerMaxvalStops)
{
    MakeTestImage(2, 1, 8, {0, 200}, 1, 200);
    ImgData[1] = 201;
    EXPECT_EXIT(PrintImgStats(), ::testing::ExitedWithCode(8), "value <= ImgLevelMax && value >= 0");
}

TEST_F(StatsDeathTest, SixteenBitSampleAboveMaxvalStops)
{
    MakeTestImage(2, 1, 10, {0, 1023}, 0);  // 1023 stored little-endian
    ImgLevelMax = 1000;
    EXPECT_EXIT(PrintImgStats(), ::testing::ExitedWithCode(8), "value <= ImgLevelMax && value >= 0");
}
