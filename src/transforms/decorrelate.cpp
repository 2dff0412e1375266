// decorrelate.cpp - Lossless decorrelation: average and MED prediction residuals and their inverses.

#include "transforms/decorrelate.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "driver/console.h"
#include "image/image.h"
#include "transforms/increasedepth.h"
#include "transforms/reducedepth.h"
#include "transforms/stretch.h"

// The two predictors share their border rules; only the interior differs.
enum class Predictor {
    Average,  // floor of the mean of the pixels above and to the left
    MED,      // the median edge detector of JPEG-LS
};

// The interior prediction from the left (a), upper (b) and upper-left (c)
// neighbours. MED picks the smaller of a and b below an edge (c at or above
// both), the larger above one (c at or below both) and the plane a + b - c
// through the three otherwise: that is the median of a, b and the plane,
// which compiles without branches.
template <Predictor P>
static inline int Interior(int a, int b, int c)
{
    if constexpr (P == Predictor::Average) {
        return (b + a) >> 1;
    } else {
        int mx = a > b ? a : b, mn = a > b ? b : a, plane = a + b - c;
        plane = plane < mx ? plane : mx;
        return plane > mn ? plane : mn;
    }
}

// The prediction for (x, y) from its neighbours as the image holds them now,
// read through the accessors. Both directions visit pixels in the same
// order, so the inverse sees the very intensities the forward one saw.
static int Prediction(int x, int y, Predictor predictor)
{
    if (x == 0 && y == 0) return 0;
    if (x == 0) return GetPixel(x, y - 1);
    if (y == 0) return GetPixel(x - 1, y);
    int a = GetPixel(x - 1, y), b = GetPixel(x, y - 1);
    if (predictor == Predictor::Average) return Interior<Predictor::Average>(a, b, 0);
    return Interior<Predictor::MED>(a, b, GetPixel(x - 1, y - 1));
}

// ---- Forward ----

// Row y through the accessors up to its first sample that does not fit the
// source depth, where the forward transform's check stops the run. Called
// only for a row that holds one.
static void StopAtWideSample(int y)
{
    for (int x = 0; x < ImgImageWidth; ++x) {
        int old = GetPixel(x, y);
        CHECK(!(old & ~BppMask[Imgbpp - 1]));
    }
}

// Residual v - p + 2^B - 1 of a depth-B image lies in 0 .. 2^(B+1) - 2: one
// more bit, no sign, within the ImgLevelMax the depth increase has set, so
// writing it back needs no check. Each row is copied before its residuals
// overwrite it, so every prediction is made from source intensities: row
// holds the current row, above the one before.
template <int Bytes, bool BigEndian, Predictor P>
static void DecorrelateRows(uint16_t* row, uint16_t* above)
{
    const int width = ImgImageWidth, offset = (int)BppMask[Imgbpp - 1];
    for (int y = 0; y < ImgImageHeight; ++y) {
        unsigned char* p = ImgData + (std::size_t)y * (std::size_t)width * Bytes;
        int largest = 0;
        for (int x = 0; x < width; ++x) {
            int v = LoadSample<Bytes, BigEndian>(p + (std::size_t)x * Bytes);
            row[x] = (uint16_t)v;
            largest = largest > v ? largest : v;
        }
        if (largest > offset) StopAtWideSample(y);
        StoreSample<Bytes, BigEndian>(p, row[0] + offset - (y == 0 ? 0 : above[0]));
        if (y == 0) {
            for (int x = 1; x < width; ++x)
                StoreSample<Bytes, BigEndian>(p + (std::size_t)x * Bytes, row[x] + offset - row[x - 1]);
        } else {
            for (int x = 1; x < width; ++x)
                StoreSample<Bytes, BigEndian>(p + (std::size_t)x * Bytes,
                                              row[x] + offset - Interior<P>(row[x - 1], above[x], above[x - 1]));
        }
        std::swap(row, above);
    }
}

// Ends with the transform's message.
template <Predictor P>
static void Decorrelate(const char* message)
{
    ImgTransformIncreaseDepth(Imgbpp + 1, 0);
    // Two row copies (one for a single row) instead of a residual per pixel.
    std::size_t width = (std::size_t)ImgImageWidth, rows = ImgImageHeight > 1 ? 2 : 1;
    auto* buf = (uint16_t*)std::malloc(rows * width * sizeof(uint16_t));  // B <= 15: samples fit
    CHECK(buf);
    uint16_t* above = buf + (rows - 1) * width;
    // The depth increase leaves one or two bytes per pixel (depth 2..16).
    if (ImgBYTEpp == 1) DecorrelateRows<1, true, P>(buf, above);
    else if (ImgBigEndian) DecorrelateRows<2, true, P>(buf, above);
    else DecorrelateRows<2, false, P>(buf, above);
    std::free(buf);
    PrintMsg("%s", message);
}

// ---- Inverse ----

// Pixels x0 .. x0 + count - 1 of row y restored through the accessors, with
// every check where they make it: a value that is no residual of this
// predictor stops the run at its SetPixel.
static void CorrelatePixels(int x0, int count, int y, Predictor predictor)
{
    int offset = (int)BppMask[Imgbpp - 1];
    for (int x = x0; x < x0 + count; ++x)
        SetPixel(x, y, GetPixel(x, y) + Prediction(x, y, predictor) - offset);
}

// Restores in place, row by row from the top: the row above and the pixel to
// the left are source intensities again when a pixel is reached. Each
// restored value depends on the one to its left, so a row is one chain. A
// stretch of a row is restored into a copy and written only when every value
// passed, so one that would stop the run is intact for CorrelatePixels.
template <int Bytes, bool BigEndian, Predictor P>
static void CorrelateRows()
{
    const int width = ImgImageWidth, levelMax = ImgLevelMax, offset = (int)BppMask[Imgbpp - 1];
    const std::size_t rowBytes = (std::size_t)width * Bytes;
    int residual[Stretch], upper[Stretch + 1], restored[Stretch];
    for (int y = 0; y < ImgImageHeight; ++y) {
        unsigned char* row = ImgData + (std::size_t)y * rowBytes;
        for (int x0 = 0; x0 < width; x0 += Stretch) {
            const int count = width - x0 < Stretch ? width - x0 : Stretch;
            int largest = LoadStretch<Bytes, BigEndian>(row + (std::size_t)x0 * Bytes, count, residual);
            for (int k = 0; k < count; ++k) residual[k] -= offset;  // one step off the chain
            // upper[k] is the pixel above column x0 + k - 1.
            if (y > 0) {
                int k0 = x0 > 0 ? 0 : 1;
                LoadStretch<Bytes, BigEndian>(row - rowBytes + (std::size_t)(x0 + k0 - 1) * Bytes,
                                              count + 1 - k0, upper + k0);
            }
            int left = x0 > 0 ? LoadSample<Bytes, BigEndian>(row + (std::size_t)(x0 - 1) * Bytes) : 0;
            unsigned outside = 0;  // non-zero once a value left 0..ImgLevelMax
            int k = 0;
            if (x0 == 0) {  // first column: the pixel above, or 0 at the top left
                left = residual[0] + (y > 0 ? upper[1] : 0);
                outside |= (unsigned)left > (unsigned)levelMax;
                restored[k++] = left;
            }
            if (y == 0) {  // first row: the pixel to the left
                for (; k < count; ++k) {
                    left = residual[k] + left;
                    outside |= (unsigned)left > (unsigned)levelMax;
                    restored[k] = left;
                }
            } else {
                for (; k < count; ++k) {
                    left = residual[k] + Interior<P>(left, upper[k + 1], upper[k]);
                    outside |= (unsigned)left > (unsigned)levelMax;
                    restored[k] = left;
                }
            }
            if (largest > levelMax || outside != 0) {
                CorrelatePixels(x0, count, y, P);
                continue;
            }
            StoreStretch<Bytes, BigEndian>(row + (std::size_t)x0 * Bytes, count, restored);
        }
    }
}

// A value that is no residual of this predictor leaves the range and stops
// at SetPixel, or in the depth crop when it only leaves the source depth.
template <Predictor P>
static void Correlate(const char* message)
{
    if (ImgBYTEpp == 1) {
        CorrelateRows<1, true, P>();
    } else if (ImgBYTEpp == 2) {
        if (ImgBigEndian) CorrelateRows<2, true, P>();
        else CorrelateRows<2, false, P>();
    } else {  // a layout the accessors refuse, at the first pixel
        for (int y = 0; y < ImgImageHeight; ++y) CorrelatePixels(0, ImgImageWidth, y, P);
    }
    ImgTransformCropDepth(Imgbpp - 1, 0);
    PrintMsg("%s", message);
}

void ImgTransformDecorrelate() { Decorrelate<Predictor::Average>("\nDecorrelated"); }
void ImgTransformCorrelate() { Correlate<Predictor::Average>("\nCorrelated"); }
void ImgTransformDecorrelateMED() { Decorrelate<Predictor::MED>("\nDecorrelated using MED"); }
void ImgTransformCorrelateMED() { Correlate<Predictor::MED>("\nCorrelated using MED"); }
