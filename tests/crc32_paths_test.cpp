// crc32_paths_test.cpp - the whole-buffer CRC-32 (carry-less multiplication folding
// and slicing) against the byte-at-a-time table, on every processor path.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/cpu.h"
#include "support/crc32.h"
#include "test_util.h"

class CrcPathTest : public OnEveryPath<Crc32Path> {};

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

static std::string PathName(const ::testing::TestParamInfo<Crc32Path>& info)
{
    return info.param == Crc32Vclmul ? "Vclmul" : info.param == Crc32Clmul ? "Clmul" : "Portable";
}
INSTANTIATE_TEST_SUITE_P(Paths, CrcPathTest,
                         ::testing::Values(Crc32Portable, Crc32Clmul, Crc32Vclmul), PathName);
