// pgm_test.cpp - the PGM P5 header grammar: separators, comments, terminator,
// derived depth and data offset, and every way a header is refused.

#include <gtest/gtest.h>

#include "image/image.h"
#include "image/pgm.h"
#include "test_util.h"

class PgmHeaderTest : public ::testing::Test {
protected:
    TempDir dir;
    // Writes the bytes as a file and reads its header into the store.
    void Read(const std::string& bytes)
    {
        dir.Write("h.pgm", ToBytes(bytes));
        ReadPgmHeader(dir.Path("h.pgm").c_str());
    }
    void ExpectHeader(int width, int height, int maxval, int bpp, int bytepp, int skip)
    {
        EXPECT_EQ(ImgImageWidth, width);
        EXPECT_EQ(ImgImageHeight, height);
        EXPECT_EQ(ImgLevelMax, maxval);
        EXPECT_EQ(Imgbpp, bpp);
        EXPECT_EQ(ImgBYTEpp, bytepp);
        EXPECT_EQ(ImgRawSkip, skip);
    }
};
using PgmHeaderDeathTest = PgmHeaderTest;

TEST_F(PgmHeaderTest, CommentLineBeforeTheNumbers)
{
    Read(std::string("P5\n# comment\n3 2\n255\n") + "abcdef");
    ExpectHeader(3, 2, 255, 8, 1, 21);
}

TEST_F(PgmHeaderTest, TerminatorIsExactlyOneByteOrCrLf)
{
    Read("P5 3 2 255\r\nxxxxxx");
    ExpectHeader(3, 2, 255, 8, 1, 12);
    Read("P5 3 2 255\n\nxxxxx");
    ExpectHeader(3, 2, 255, 8, 1, 11);
    Read("P5 3 2 255 #not a comment");
    ExpectHeader(3, 2, 255, 8, 1, 11);
    Read("P5 3 2 255\t\x0b");
    EXPECT_EQ(ImgRawSkip, 11);
}

TEST_F(PgmHeaderTest, CommentsWhereverASeparatorMayStand)
{
    Read("P5#after magic\n3#after width\n\n# second\n#third\r\n  2 # cr alone \r does not end it\n255\n");
    ExpectHeader(3, 2, 255, 8, 1, 84);
    Read("P53 2 255\n");  // no separator after the magic
    ExpectHeader(3, 2, 255, 8, 1, 10);
}

TEST_F(PgmHeaderTest, DepthDerivesFromMaxval)
{
    const int cases[][3] = {{1, 1, 1},     {3, 2, 1},     {200, 8, 1},  {255, 8, 1},
                            {256, 9, 2},   {1000, 10, 2}, {4095, 12, 2}, {65535, 16, 2}};
    for (const auto& c : cases) {
        Read("P5 1 1 " + std::to_string(c[0]) + "\n");
        EXPECT_EQ(ImgLevelMax, c[0]);
        EXPECT_EQ(Imgbpp, c[1]) << c[0];
        EXPECT_EQ(ImgBYTEpp, c[2]) << c[0];
    }
}

TEST_F(PgmHeaderTest, HeaderEndingAtTheTerminatorIsAccepted)
{
    Read("P5\n4 4\n255\n");
    ExpectHeader(4, 4, 255, 8, 1, 11);
}

TEST_F(PgmHeaderTest, ByteOrderAndRawFlagAreLeftAlone)
{
    ImgBigEndian = 0;
    ImgRaw = 0;
    Read("P5 1 1 65535\n");
    EXPECT_EQ(ImgBigEndian, 0);
    EXPECT_EQ(ImgRaw, 0);
    ImgBigEndian = 1;
}

TEST_F(PgmHeaderDeathTest, MalformedHeadersAreBad)
{
    const char* bad[] = {
        "",                     // empty file
        " P5 3 2 255\n",        // whitespace before the magic
        "P2 3 2 255\n",         // other magics
        "P6 3 2 255\n",
        "p5 3 2 255\n",
        "P5 3 2 255\rx",        // CR not followed by LF
        "P5 3 2 255\r",
        "P5 3 2 255",           // no terminator
        "P5 3 2 255#c\n",       // no comment directly after maxval
        "P5 3 2 # comment to the end",
        "P5 3 2 ",              // separator runs into the end
        "P5 3 x 255\n",         // malformed number
        "P5 3 - 255\n",
        "P5 3 2 99999999999\n", // numbers outside the int range
        "P5 4294967297 2 255\n",
        "P5 3 2 255\x85",       // 0x85 is not whitespace
    };
    for (const char* header : bad)
        EXPECT_EXIT(Read(header), ::testing::ExitedWithCode(2), "^\ngrayfix ERROR: ReadPgm: Bad pgm header$")
            << header;
}

TEST_F(PgmHeaderDeathTest, OutOfRangeFieldsStopAtTheRangeCheck)
{
    const char* check = "ImgImageWidth>0 && ImgImageHeight>0 && ImgLevelMax>0 && ImgLevelMax <= 0xFFFF";
    for (const char* header : {"P5 3 2 65536\n", "P5 3 2 0\n", "P5 3 2 -1\n", "P5 0 2 255\n",
                               "P5 3 -2 255\n", "P5 -2147483648 2 255\n"})
        EXPECT_EXIT(Read(header), ::testing::ExitedWithCode(8), check) << header;
}

TEST_F(PgmHeaderDeathTest, MissingFileCannotBeOpened)
{
    EXPECT_EXIT(ReadPgmHeader(dir.Path("missing.pgm").c_str()), ::testing::ExitedWithCode(2),
                "^\ngrayfix ERROR: ReadPgm: Cannot open input$");
}
