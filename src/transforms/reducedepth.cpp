// reducedepth.cpp - Depth reduction: right shift, crop (with or without clipping) and crop to another file's depth.

#include "transforms/reducedepth.h"

#include <cstdio>

#include "driver/console.h"
#include "image/image.h"
#include "image/pgm.h"
#include "transforms/increasedepth.h"

// The accessors read the description globals, so a pixel is read under the
// old triple and written under the new one.
static void UseDepth(int bpp, int levelMax, int bytepp)
{
    Imgbpp = bpp;
    ImgLevelMax = levelMax;
    ImgBYTEpp = bytepp;
}

// How the common frame turns an old intensity into the new one.
enum class Lowering {
    Shift,     // right shift by the depth difference (truncation)
    Crop,      // keep; a value that does not fit ends the run
    CropClip,  // keep; a value that does not fit becomes the new maximum
};

// Rewrites every pixel under the description of newDepth. First pixel first:
// when two bytes per pixel become one, the byte written for pixel i lies
// before the bytes of every pixel not yet read. Returns whether a value was
// clipped.
static bool LowerDepth(int newDepth, Lowering kind)
{
    int oldBpp = Imgbpp, oldLevelMax = ImgLevelMax, oldBYTEpp = ImgBYTEpp;
    int depthDiff = Imgbpp - newDepth;
    CHECK(depthDiff < Imgbpp);
    ImgSetDepth(newDepth);
    int newLevelMax = ImgLevelMax, newBYTEpp = ImgBYTEpp;
    bool changed = false;
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) {
            UseDepth(oldBpp, oldLevelMax, oldBYTEpp);
            int pixel = GetPixel(x, y);
            switch (kind) {
            case Lowering::Shift:
                pixel >>= depthDiff;
                CHECK(!(pixel & ~BppMask[newDepth]));
                break;
            case Lowering::Crop:
                if (pixel & ~BppMask[newDepth])
                    FatalError("ImgTransformCropDepth: pixel value too high", ExitPixelTooHigh);
                break;
            case Lowering::CropClip:
                if (pixel & ~BppMask[newDepth]) {
                    pixel = (int)BppMask[newDepth];
                    changed = true;
                }
                break;
            }
            UseDepth(newDepth, newLevelMax, newBYTEpp);
            SetPixel(x, y, pixel);
        }
    return changed;
}

void ImgTransformReduceDepth(int newDepth)
{
    int oldBpp = Imgbpp;
    LowerDepth(newDepth, Lowering::Shift);
    PrintMsg("\nImage depth reduced from %d to %d (ImgBYTEpp=%d, ImgLevelMax=%d) done", oldBpp,
             Imgbpp, ImgBYTEpp, ImgLevelMax);
}

void ImgTransformCropDepth(int newDepth, int clip)
{
    int oldBpp = Imgbpp;
    bool changed = false;
    if (ImgBYTEpp == 1 && newDepth >= 9 && newDepth <= 16) {
        // One-byte samples cannot hold 9..16 bits in place: widen them from the
        // last pixel back, as the increase does. Every value fits the larger
        // range, so nothing is clipped and nothing is refused.
        ImgRaiseDepth(newDepth, 0);
    } else {
        changed = LowerDepth(newDepth, clip != 0 ? Lowering::CropClip : Lowering::Crop);
    }
    PrintMsg("\nImage depth cropped from %d to %d (ImgBYTEpp=%d, ImgLevelMax=%d), ", oldBpp, Imgbpp,
             ImgBYTEpp, ImgLevelMax);
    if (changed) PrintMsg("WARNING: some pixel intensities changed");
    else PrintMsg("pixel intensities not changed");
}

// maxval + 1 in 32-bit wrap-around arithmetic: the largest int becomes the
// most negative one and meets BitsNeeded's check instead of overflowing.
static int MaxvalPlusOne(int maxval) { return (int)((unsigned)maxval + 1u); }

void ImgTransformCropDepthLike(const char* PGMP5filename)
{
    FILE* file = std::fopen(PGMP5filename, "rb");
    if (file == nullptr) FatalError("ReadPgm: Cannot open input", ExitInputFile);
    // Width, height and maxval all pass through one scratch integer: only the
    // maxval counts, and none of them is validated. The depth is taken before
    // the terminator is looked at, so a negative maxval stops in BitsNeeded
    // even when its terminator is bad.
    int number = 0, depth = 0;
    bool good = ReadPgmMagic(file)
        && SkipPgmSeparators(file) == 0 && ReadPgmNumber(file, &number)
        && SkipPgmSeparators(file) == 0 && ReadPgmNumber(file, &number)
        && SkipPgmSeparators(file) == 0 && ReadPgmNumber(file, &number);
    if (good) {
        depth = BitsNeeded(MaxvalPlusOne(number));
        good = ReadPgmTerminator(file);
    }
    if (!good) FatalError("ReadPgm: Bad pgm header", ExitInputFile);
    if (std::fclose(file) != 0) FatalError("ReadPgmHeader: Error closing input file", ExitInputFile);
    PrintMsg("\nImage depth retrieved from %s is %d. ", PGMP5filename, depth);
    ImgTransformCropDepth(depth, 0);
}
