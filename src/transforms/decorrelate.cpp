// decorrelate.cpp - Lossless decorrelation: average and MED prediction residuals and their inverses.

#include "transforms/decorrelate.h"

#include <cstdint>
#include <cstdlib>

#include "driver/console.h"
#include "image/image.h"
#include "transforms/increasedepth.h"
#include "transforms/reducedepth.h"

// The two predictors share their border rules; only the interior differs.
enum class Predictor {
    Average,  // floor of the mean of the pixels above and to the left
    MED,      // the median edge detector of JPEG-LS
};

// Picks the smaller neighbour below an edge, the larger above one, and the
// plane through the three neighbours otherwise; always between a and b.
static int MedPrediction(int a, int b, int c)
{
    int mx = a > b ? a : b, mn = a > b ? b : a;
    if (c >= mx) return mn;
    if (c <= mn) return mx;
    return a + b - c;
}

// The prediction for (x, y) from its left (a), upper (b) and upper-left (c)
// neighbours as the image holds them now. Both directions visit pixels in the
// same order, so the inverse sees the very intensities the forward one saw.
static int Prediction(int x, int y, Predictor predictor)
{
    if (x == 0 && y == 0) return 0;
    if (x == 0) return GetPixel(x, y - 1);
    if (y == 0) return GetPixel(x - 1, y);
    int a = GetPixel(x - 1, y), b = GetPixel(x, y - 1);
    if (predictor == Predictor::Average) return (b + a) >> 1;
    return MedPrediction(a, b, GetPixel(x - 1, y - 1));
}

// Residual v - p + 2^B - 1 of a depth-B image lies in 0 .. 2^(B+1) - 2: one
// more bit, no sign. The residuals are collected first and written back after
// the last prediction, so every prediction is made from source intensities.
static void Decorrelate(Predictor predictor)
{
    ImgTransformIncreaseDepth(Imgbpp + 1, 0);
    std::size_t pixels = (std::size_t)ImgImageWidth * (std::size_t)ImgImageHeight;
    auto* buf = (uint16_t*)std::calloc(pixels, sizeof(uint16_t));  // B <= 15: residuals fit
    CHECK(buf);
    int offset = (int)BppMask[Imgbpp - 1];
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) {
            int old = GetPixel(x, y);
            CHECK(!(old & ~BppMask[Imgbpp - 1]));
            buf[PixelIndex(x, y)] = (uint16_t)(old + offset - Prediction(x, y, predictor));
        }
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x) SetPixel(x, y, buf[PixelIndex(x, y)]);
    std::free(buf);
}

// Restores in place: the neighbours above and to the left are already source
// intensities again when a pixel is reached. A value that is no residual of
// this predictor leaves the range and stops at SetPixel or in the crop.
static void Correlate(Predictor predictor)
{
    int offset = (int)BppMask[Imgbpp - 1];
    for (int y = 0; y < ImgImageHeight; ++y)
        for (int x = 0; x < ImgImageWidth; ++x)
            SetPixel(x, y, GetPixel(x, y) + Prediction(x, y, predictor) - offset);
    ImgTransformCropDepth(Imgbpp - 1, 0);
}

void ImgTransformDecorrelate()
{
    Decorrelate(Predictor::Average);
    PrintMsg("\nDecorrelated");
}

void ImgTransformCorrelate()
{
    Correlate(Predictor::Average);
    PrintMsg("\nCorrelated");
}

void ImgTransformDecorrelateMED()
{
    Decorrelate(Predictor::MED);
    PrintMsg("\nDecorrelated using MED");
}

void ImgTransformCorrelateMED()
{
    Correlate(Predictor::MED);
    PrintMsg("\nCorrelated using MED");
}
