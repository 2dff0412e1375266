// crc32.cpp - whole-buffer CRC-32, eight bytes per table step.

#include "support/crc32.h"

#include <bit>
#include <cstring>

// Folds eight bytes (the first in the low byte of word) into the running CRC.
static inline uint32_t Fold8(uint32_t crc, uint64_t word)
{
    const auto& t = Crc32Tables.t;
    uint32_t lo = (uint32_t)word ^ crc, hi = (uint32_t)(word >> 32);
    return t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24]
         ^ t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
}

static inline uint64_t LoadLittle64(const unsigned char* p)
{
    uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

uint32_t ComputeCRC32(const unsigned char* data, int32_t length)
{
    if (length <= 0) return 0;
    uint32_t crc = 0xFFFFFFFFu;
    std::size_t n = (std::size_t)length;
    for (; n >= 8; n -= 8, data += 8) crc = Fold8(crc, LoadLittle64(data));
    for (; n > 0; --n) crc = UpdateCRC32(*data++, crc);
    return ~crc;
}

uint32_t ComputeCRC32Swapped16(const unsigned char* data, int32_t length)
{
    if (length <= 0) return 0;
    uint32_t crc = 0xFFFFFFFFu;
    std::size_t n = (std::size_t)length;
    constexpr uint64_t evenBytes = 0x00FF00FF00FF00FFull;
    for (; n >= 8; n -= 8, data += 8) {
        uint64_t word = LoadLittle64(data);
        crc = Fold8(crc, ((word >> 8) & evenBytes) | ((word & evenBytes) << 8));
    }
    for (; n >= 2; n -= 2, data += 2) crc = UpdateCRC32(data[0], UpdateCRC32(data[1], crc));
    if (n == 1) crc = UpdateCRC32(data[0], crc);  // an odd length has no partner byte
    return ~crc;
}
