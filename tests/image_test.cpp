// image_test.cpp - the image store: checked accessors, BitsNeeded, the description block.

#include <gtest/gtest.h>

#include "image/image.h"
#include "test_util.h"

class ImageStoreTest : public ::testing::Test {
protected:
    void TearDown() override { FreeTestImage(); }
};
using ImageStoreDeathTest = ImageStoreTest;

static const char* CoordinateCheck = "x >= 0 && x<ImgImageWidth && y >= 0 && y<ImgImageHeight";
static const char* ValueCheck = "value <= ImgLevelMax && value >= 0";

TEST(BppMaskTest, HoldsTwoToTheNMinusOne)
{
    EXPECT_EQ(BppMask[0], 0u);
    EXPECT_EQ(BppMask[1], 1u);
    EXPECT_EQ(BppMask[8], 255u);
    EXPECT_EQ(BppMask[16], 65535u);
    EXPECT_EQ(BppMask[32], 0xFFFFFFFFu);
}

TEST_F(ImageStoreTest, TwoByteSamplesFollowTheByteOrder)
{
    MakeTestImage(1, 1, 16);
    ImgData[0] = 1;
    ImgData[1] = 2;
    EXPECT_EQ(GetPixel(0, 0), 258);
    ImgBigEndian = 0;
    EXPECT_EQ(GetPixel(0, 0), 513);

    SetPixel(0, 0, 258);
    EXPECT_EQ(ImgData[0], 2);
    EXPECT_EQ(ImgData[1], 1);
    ImgBigEndian = 1;
    SetPixel(0, 0, 258);
    EXPECT_EQ(ImgData[0], 1);
    EXPECT_EQ(ImgData[1], 2);
}

TEST_F(ImageStoreTest, RowMajorLayout)
{
    MakeTestImage(3, 2, 8, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(GetPixel(2, 0), 3);
    EXPECT_EQ(GetPixel(0, 1), 4);
    EXPECT_EQ(ImgData[5], 6);
}

TEST_F(ImageStoreTest, SetPixelAcceptsLevelMaxOfANonPowerMaxval)
{
    MakeTestImage(2, 1, 8, {}, 1, 200);
    SetPixel(1, 0, 200);
    EXPECT_EQ(GetPixel(1, 0), 200);
}

TEST_F(ImageStoreDeathTest, CoordinatesOutsideTheImageStop)
{
    MakeTestImage(1, 1, 8, {7});
    EXPECT_EQ(GetPixel(0, 0), 7);
    EXPECT_EXIT(GetPixel(1, 0), ::testing::ExitedWithCode(8), CoordinateCheck);
    EXPECT_EXIT(GetPixel(0, 1), ::testing::ExitedWithCode(8), CoordinateCheck);
    EXPECT_EXIT(GetPixel(-1, 0), ::testing::ExitedWithCode(8), CoordinateCheck);
    EXPECT_EXIT(SetPixel(0, -1, 0), ::testing::ExitedWithCode(8), CoordinateCheck);
}

TEST_F(ImageStoreDeathTest, ValueIsCheckedBeforeCoordinates)
{
    MakeTestImage(2, 2, 8, {}, 1, 200);
    EXPECT_EXIT(SetPixel(0, 0, 201), ::testing::ExitedWithCode(8), ValueCheck);
    EXPECT_EXIT(SetPixel(0, 0, -1), ::testing::ExitedWithCode(8), ValueCheck);
    EXPECT_EXIT(SetPixel(-9, 9, 201), ::testing::ExitedWithCode(8), ValueCheck);
}

TEST_F(ImageStoreDeathTest, GetPixelRefusesASampleAboveLevelMax)
{
    MakeTestImage(1, 1, 8, {}, 1, 200);
    ImgData[0] = 201;
    EXPECT_EXIT(GetPixel(0, 0), ::testing::ExitedWithCode(8), ValueCheck);
}

TEST_F(ImageStoreDeathTest, BytesPerPixelOtherThanOneOrTwoStops)
{
    MakeTestImage(1, 1, 8);
    ImgBYTEpp = 3;
    EXPECT_EXIT(GetPixel(0, 0), ::testing::ExitedWithCode(8), "ImgBYTEpp == 2");
    EXPECT_EXIT(SetPixel(0, 0, 0), ::testing::ExitedWithCode(8), "ImgBYTEpp == 2");
}

TEST(BitsNeededTest, SmallestWidthThatHoldsEveryValueBelowVal)
{
    const int cases[][2] = {{1, 0}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {256, 8}, {257, 9}, {65536, 16}};
    for (const auto& c : cases) EXPECT_EQ(BitsNeeded(c[0]), c[1]) << c[0];
}

TEST(BitsNeededDeathTest, ZeroOrNegativeStops)
{
    EXPECT_EXIT(BitsNeeded(0), ::testing::ExitedWithCode(8), "val>0");
    EXPECT_EXIT(BitsNeeded(-5), ::testing::ExitedWithCode(8), "val>0");
}

TEST_F(ImageStoreTest, PrintImgInfoWritesTheAlignedBlock)
{
    MakeTestImage(512, 512, 8);
    ImgFileName = "pebble.pgm";
    ImgRawSkip = 15;
    ::testing::internal::CaptureStdout();
    PrintImgInfo("Input Image");
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "\nInput Image: \n\tImgFileName:  pebble.pgm\n\tImgImageWidth:  512"
              "\n\tImgImageHeight: 512\n\tImgBYTEpp:      1\n\tImgbpp:         8"
              "\n\tImgLevelMax:    255\n\tImgBigEndian:   1\n\tImgRaw:         0"
              "\n\tImgRawSkip:     15");
}
