// stats.cpp - PrintImgStats and ReportImgStats: one cache-friendly pass over
// the pixel buffer for the histogram and both CRC-32s.

#include "image/stats.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>

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

// The pixel buffer is checksummed and counted in blocks of this many bytes,
// each counted while the checksum has just brought it into the cache, so one
// statistics pass reads the buffer from memory once. Even, so that no 2-byte
// sample straddles two blocks.
constexpr std::size_t BlockBytes = 16 * 1024;

// Counting uses two (16-bit) or four (8-bit) copies of the histogram, taken in
// turn by consecutive samples: runs of equal samples are common in images,
// and an increment of the same counter would otherwise have to wait for the
// store of the previous one. Samples come eight bytes at a time. The first
// copy is the histogram itself; the others live here for the whole run, so
// the second statistics pass finds their pages already mapped.
static uint32_t ExtraCopies[65536];

static inline uint64_t LoadWord(const unsigned char* p)
{
    uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;  // p[0] in the low byte
}

static void Count8(uint32_t* h0, const unsigned char* p, std::size_t n)
{
    uint32_t *h1 = ExtraCopies, *h2 = ExtraCopies + 256, *h3 = ExtraCopies + 512;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w = LoadWord(p + i);
        ++h0[w & 0xFF]; ++h1[(w >> 8) & 0xFF]; ++h2[(w >> 16) & 0xFF]; ++h3[(w >> 24) & 0xFF];
        ++h0[(w >> 32) & 0xFF]; ++h1[(w >> 40) & 0xFF]; ++h2[(w >> 48) & 0xFF]; ++h3[w >> 56];
    }
    for (; i < n; ++i) ++h0[p[i]];
}

// n is even. Counting is order-blind, so a big-endian word is byte-reversed
// whole: its four samples come out right, in reverse order.
static void Count16(uint32_t* h0, const unsigned char* p, std::size_t n, bool bigEndian)
{
    uint32_t* h1 = ExtraCopies;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w = LoadWord(p + i);
        if (bigEndian) w = __builtin_bswap64(w);
        ++h0[w & 0xFFFF]; ++h1[(w >> 16) & 0xFFFF]; ++h0[(w >> 32) & 0xFFFF]; ++h1[w >> 48];
    }
    for (; i < n; i += 2) ++h0[bigEndian ? p[i] << 8 | p[i + 1] : p[i + 1] << 8 | p[i]];
}

// Some sample is above ImgLevelMax. Reading the pixels in scan order through
// GetPixel stops the run at the first of them with exactly the diagnostic a
// pixel-by-pixel statistics pass gives.
[[noreturn]] static void RefuseTooHighPixel(int pixel)
{
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) GetPixel(x, y);
    CHECK(pixel <= ImgLevelMax);  // the counts were wrong if the pixels were all fine
    std::exit(ExitCheckFailed);   // not reached
}

void PrintImgStats()
{
    double N = (double)ImgImageWidth * ImgImageHeight;
    std::size_t pixels = (std::size_t)ImgImageWidth * (std::size_t)ImgImageHeight;
    std::size_t bytes = pixels * (std::size_t)ImgBYTEpp;
    if (ImgBYTEpp != 1 && ImgBYTEpp != 2) GetPixel(0, 0);  // refuses it with its own check
    // The histogram spans every value a sample can hold, so a sample above
    // ImgLevelMax is counted, not stored out of bounds, and refused afterwards.
    int range = ImgBYTEpp == 1 ? 256 : 65536;
    auto* hist = (int*)std::calloc((std::size_t)range, sizeof(int));
    if (hist == nullptr) FatalError("PrintImgStats: Cannot allocate mem", ExitStatsMemory);
    std::size_t extraCounters = ImgBYTEpp == 1 ? 3 * 256 : 65536;
    std::memset(ExtraCopies, 0, extraCounters * sizeof(uint32_t));
    auto* counts = (uint32_t*)hist;  // int and unsigned int may alias

    // Both checksums cover the same bytes unless 2-byte samples are stored
    // little-endian; then the big-endian one reads each pair swapped.
    bool swappedCrc = ImgBYTEpp == 2 && !ImgBigEndian;
    uint32_t byteCrc = 0xFFFFFFFFu, bigEndianCrc = 0xFFFFFFFFu;
    for (std::size_t offset = 0; offset < bytes; offset += BlockBytes) {
        const unsigned char* block = ImgData + offset;
        std::size_t length = std::min(BlockBytes, bytes - offset);
        byteCrc = UpdateCRC32Buffer(byteCrc, block, length);
        if (swappedCrc) bigEndianCrc = UpdateCRC32BufferSwapped16(bigEndianCrc, block, length);
        if (ImgBYTEpp == 1) Count8(counts, block, length);
        else Count16(counts, block, length, ImgBigEndian != 0);
    }
    ByteCRC32 = ~byteCrc;
    BigEndianCRC32 = swappedCrc ? ~bigEndianCrc : ByteCRC32;

    // Each total is at most the pixel count, which fits in an int. The range
    // is a power of two.
    for (std::size_t i = 0; i < extraCounters; ++i) counts[i & (std::size_t)(range - 1)] += ExtraCopies[i];
    for (int value = ImgLevelMax + 1; value < range; ++value)
        if (hist[value] != 0) {
            std::free(hist);  // the run ends there: leave nothing allocated behind
            RefuseTooHighPixel(value);
        }

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
