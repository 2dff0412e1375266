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
