// crc32.h - the standard CRC-32 (reflected polynomial 0xEDB88320): the byte
// table built at compile time, the one-byte step and whole-buffer checksums.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/cpu.h"

// Crc32Tables.t[0] is the classic byte table; t[1..7] extend it so that eight
// bytes can be folded per step (slicing-by-8), giving the same value.
inline constexpr auto Crc32Tables = [] {
    struct { uint32_t t[8][256]; } tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        tables.t[0][i] = c;
    }
    for (int k = 1; k < 8; ++k)
        for (int i = 0; i < 256; ++i) {
            uint32_t prev = tables.t[k - 1][i];
            tables.t[k][i] = (prev >> 8) ^ tables.t[0][prev & 0xFF];
        }
    return tables;
}();
static_assert(Crc32Tables.t[0][1] == 0x77073096u && Crc32Tables.t[0][255] == 0x2D02EF8Du);

// One byte into a running CRC; the caller starts from 0xFFFFFFFF and
// complements the final value.
inline uint32_t UpdateCRC32(unsigned byte, uint32_t crc)
{
    return (crc >> 8) ^ Crc32Tables.t[0][(crc ^ byte) & 0xFF];
}

// The complete CRC-32 of length bytes (0 for an empty buffer).
uint32_t ComputeCRC32(const unsigned char* data, int32_t length);

// The CRC-32 of a buffer of 2-byte samples with the two bytes of every sample
// taken in swapped order: the big-endian serialisation of little-endian samples.
uint32_t ComputeCRC32Swapped16(const unsigned char* data, int32_t length);

// The same two checksums in running form: they take and return the
// uncomplemented register, so a buffer can be fed in pieces. Pieces of the
// swapped form must have even lengths, except the last.
uint32_t UpdateCRC32Buffer(uint32_t crc, const unsigned char* data, std::size_t length);
uint32_t UpdateCRC32BufferSwapped16(uint32_t crc, const unsigned char* data, std::size_t length);

// The running register after length more bytes of zeros: how a register taken over
// earlier bytes carries into one computed over later ones from 0, since the checksum is
// linear. UpdateCRC32Buffer(crc, data, n) equals
// CRC32AfterZeros(crc, n) ^ UpdateCRC32Buffer(0, data, n), so pieces checksummed apart
// (on several threads) join into the whole's register.
uint32_t CRC32AfterZeros(uint32_t crc, std::size_t length);

// How the whole-buffer forms work: carry-less multiplication (x86 PCLMULQDQ,
// or VPCLMULQDQ on 512-bit registers) where the processor has it, else
// slicing tables. The choice is made at run time (Crc32Path, support/cpu.h), so
// the binary runs on any x86-64; tests switch paths to cover every one the
// processor has.

// The carry-less multiplication paths (crc32_clmul.cpp), for the dispatcher in
// crc32.cpp. Each folds a whole buffer of n >= 64 bytes, n a multiple of 16,
// into the running CRC; wide: with 512-bit registers when n >= 256.
#ifdef GRAYFIX_X86
uint32_t UpdateCRC32Clmul(uint32_t crc, const unsigned char* data, std::size_t n, bool wide);
uint32_t UpdateCRC32ClmulSwapped16(uint32_t crc, const unsigned char* data, std::size_t n, bool wide);
#endif
