// rawio_test.cpp - the pixel reader's exact-size rule and the writer's bytes.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <random>

#include "image/image.h"
#include "image/rawio.h"
#include "test_util.h"

class RawIoTest : public ::testing::Test {
protected:
    TempDir dir;
    void TearDown() override { FreeTestImage(); }
};
using RawIoDeathTest = RawIoTest;

TEST_F(RawIoTest, ReadsExactlyTheBytesAfterTheSkip)
{
    dir.Write("a.raw", {9, 9, 9, 1, 2, 3, 4});
    unsigned char* data = ReadRaw(dir.Path("a.raw").c_str(), 3, 2, 2, 1);
    EXPECT_EQ(Bytes(data, data + 4), Bytes({1, 2, 3, 4}));
    std::free(data);
}

TEST_F(RawIoDeathTest, SizeMismatchesAreRefused)
{
    const auto tooShort = ::testing::ExitedWithCode(2);
    dir.Write("three", {1, 2, 3});
    EXPECT_EXIT(ReadRaw(dir.Path("three").c_str(), 0, 2, 2, 1), tooShort, "^\ngrayfix ERROR: ReadRaw: Input file too short$");
    dir.Write("five", {1, 2, 3, 4, 5});
    EXPECT_EXIT(ReadRaw(dir.Path("five").c_str(), 0, 2, 2, 1), tooShort, "^\ngrayfix ERROR: ReadRaw: Input file too long$");
    dir.Write("seven", {1, 2, 3, 4, 5, 6, 7});  // a 2x2 16-bit image lacking its last byte
    EXPECT_EXIT(ReadRaw(dir.Path("seven").c_str(), 0, 2, 2, 2), tooShort, "Input file too short");
    EXPECT_EXIT(ReadRaw(dir.Path("five").c_str(), 100, 1, 1, 1), tooShort, "Input file too short");
    EXPECT_EXIT(ReadRaw(dir.Path("none").c_str(), 0, 1, 1, 1), tooShort, "^\ngrayfix ERROR: ReadRaw: Cannot open input$");
}

TEST_F(RawIoDeathTest, ByteCountBeyondTheIntRangeCannotBeAllocated)
{
    dir.Write("tiny", {1});
    for (auto dims : {std::array<int, 3>{65535, 65535, 2}, {46341, 46341, 1}, {2147483647, 1, 2},
                      {2147483647, 2147483647, 1}})
        EXPECT_EXIT(ReadRaw(dir.Path("tiny").c_str(), 0, dims[0], dims[1], dims[2]),
                    ::testing::ExitedWithCode(3), "^\ngrayfix ERROR: ReadRaw: Cannot allocate$");
}

TEST_F(RawIoTest, WritesPgmHeaderAndPixels)
{
    MakeTestImage(3, 2, 8, {1, 2, 3, 4, 5, 6});
    WriteImage(dir.Path("o.pgm").c_str(), ImgData, 0, 3, 2, 1);
    EXPECT_EQ(dir.Read("o.pgm"), ToBytes(std::string("P5\n3 2\n255\n\x01\x02\x03\x04\x05\x06")));
    EXPECT_EQ(dir.Read("o.pgm").size(), 17u);
    WriteImage(dir.Path("o.raw").c_str(), ImgData, 1, 3, 2, 1);
    EXPECT_EQ(dir.Read("o.raw"), Bytes({1, 2, 3, 4, 5, 6}));
}

TEST_F(RawIoTest, WritesTheMaxvalAndByteOrderAsTheyStand)
{
    MakeTestImage(2, 1, 10, {1000, 1}, 0, 1000);
    WriteImage(dir.Path("o.pgm").c_str(), ImgData, 0, 2, 1, 2);
    EXPECT_EQ(dir.Read("o.pgm"), ToBytes(std::string("P5\n2 1\n1000\n\xe8\x03\x01\x00", 16)));
}

TEST_F(RawIoDeathTest, UnopenableOutputIsStatusFour)
{
    MakeTestImage(1, 1, 8);
    EXPECT_EXIT(WriteImage(dir.Path("no/such/dir.pgm").c_str(), ImgData, 0, 1, 1, 1),
                ::testing::ExitedWithCode(4), "^\ngrayfix ERROR: WriteImage: Error openning output file$");
}

// The header comes from the dimensions given, whatever the store holds.
TEST_F(RawIoTest, WriterHeaderTakesTheDimensionsItIsGiven)
{
    MakeTestImage(3, 2, 8, {1, 2, 3, 4, 5, 6});
    std::string path = dir.Path("out.pgm");
    WriteImage(path.c_str(), ImgData, 0, 2, 3, 1);
    EXPECT_EQ(dir.Read("out.pgm"), MakePgm(2, 3, 255, {1, 2, 3, 4, 5, 6}));
}

// The reader's large-buffer allocation.

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
