// increasedepth.cpp - Depth increase, nominal or left-shifting, widening the buffer when needed.

#include "transforms/increasedepth.h"

#include <cstdint>
#include <cstdlib>

#include "driver/console.h"
#include "image/image.h"

// The accessors read the description globals, so a pixel is read under the
// old triple and written under the new one.
static void UseDepth(int bpp, int levelMax, int bytepp)
{
    Imgbpp = bpp;
    ImgLevelMax = levelMax;
    ImgBYTEpp = bytepp;
}

// Grows the buffer to two bytes per pixel; its first width*height bytes keep
// the one-byte samples. The buffer already holds width*height bytes, so only
// the doubling can overflow.
static void WidenBuffer()
{
    std::size_t pixels = (std::size_t)ImgImageWidth * (std::size_t)ImgImageHeight;
    if (pixels > SIZE_MAX / 2)
        FatalError("ImgTransformIncreaseDepth: Cannot reallocate", ExitPixelMemory);
    ImgData = (unsigned char*)std::realloc(ImgData, 2 * pixels);
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

    int shift = mode != 0 ? newDepth - oldDepth : 0;
    // Last pixel first: the two bytes written for pixel i are bytes 2i and
    // 2i+1, never the single byte of a pixel j < i that is still to be read.
    for (int y = ImgImageHeight - 1; y >= 0; --y)
        for (int x = ImgImageWidth - 1; x >= 0; --x) {
            UseDepth(oldDepth, oldLevelMax, oldBYTEpp);
            int pixel = GetPixel(x, y) << shift;  // below 2^oldDepth, so below 2^16 after
            CHECK(!(pixel & ~BppMask[newDepth]));
            UseDepth(newDepth, newLevelMax, newBYTEpp);
            SetPixel(x, y, pixel);
        }
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
