// crc32_test.cpp - CRC-32 against the standard check values.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "support/crc32.h"

static uint32_t Crc(const char* text) { return ComputeCRC32((const unsigned char*)text, (int32_t)std::strlen(text)); }

TEST(Crc32Test, StandardCheckValues)
{
    EXPECT_EQ(Crc("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc("abc"), 0x352441C2u);
    EXPECT_EQ(Crc(""), 0u);
}

TEST(Crc32Test, SlicedEqualsBytewiseForEveryLength)
{
    std::mt19937 random(7);
    std::vector<unsigned char> data(100);
    for (auto& b : data) b = (unsigned char)random();
    for (int32_t length = 0; length <= 100; ++length) {
        uint32_t crc = 0xFFFFFFFFu, swapped = 0xFFFFFFFFu;
        for (int32_t i = 0; i < length; ++i) crc = UpdateCRC32(data[i], crc);
        for (int32_t i = 0; i + 1 < length; i += 2)
            swapped = UpdateCRC32(data[i], UpdateCRC32(data[i + 1], swapped));
        if (length % 2) swapped = UpdateCRC32(data[length - 1], swapped);
        EXPECT_EQ(ComputeCRC32(data.data(), length), length ? ~crc : 0u) << length;
        EXPECT_EQ(ComputeCRC32Swapped16(data.data(), length), length ? ~swapped : 0u) << length;
    }
}

// A register carried over n zero bytes joins pieces checksummed apart: for every split of
// a buffer, the first piece's register carried over the second's length and XORed with
// the second's (from 0) is the whole's, in both byte orders.
TEST(Crc32Test, PiecesJoinThroughZeros)
{
    std::mt19937 random(8);
    std::vector<unsigned char> data(70000);
    for (auto& b : data) b = (unsigned char)random();
    for (std::size_t split : {std::size_t(0), std::size_t(2), std::size_t(64), std::size_t(16384),
                              std::size_t(69998), data.size()}) {
        std::size_t rest = data.size() - split;
        uint32_t first = UpdateCRC32Buffer(0xFFFFFFFFu, data.data(), split);
        EXPECT_EQ(CRC32AfterZeros(first, rest) ^ UpdateCRC32Buffer(0, data.data() + split, rest),
                  UpdateCRC32Buffer(0xFFFFFFFFu, data.data(), data.size())) << split;
        uint32_t swapped = UpdateCRC32BufferSwapped16(0xFFFFFFFFu, data.data(), split);
        EXPECT_EQ(CRC32AfterZeros(swapped, rest) ^ UpdateCRC32BufferSwapped16(0, data.data() + split, rest),
                  UpdateCRC32BufferSwapped16(0xFFFFFFFFu, data.data(), data.size())) << split;
    }
    EXPECT_EQ(CRC32AfterZeros(0x12345678u, 0), 0x12345678u);
}
