// image.h - the image store: description globals, the pixel buffer, the mask
// table and the checked pixel accessors every transform goes through.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "driver/console.h"

extern const char* ImgFileName;  // not owned: points into the argument list
extern int ImgImageWidth;
extern int ImgImageHeight;
extern int ImgBYTEpp;     // 1 or 2 bytes per pixel, in the file and in memory
extern int Imgbpp;        // nominal bits per pixel, 1..16
extern int ImgLevelMax;   // nominal maximum intensity (a PGM maxval may be any 1..65535)
extern int ImgBigEndian;  // 2-byte samples are stored high byte first
extern int ImgRaw;
extern int ImgRawSkip;
extern unsigned char* ImgData;  // row-major, ImgImageWidth*ImgImageHeight*ImgBYTEpp bytes used

// BppMask[n] = 2^n - 1.
inline constexpr auto BppMaskTable = [] {
    struct { uint32_t v[33]; } table{};
    for (int n = 0; n < 33; ++n) table.v[n] = n == 32 ? 0xFFFFFFFFu : (1u << n) - 1;
    return table;
}();
inline constexpr const uint32_t (&BppMask)[33] = BppMaskTable.v;

// Sets Imgbpp, ImgLevelMax and ImgBYTEpp for a depth of 1..16 bits (and keeps
// the rule ImgBYTEpp = (depth - 1) / 8 + 1 in one place).
inline void ImgSetDepth(int depth)
{
    Imgbpp = depth;
    ImgLevelMax = (int)BppMask[depth];
    ImgBYTEpp = (depth - 1) / 8 + 1;
}

// Sets the three depth fields as they are; the transforms that change the
// depth read each pixel under the old triple and write it under the new one.
inline void ImgUseDepth(int bpp, int levelMax, int bytepp)
{
    Imgbpp = bpp;
    ImgLevelMax = levelMax;
    ImgBYTEpp = bytepp;
}

// Unchecked row access for the fast paths, which check the values themselves.
// One sample of the store's layout; Bytes and BigEndian mirror ImgBYTEpp and
// ImgBigEndian so the loops compile without a branch per sample. Two-byte
// samples move as one 16-bit word, swapped when the store's order is not the
// processor's: loops of these vectorise.
template <int Bytes, bool BigEndian>
inline int LoadSample(const unsigned char* p)
{
    if constexpr (Bytes == 1) {
        return p[0];
    } else {
        uint16_t word;
        std::memcpy(&word, p, 2);
        if constexpr (BigEndian != (std::endian::native == std::endian::big))
            word = (uint16_t)(word << 8 | word >> 8);
        return word;
    }
}

template <int Bytes, bool BigEndian>
inline void StoreSample(unsigned char* p, int value)
{
    if constexpr (Bytes == 1) {
        p[0] = (unsigned char)value;
    } else {
        auto word = (uint16_t)value;
        if constexpr (BigEndian != (std::endian::native == std::endian::big))
            word = (uint16_t)(word << 8 | word >> 8);
        std::memcpy(p, &word, 2);
    }
}


inline std::size_t PixelIndex(int x, int y)
{
    return (std::size_t)y * (std::size_t)ImgImageWidth + (std::size_t)x;
}

inline int GetPixel(int x, int y)
{
    CHECK(x >= 0 && x<ImgImageWidth && y >= 0 && y<ImgImageHeight);
    std::size_t i = PixelIndex(x, y);
    int value;
    if (ImgBYTEpp == 1) {
        value = ImgData[i];
    } else {
        CHECK(ImgBYTEpp == 2);
        const unsigned char* p = ImgData + 2 * i;
        value = ImgBigEndian ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
    }
    CHECK(value <= ImgLevelMax && value >= 0);
    return value;
}

inline void SetPixel(int x, int y, int value)
{
    CHECK(value <= ImgLevelMax && value >= 0);
    CHECK(x >= 0 && x<ImgImageWidth && y >= 0 && y<ImgImageHeight);
    std::size_t i = PixelIndex(x, y);
    if (ImgBYTEpp == 1) {
        ImgData[i] = (unsigned char)value;
    } else {
        CHECK(ImgBYTEpp == 2);
        unsigned char* p = ImgData + 2 * i;
        unsigned char high = (unsigned char)(value >> 8), low = (unsigned char)value;
        if (ImgBigEndian) { p[0] = high; p[1] = low; }
        else              { p[0] = low;  p[1] = high; }
    }
}

// Number of bits needed to write every value 0..val-1.
int BitsNeeded(int val);

void PrintImgInfo(const char* title);

// Whole-row access for the window filters (denoise, soften), which read every row many times. These
// give exactly what GetPixel/SetPixel would, provided ImgSamplesInRange() holds.

// True when ImgBYTEpp is 1 or 2 and no sample exceeds ImgLevelMax, so that GetPixel
// would accept every pixel and direct row reads need no per-pixel check.
bool ImgSamplesInRange();
// Row y unpacked to one value per pixel; T is uint8_t for 1-byte samples, else uint16_t.
template <typename T> void ImgReadRow(int y, T* row);
// Packs row y back. A value above ImgLevelMax goes through SetPixel, whose check stops
// the run exactly as a pixel-by-pixel store would.
template <typename T> void ImgWriteRow(int y, const T* row);
// The same for the columns first .. end-1 of row y only (a vertical strip of the image);
// row holds end - first values.
template <typename T> void ImgReadColumns(int y, int first, int end, T* row);
template <typename T> void ImgWriteColumns(int y, int first, int end, const T* row);
