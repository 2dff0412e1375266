// geometry.cpp - ImgTransformDownsize and ImgTransformCrop: block means and
// rectangles, packed row-major from the start of the same buffer.

#include "transforms/geometry.h"

#include <cstddef>
#include <cstring>

#include "driver/console.h"
#include "image/image.h"

// Both transforms work on whole rows of the buffer instead of one GetPixel or
// SetPixel per pixel, and set the new dimensions once at the end. They keep
// the accessors' results and checks: every source sample is tested against
// ImgLevelMax (as the largest of a run of samples, under the accessor's own
// condition text) and every stored value is tested before it is written.
// Writing forward is safe in place: output pixel (x, y) lands at index
// y*newWidth + x, never after a source sample that is still to be read.

// A computed value is checked as SetPixel would check it, then stored.
template <int Bytes, bool BigEndian>
static inline void StoreChecked(unsigned char* p, int value)
{
    CHECK(value <= ImgLevelMax && value >= 0);
    StoreSample<Bytes, BigEndian>(p, value);
}

// Source columns summed at a time. The column sums live on the stack, so the
// transform needs no scratch buffer for any width; a chunk holds whole blocks.
constexpr int DownsizeChunk = 4096;

// Times is the factor when it is known at compile time (then the division by
// the block area becomes a multiplication), 0 when it is only known as times.
template <int Bytes, bool BigEndian, int Times>
static void DownsizeRows(int times, int newWidth, int newHeight)
{
    const int factor = Times != 0 ? Times : times;
    const int area = factor * factor;
    const std::size_t rowBytes = (std::size_t)ImgImageWidth * Bytes;
    const int blocksPerChunk = DownsizeChunk / factor;
    int columns[DownsizeChunk];  // each at most 100*65535, a block at most 100*100*65535 < 2^31
    for (int y = 0; y < newHeight; ++y) {
        const unsigned char* block = ImgData + (std::size_t)y * factor * rowBytes;
        unsigned char* out = ImgData + (std::size_t)y * newWidth * Bytes;
        for (int x0 = 0; x0 < newWidth; x0 += blocksPerChunk) {
            const int count = newWidth - x0 < blocksPerChunk ? newWidth - x0 : blocksPerChunk;
            const int width = count * factor;
            std::memset(columns, 0, sizeof(int) * (std::size_t)width);
            int value = 0;  // the largest source sample of this chunk
            for (int dy = 0; dy < factor; ++dy) {
                const unsigned char* p = block + dy * rowBytes + (std::size_t)x0 * factor * Bytes;
                for (int i = 0; i < width; ++i) {  // plain enough to vectorise
                    int v = LoadSample<Bytes, BigEndian>(p + (std::size_t)i * Bytes);
                    columns[i] += v;
                    value = value > v ? value : v;
                }
            }
            CHECK(value <= ImgLevelMax && value >= 0);
            for (int x = 0; x < count; ++x) {
                int sum = 0;
                for (int dx = 0; dx < factor; ++dx) sum += columns[x * factor + dx];
                int newVal = (sum + area / 2) / area;  // nearest, halves go up
                CHECK((unsigned)newVal <= BppMask[Imgbpp]);
                StoreChecked<Bytes, BigEndian>(out + (std::size_t)(x0 + x) * Bytes, newVal);
            }
        }
    }
}

// The small factors, where a division per output pixel would cost more than
// the sums, get their own constant-factor loops.
template <int Bytes, bool BigEndian>
static void DownsizeLayout(int times, int newWidth, int newHeight)
{
    switch (times) {
    case 1: DownsizeRows<Bytes, BigEndian, 1>(times, newWidth, newHeight); break;
    case 2: DownsizeRows<Bytes, BigEndian, 2>(times, newWidth, newHeight); break;
    case 3: DownsizeRows<Bytes, BigEndian, 3>(times, newWidth, newHeight); break;
    case 4: DownsizeRows<Bytes, BigEndian, 4>(times, newWidth, newHeight); break;
    default: DownsizeRows<Bytes, BigEndian, 0>(times, newWidth, newHeight); break;
    }
}

void ImgTransformDownsize(int times)
{
    // A zero factor would divide by zero before the checks below can speak;
    // it gives a zero dimension instead, and so the first check's stop.
    int newWidth = times != 0 ? ImgImageWidth / times : 0;
    int newHeight = times != 0 ? ImgImageHeight / times : 0;
    CHECK(newWidth>0 && newHeight>0);
    CHECK(times>0 && times <= 100);
    if (newWidth * times != ImgImageWidth || newHeight * times != ImgImageHeight)
        PrintMsg("\nDownsize (%d): image dims!  prior to downsize cropping to %d x %d", times,
                 newWidth * times, newHeight * times);

    if (ImgBYTEpp == 1) {
        DownsizeLayout<1, false>(times, newWidth, newHeight);
    } else {
        CHECK(ImgBYTEpp == 2);
        if (ImgBigEndian) DownsizeLayout<2, true>(times, newWidth, newHeight);
        else DownsizeLayout<2, false>(times, newWidth, newHeight);
    }
    ImgImageWidth = newWidth;
    ImgImageHeight = newHeight;
    PrintMsg("\nDownsize %d x done", times);
}

// The largest of count samples from p on.
template <int Bytes, bool BigEndian>
static int LargestSample(const unsigned char* p, int count)
{
    int value = 0;
    for (int x = 0; x < count; ++x, p += Bytes) {
        int v = LoadSample<Bytes, BigEndian>(p);
        value = value > v ? value : v;
    }
    return value;
}

void ImgTransformCrop(int x0, int y0, int newWidth, int newHeight)
{
    // An empty rectangle has no pixel to move: the image keeps its pixels and
    // dimensions, and the message still reports what was asked for.
    if (newWidth > 0 && newHeight > 0) {
        if (ImgBYTEpp != 1) CHECK(ImgBYTEpp == 2);
        const std::size_t bytes = (std::size_t)ImgBYTEpp;
        const std::size_t rowBytes = (std::size_t)newWidth * bytes;
        // A sample cannot exceed ImgLevelMax when ImgLevelMax is the largest
        // sample the byte width can hold; only then is the scan skipped.
        const bool scan = ImgLevelMax < (int)BppMask[8 * ImgBYTEpp];
        for (int y = 0; y < newHeight; ++y) {
            const unsigned char* from =
                ImgData + ((std::size_t)(y0 + y) * (std::size_t)ImgImageWidth + (std::size_t)x0) * bytes;
            if (scan) {
                int value = ImgBYTEpp == 1 ? LargestSample<1, false>(from, newWidth)
                            : ImgBigEndian ? LargestSample<2, true>(from, newWidth)
                                           : LargestSample<2, false>(from, newWidth);
                CHECK(value <= ImgLevelMax && value >= 0);
            }
            // A row may overlap its own source, never the source of a later row.
            std::memmove(ImgData + (std::size_t)y * rowBytes, from, rowBytes);
        }
        ImgImageWidth = newWidth;
        ImgImageHeight = newHeight;
    }
    PrintMsg("\nCropping left top %d,%d width %d, height %d done", x0, y0, newWidth, newHeight);
}
