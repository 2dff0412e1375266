// image.cpp - the image store's globals, BitsNeeded, the description block and the
// whole-row access of the window filters.

#include "image/image.h"

#include <algorithm>
#include <cstring>

#include "image/row_kernels.h"  // the baseline build of the 16-bit row conversions
#include "support/cpu.h"

const char* ImgFileName = nullptr;
int ImgImageWidth = 0, ImgImageHeight = 0;
int ImgBYTEpp = 0, Imgbpp = 0, ImgLevelMax = 0;
int ImgBigEndian = 1;
int ImgRaw = 0, ImgRawSkip = 0;
unsigned char* ImgData = nullptr;

int BitsNeeded(int val)
{
    CHECK(val>0);
    int bits = 0;
    for (unsigned rest = (unsigned)val - 1; rest != 0; rest >>= 1) ++bits;
    return bits;
}

void PrintImgInfo(const char* title)
{
    PrintMsg("\n%s: ", title);
    PrintMsg("\n\tImgFileName:  %s", ImgFileName);
    PrintMsg("\n\tImgImageWidth:  %d", ImgImageWidth);
    PrintMsg("\n\tImgImageHeight: %d", ImgImageHeight);
    PrintMsg("\n\tImgBYTEpp:      %d", ImgBYTEpp);
    PrintMsg("\n\tImgbpp:         %d", Imgbpp);
    PrintMsg("\n\tImgLevelMax:    %d", ImgLevelMax);
    PrintMsg("\n\tImgBigEndian:   %d", ImgBigEndian);
    PrintMsg("\n\tImgRaw:         %d", ImgRaw);
    PrintMsg("\n\tImgRawSkip:     %d", ImgRawSkip);
}

bool ImgSamplesInRange()
{
    if (ImgBYTEpp != 1 && ImgBYTEpp != 2) return false;  // GetPixel's own check stops those
    if (ImgLevelMax >= (ImgBYTEpp == 1 ? 0xFF : 0xFFFF)) return true;  // no stored value is too large
    if (ImgLevelMax < 0) return false;
    std::size_t count = PixelIndex(0, ImgImageHeight);
    unsigned largest = 0;
    if (ImgBYTEpp == 1) {
        for (std::size_t i = 0; i < count; ++i) largest = std::max<unsigned>(largest, ImgData[i]);
    } else {
        // Both bytes of a sample are compared in their stored order, high byte first.
        const unsigned char* p = ImgData;
        std::size_t high = ImgBigEndian ? 0 : 1, low = 1 - high;
        for (std::size_t i = 0; i < count; ++i)
            largest = std::max<unsigned>(largest, p[2 * i + high] << 8 | p[2 * i + low]);
    }
    return largest <= (unsigned)ImgLevelMax;
}

// The 16-bit row conversions of the vector path chosen for this run.
static const ImgRowKernels& RowKernels()
{
    static constexpr ImgRowKernels baseline = MakeImgRowKernels();
    return GRAYFIX_PATH_TABLE(baseline, ImgRowKernelsAvx2, ImgRowKernelsAvx512);
}

template <typename T> void ImgReadColumns(int y, int first, int end, T* row)
{
    const unsigned char* p = ImgData + PixelIndex(first, y) * sizeof(T);
    int width = end - first;
    if constexpr (sizeof(T) == 1)
        std::memcpy(row, p, (std::size_t)width);
    else
        RowKernels().unpack[ImgBigEndian != 0](p, row, width);
}

template <typename T> void ImgWriteColumns(int y, int first, int end, const T* row)
{
    int width = end - first;
    // No value exceeds the OR of them all, and an OR pass is much quicker than a max pass
    // (SSE2 has no 16-bit unsigned max); the max is needed only for a maxval like 1000.
    // With the largest maxval of the sample size, no value can be too large.
    T bits = 0;
    if (ImgLevelMax < (int)(T)~T(0)) {
        if constexpr (sizeof(T) == 1)
            for (int x = 0; x < width; ++x) bits |= row[x];
        else
            bits = RowKernels().bits(row, width);
    }
    T largest = bits;
    if (bits > ImgLevelMax) {
        largest = 0;
        for (int x = 0; x < width; ++x) largest = std::max(largest, row[x]);
    }
    if (largest > ImgLevelMax) {  // SetPixel stores up to the first such value, then stops the run
        for (int x = 0; x < width; ++x) SetPixel(first + x, y, row[x]);
        return;
    }
    unsigned char* p = ImgData + PixelIndex(first, y) * sizeof(T);
    if constexpr (sizeof(T) == 1)
        std::memcpy(p, row, (std::size_t)width);
    else
        RowKernels().pack[ImgBigEndian != 0](row, p, width);
}

template <typename T> void ImgReadRow(int y, T* row) { ImgReadColumns(y, 0, ImgImageWidth, row); }
template <typename T> void ImgWriteRow(int y, const T* row) { ImgWriteColumns(y, 0, ImgImageWidth, row); }

template void ImgReadColumns<uint8_t>(int, int, int, uint8_t*);
template void ImgReadColumns<uint16_t>(int, int, int, uint16_t*);
template void ImgWriteColumns<uint8_t>(int, int, int, const uint8_t*);
template void ImgWriteColumns<uint16_t>(int, int, int, const uint16_t*);
template void ImgReadRow<uint8_t>(int, uint8_t*);
template void ImgReadRow<uint16_t>(int, uint16_t*);
template void ImgWriteRow<uint8_t>(int, const uint8_t*);
template void ImgWriteRow<uint16_t>(int, const uint16_t*);
