// row_kernels.h - the image store's 16-bit row conversions (unpacking and packing
// either byte order, and the OR of a row for its range test), loops the compiler
// vectorises. Included once by each vector path's source (image.cpp, image_avx2.cpp,
// image_avx512.cpp), which compiles it for its target; support/cpu.h chooses.
//
// The kernels have internal linkage on purpose: a shared inline function could be
// merged by the linker with a copy built for a wider target and then run where that
// target is missing.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "support/cpu.h"

struct ImgRowKernels {
    void (*unpack[2])(const unsigned char* p, uint16_t* row, int width);  // [bigEndian]
    void (*pack[2])(const uint16_t* row, unsigned char* p, int width);    // [bigEndian]
    uint16_t (*bits)(const uint16_t* row, int width);                      // OR of the row
};

#ifdef GRAYFIX_X86
extern const ImgRowKernels ImgRowKernelsAvx2;
extern const ImgRowKernels ImgRowKernelsAvx512;
#endif

namespace {

// Whole 16-bit words, swapped when the order is not the processor's: the compiler turns
// the swap into one byte shuffle per register.
template <bool BigEndian> void Unpack(const unsigned char* p, uint16_t* row, int width)
{
    for (int x = 0; x < width; ++x) {
        uint16_t word;
        std::memcpy(&word, p + 2 * x, 2);
        if constexpr (BigEndian != (std::endian::native == std::endian::big))
            word = (uint16_t)(word << 8 | word >> 8);
        row[x] = word;
    }
}

template <bool BigEndian> void Pack(const uint16_t* row, unsigned char* p, int width)
{
    for (int x = 0; x < width; ++x) {
        uint16_t word = row[x];
        if constexpr (BigEndian != (std::endian::native == std::endian::big))
            word = (uint16_t)(word << 8 | word >> 8);
        std::memcpy(p + 2 * x, &word, 2);
    }
}

uint16_t OrOfRow(const uint16_t* row, int width)
{
    uint16_t bits = 0;
    for (int x = 0; x < width; ++x) bits |= row[x];
    return bits;
}

// This file's kernels as a table, for a constinit definition: no start-up code runs
// with a wider target's instructions.
constexpr ImgRowKernels MakeImgRowKernels()
{
    return {{Unpack<false>, Unpack<true>}, {Pack<false>, Pack<true>}, OrOfRow};
}

}  // namespace
