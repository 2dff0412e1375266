// reducedepth.cpp - Depth reduction: right shift, crop (with or without clipping) and crop to another file's depth.

#include "transforms/reducedepth.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver/console.h"
#include "image/fileio.h"
#include "image/image.h"
#include "image/pgm.h"
#include "transforms/increasedepth.h"
#include "transforms/stretch.h"

// How the common frame turns an old intensity into the new one.
enum class Lowering {
    Shift,     // right shift by the depth difference (truncation)
    Crop,      // keep; a value that does not fit ends the run
    CropClip,  // keep; a value that does not fit becomes the new maximum
};

// Pixels [first, last) one at a time through the accessors, with every
// check where they make it. Runs where the stretch loop below cannot: on a
// stretch where some check will stop the run, and on a layout the accessors
// refuse. Returns whether a value was clipped.
static bool LowerPixels(std::size_t first, std::size_t last, const DepthChange& d, Lowering kind)
{
    const int newDepth = d.newDepth, depthDiff = d.oldBpp - d.newDepth;
    bool changed = false;
    for (std::size_t i = first; i < last; ++i) {
        int pixel = GetPixelBefore(d, i);
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
        SetPixelAfter(d, i, pixel);
    }
    return changed;
}

// Every pixel, first pixel first, OldBytes to NewBytes per sample: when two
// bytes per pixel become one, the bytes written for a stretch lie before the
// bytes of every pixel not yet read. The largest sample of a stretch decides
// whether any check can fire in it: the read check (largest above the old
// ImgLevelMax), the crop's refusal and the shift's bound (largest too wide
// for newDepth). Only then does LowerPixels redo the stretch, and stops
// where the accessors would. Returns whether a value was clipped.
template <int OldBytes, int NewBytes, bool BigEndian>
static bool LowerRun(const DepthChange& d, Lowering kind)
{
    const std::size_t pixels = (std::size_t)ImgImageWidth * (std::size_t)ImgImageHeight;
    const int depthDiff = d.oldBpp - d.newDepth, newMax = (int)BppMask[d.newDepth];
    bool changed = false;
    int values[Stretch];
    for (std::size_t first = 0; first < pixels; first += Stretch) {
        const int count = pixels - first < (std::size_t)Stretch ? (int)(pixels - first) : Stretch;
        int largest = LoadStretch<OldBytes, BigEndian>(ImgData + first * OldBytes, count, values);
        bool rewrite = OldBytes != NewBytes;
        if (largest > d.oldLevelMax
            || (kind == Lowering::Shift ? (largest >> depthDiff) > newMax
                                        : kind == Lowering::Crop && largest > newMax)) {
            changed |= LowerPixels(first, first + (std::size_t)count, d, kind);
            continue;
        }
        if (kind == Lowering::Shift) {
            for (int k = 0; k < count; ++k) values[k] >>= depthDiff;
            rewrite = rewrite || depthDiff != 0;
        } else if (kind == Lowering::CropClip && largest > newMax) {
            for (int k = 0; k < count; ++k) values[k] = values[k] < newMax ? values[k] : newMax;
            changed = rewrite = true;
        }
        if (!rewrite) continue;  // the same samples in the same bytes
        StoreStretch<NewBytes, BigEndian>(ImgData + first * NewBytes, count, values);
    }
    return changed;
}

// Rewrites every pixel under the description of newDepth, first pixel
// first, as if each were read with GetPixel under the old description and
// written with SetPixel under the new one. Returns whether a value was
// clipped.
static bool LowerDepth(int newDepth, Lowering kind)
{
    DepthChange d{Imgbpp, ImgLevelMax, ImgBYTEpp, newDepth, 0, 0, 0};
    int depthDiff = Imgbpp - newDepth;
    CHECK(depthDiff < Imgbpp);
    ImgSetDepth(newDepth);
    d.newLevelMax = ImgLevelMax;
    d.newBYTEpp = ImgBYTEpp;
    const bool big = ImgBigEndian != 0;
    if (d.oldBYTEpp == 1 && d.newBYTEpp == 1) return LowerRun<1, 1, true>(d, kind);
    if (d.oldBYTEpp == 2 && d.newBYTEpp == 2)
        return big ? LowerRun<2, 2, true>(d, kind) : LowerRun<2, 2, false>(d, kind);
    if (d.oldBYTEpp == 2 && d.newBYTEpp == 1)
        return big ? LowerRun<2, 1, true>(d, kind) : LowerRun<2, 1, false>(d, kind);
    // Any other pair of sample widths: the accessors refuse it at the first pixel.
    return LowerPixels(0, (std::size_t)ImgImageWidth * (std::size_t)ImgImageHeight, d, kind);
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
    FILE* file = OpenInputFile(PGMP5filename);
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
    // Every refusal comes with the stream closed: a caller that survives it
    // (the Python module) is left no open file.
    if (good && MaxvalPlusOne(number) <= 0) std::fclose(file);  // BitsNeeded refuses it
    if (good) {
        depth = BitsNeeded(MaxvalPlusOne(number));
        good = ReadPgmTerminator(file);
    }
    if (!good) {
        std::fclose(file);
        FatalError("ReadPgm: Bad pgm header", ExitInputFile);
    }
    if (std::fclose(file) != 0) FatalError("ReadPgmHeader: Error closing input file", ExitInputFile);
    PrintMsg("\nImage depth retrieved from %s is %d. ", PGMP5filename, depth);
    ImgTransformCropDepth(depth, 0);
}
