// stats.cpp - PrintImgStats and ReportImgStats.

#include "image/stats.h"

#include <cmath>
#include <cstdlib>

#include "driver/console.h"
#include "image/image.h"
#include "support/crc32.h"

int minLevel = 0;
int maxLevel = 0;
int numLevels = 0;
int bitsUsed = 0;
double H0 = 0.0;
uint32_t BigEndianCRC32 = 0;
uint32_t ByteCRC32 = 0;

// Counts every sample of the buffer. The histogram spans the whole sample
// range, so a sample above ImgLevelMax is counted, not stored out of bounds,
// and refused afterwards with the accessor's own condition.
static void CountIntensities(int* hist, std::size_t pixels)
{
    const unsigned char* p = ImgData;
    if (ImgBYTEpp == 1) {
        for (std::size_t i = 0; i < pixels; ++i) ++hist[p[i]];
    } else {
        CHECK(ImgBYTEpp == 2);
        int high = ImgBigEndian ? 0 : 1;
        for (std::size_t i = 0; i < pixels; ++i, p += 2) ++hist[p[high] << 8 | p[1 - high]];
    }
}

void PrintImgStats()
{
    double N = (double)ImgImageWidth * ImgImageHeight;
    std::size_t pixels = (std::size_t)ImgImageWidth * (std::size_t)ImgImageHeight;
    int range = ImgBYTEpp == 1 ? 256 : 65536;
    auto* hist = (int*)std::calloc((std::size_t)range, sizeof(int));
    if (hist == nullptr) FatalError("PrintImgStats: Cannot allocate mem", ExitStatsMemory);
    CountIntensities(hist, pixels);
    for (int value = ImgLevelMax + 1; value < range; ++value)
        if (hist[value] != 0) CHECK(value <= ImgLevelMax && value >= 0);

    // Both checksums cover the same bytes unless 2-byte samples are stored
    // little-endian; then the big-endian one reads each pair swapped.
    int32_t bytes = (int32_t)(pixels * (std::size_t)ImgBYTEpp);
    ByteCRC32 = ComputeCRC32(ImgData, bytes);
    BigEndianCRC32 = (ImgBYTEpp == 1 || ImgBigEndian) ? ByteCRC32
                                                      : ComputeCRC32Swapped16(ImgData, bytes);

    minLevel = maxLevel = GetPixel(0, 0);
    numLevels = 0;
    bitsUsed = 0;
    H0 = 0.0;
    for (int i = 0; i <= ImgLevelMax; ++i) {
        int n = hist[i];
        if (n == 0) continue;
        ++numLevels;
        if (i < minLevel) minLevel = i;
        if (i > maxLevel) maxLevel = i;
        bitsUsed |= i;
        double p = n / N;
        H0 = H0 - n * std::log(p) * 1.4426950408889634;
    }
    std::free(hist);
}

void ReportImgStats()
{
    PrintMsg("\n\nActual minLevel:");
    PrintMsg(" %d", minLevel);
    PrintMsg(" maxLevel:");
    PrintMsg(" %d", maxLevel);
    PrintMsg(" numLevels:");
    PrintMsg(" %d", numLevels);
    PrintMsg(" bitsUsed:");
    PrintMsg(" 0x%04x", (unsigned)bitsUsed);
    PrintMsg("\nH0 (bits):");
    PrintMsg(" %.0f", std::ceil(H0));
    PrintMsg(" (Bytes):");
    PrintMsg(" %.0f", std::ceil(H0 * 0.125));
    PrintMsg(" (bpp):");
    PrintMsg(" %.12f", H0 / ((double)ImgImageHeight * (double)ImgImageWidth));
    PrintMsg("\nBigEndian CRC32:");
    PrintMsg(" 0x%08x", BigEndianCRC32);
    PrintMsg(" BYTE CRC32:");
    PrintMsg(" 0x%08x", ByteCRC32);
}
