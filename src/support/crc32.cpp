// crc32.cpp - whole-buffer CRC-32: carry-less multiplication folding where the
// processor has it, slicing-by-8 tables everywhere else; both give the value
// of the byte-at-a-time table method.

#include "support/crc32.h"

#include <bit>
#include <cstring>

#include "support/cpu.h"

// ---- Portable path: slicing-by-8 ----

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

static uint32_t UpdateSliced(uint32_t crc, const unsigned char* data, std::size_t n)
{
    for (; n >= 8; n -= 8, data += 8) crc = Fold8(crc, LoadLittle64(data));
    for (; n > 0; --n) crc = UpdateCRC32(*data++, crc);
    return crc;
}

static uint32_t UpdateSlicedSwapped16(uint32_t crc, const unsigned char* data, std::size_t n)
{
    constexpr uint64_t evenBytes = 0x00FF00FF00FF00FFull;
    for (; n >= 8; n -= 8, data += 8) {
        uint64_t word = LoadLittle64(data);
        crc = Fold8(crc, ((word >> 8) & evenBytes) | ((word & evenBytes) << 8));
    }
    for (; n >= 2; n -= 2, data += 2) crc = UpdateCRC32(data[0], UpdateCRC32(data[1], crc));
    if (n == 1) crc = UpdateCRC32(data[0], crc);  // an odd length has no partner byte
    return crc;
}

// ---- Dispatch ----

// The leading multiple of 16 bytes of a long enough buffer by carry-less
// multiplication when the current path has it; the rest by the tables.
template <bool Swap>
static uint32_t Update(uint32_t crc, const unsigned char* data, std::size_t n)
{
#ifdef GRAYFIX_X86
    Crc32Path path = GetPath<Crc32Path>();
    if (path != Crc32Portable && n >= 64) {
        std::size_t folded = n & ~(std::size_t)15;
        bool wide = path == Crc32Vclmul;
        crc = Swap ? UpdateCRC32ClmulSwapped16(crc, data, folded, wide)
                   : UpdateCRC32Clmul(crc, data, folded, wide);
        data += folded;
        n -= folded;
    }
#endif
    return Swap ? UpdateSlicedSwapped16(crc, data, n) : UpdateSliced(crc, data, n);
}

uint32_t UpdateCRC32Buffer(uint32_t crc, const unsigned char* data, std::size_t length)
{
    return Update<false>(crc, data, length);
}

uint32_t UpdateCRC32BufferSwapped16(uint32_t crc, const unsigned char* data, std::size_t length)
{
    return Update<true>(crc, data, length);
}

uint32_t ComputeCRC32(const unsigned char* data, int32_t length)
{
    if (length <= 0) return 0;
    return ~UpdateCRC32Buffer(0xFFFFFFFFu, data, (std::size_t)length);
}

uint32_t ComputeCRC32Swapped16(const unsigned char* data, int32_t length)
{
    if (length <= 0) return 0;
    return ~UpdateCRC32BufferSwapped16(0xFFFFFFFFu, data, (std::size_t)length);
}

// a * b modulo the polynomial, bit 31 holding x^0 as in the reflected register.
static uint32_t MultiplyModP(uint32_t a, uint32_t b)
{
    uint32_t product = 0;
    for (uint32_t bit = 1u << 31; bit != 0; bit >>= 1) {
        if (a & bit) product ^= b;
        b = b & 1 ? (b >> 1) ^ 0xEDB88320u : b >> 1;
    }
    return product;
}

uint32_t CRC32AfterZeros(uint32_t crc, std::size_t length)
{
    // Multiplies by x^(8 length) through the squares x^8, x^16, x^32, ...
    uint32_t power = 1u << 23;  // x^8
    for (; length != 0; length >>= 1) {
        if (length & 1) crc = MultiplyModP(power, crc);
        power = MultiplyModP(power, power);
    }
    return crc;
}
