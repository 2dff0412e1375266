// increasedepth.cpp - Depth increase, nominal or left-shifting, widening the buffer when needed.

#include "transforms/increasedepth.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "driver/console.h"
#include "image/image.h"
#include "image/rawio.h"
#include "transforms/stretch.h"

// Grows the buffer to two bytes per pixel; its first width*height bytes keep
// the one-byte samples. The buffer already holds width*height bytes, so only
// the doubling can overflow.
static void WidenBuffer()
{
    std::size_t pixels = (std::size_t)ImgImageWidth * (std::size_t)ImgImageHeight;
    if (pixels > SIZE_MAX / 2)
        FatalError("ImgTransformIncreaseDepth: Cannot reallocate", ExitPixelMemory);
    // On failure the old buffer stays in ImgData, so the error path can free it.
    CHECK(!IsMappedPixelBuffer(ImgData));  // runs with a transform read into memory
    auto* grown = (unsigned char*)std::realloc(ImgData, 2 * pixels);
    if (grown == nullptr) FatalError("ImgTransformIncreaseDepth: Cannot reallocate", ExitPixelMemory);
    ImgData = grown;
}

// Pixels [first, last), last pixel first, one at a time through the
// accessors with every check where they make it. Runs where the loop below
// cannot: on a stretch where some check will stop the run, and on a layout
// the accessors refuse.
static void RaisePixels(std::size_t first, std::size_t last, const DepthChange& d)
{
    const int newDepth = d.newDepth;  // the check quotes its condition as written
    for (std::size_t i = last; i-- > first;) {
        int pixel = GetPixelBefore(d, i) << d.shift;  // at most 65535 << 15, below 2^31
        CHECK(!(pixel & ~BppMask[newDepth]));
        SetPixelAfter(d, i, pixel);
    }
}

// Every pixel, last stretch first, OldBytes to NewBytes per sample: the
// bytes written for a stretch lie at or after its own, never over a pixel
// still to be read. Rows do not matter to a raise. The largest sample of a
// stretch decides whether a check can fire in it (above the old ImgLevelMax,
// or too wide for newDepth once shifted); only then does RaisePixels redo it
// and stop where the accessors would.
template <int OldBytes, int NewBytes, bool BigEndian>
static void RaiseRun(const DepthChange& d)
{
    const std::size_t pixels = (std::size_t)ImgImageWidth * (std::size_t)ImgImageHeight;
    const int newMax = (int)BppMask[d.newDepth];
    int values[Stretch];
    for (std::size_t last = pixels; last > 0;) {
        const int count = last < (std::size_t)Stretch ? (int)last : Stretch;
        const std::size_t first = last - (std::size_t)count;
        int largest = LoadStretch<OldBytes, BigEndian>(ImgData + first * OldBytes, count, values);
        if (largest > d.oldLevelMax || (largest << d.shift) > newMax) {
            RaisePixels(first, last, d);
        } else if (OldBytes != NewBytes || d.shift != 0) {  // else the same samples in the same bytes
            for (int k = 0; k < count; ++k) values[k] <<= d.shift;
            StoreStretch<NewBytes, BigEndian>(ImgData + first * NewBytes, count, values);
        }
        last = first;
    }
}

void ImgRaiseDepth(int newDepth, int mode)
{
    int oldDepth = Imgbpp, oldLevelMax = ImgLevelMax, oldBYTEpp = ImgBYTEpp;
    CHECK(newDepth > oldDepth);
    CHECK(newDepth <= 16);
    ImgSetDepth(newDepth);
    int newLevelMax = ImgLevelMax, newBYTEpp = ImgBYTEpp;
    if (newBYTEpp != oldBYTEpp) WidenBuffer();
    if (ImgData == nullptr) FatalError("ImgTransformIncreaseDepth: Cannot reallocate", ExitPixelMemory);

    DepthChange d{oldDepth, oldLevelMax, oldBYTEpp, newDepth, newLevelMax, newBYTEpp,
                  mode != 0 ? newDepth - oldDepth : 0};
    const bool big = ImgBigEndian != 0;
    if (oldBYTEpp == 1 && newBYTEpp == 1) RaiseRun<1, 1, true>(d);
    else if (oldBYTEpp == 1 && newBYTEpp == 2) big ? RaiseRun<1, 2, true>(d) : RaiseRun<1, 2, false>(d);
    else if (oldBYTEpp == 2 && newBYTEpp == 2) big ? RaiseRun<2, 2, true>(d) : RaiseRun<2, 2, false>(d);
    else RaisePixels(0, (std::size_t)ImgImageWidth * (std::size_t)ImgImageHeight, d);  // refused there
}

void ImgTransformIncreaseDepth(int newDepth, int mode)
{
    int oldDepth = Imgbpp;
    ImgRaiseDepth(newDepth, mode);
    PrintMsg("\nImage depth increased from %d to %d (ImgBYTEpp=%d, ImgLevelMax=%d)", oldDepth,
             Imgbpp, ImgBYTEpp, ImgLevelMax);
    if (mode != 0) PrintMsg("\nPixel values shifted (mode 1)");
    else PrintMsg("\nPixel values NOT shifted (mode 0)");
}
