// denoise.cpp - ImgTransformDenoise: every pixel becomes a value chosen from the sorted
// samples of the square window around it (median, RCRS-1, second extreme, RCRS-2).
//
// Nothing needs the whole sorted window. Every rule asks only for the median, the
// least and greatest of the other samples, and the nearest values above and below the
// centre, so the general path counts and selects instead of sorting, and full 3x3 and
// 5x5 windows use branch-free min/max code that the compiler vectorises across a row
// (denoise_kernels.h, built once per vector path).
// The results go to a ring of rows that is written back once no later window reads
// the old row, so every window still sees the image as it was.

#include "transforms/denoise.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "driver/console.h"
#include "image/image.h"
#include "support/simd.h"
#include "transforms/denoise_hist.h"
#include "transforms/denoise_kernels.h"  // the baseline build of the full-window kernels

int CompareIntensities(const void* first, const void* second)
{
    return (int)*(const uint16_t*)first - (int)*(const uint16_t*)second;
}

static DenoisePath Path = DenoiseAuto;

void SetDenoisePath(DenoisePath path) { Path = path; }
DenoisePath GetDenoisePath() { return Path; }

// ---- General path: any window, counted rather than sorted -------------------------

// Sorts the window with a fixed network of exchanges, branch-free.
template <std::size_t N> static void SortByNetwork(uint16_t* window, const Exchange (&network)[N])
{
    for (Exchange e : network) {
        uint16_t a = window[e.low], b = window[e.high];
        window[e.low] = std::min(a, b);
        window[e.high] = std::max(a, b);
    }
}

static int NthSmallest(uint16_t* window, int n, int rank)
{
    // The clipped windows of radius 1: 6 samples on an edge, 4 in a corner.
    static constexpr Exchange SortFour[5] = {{0, 1}, {2, 3}, {0, 2}, {1, 3}, {1, 2}};
    if (n == 6 || n == 4) {
        if (n == 6) SortByNetwork(window, SortSix);
        else SortByNetwork(window, SortFour);
        return window[rank];
    }
    if (n <= 16) {
        // The clipped windows of small radii: each sample's place in the sorted order
        // (ties by position), counted without a branch that depends on the data.
        int chosen = 0;
        for (int i = 0; i < n; ++i) {
            int place = 0;
            for (int j = 0; j < n; ++j)
                place += window[j] < window[i] || (window[j] == window[i] && j < i);
            chosen = place == rank ? window[i] : chosen;
        }
        return chosen;
    }
    std::nth_element(window, window + rank, window + n);
    return window[rank];
}

static int SmallestAbove(const uint16_t* window, int n, int c)
{
    int best = 0x10000;
    for (int i = 0; i < n; ++i)
        if (window[i] > c && window[i] < best) best = window[i];
    return best;
}

static int LargestBelow(const uint16_t* window, int n, int c)
{
    int best = -1;
    for (int i = 0; i < n; ++i)
        if (window[i] < c && window[i] > best) best = window[i];
    return best;
}

// The new value for centre c among the n window samples (reordered on the way). With
// s the samples in ascending order, c = s[0] exactly when no sample is below c, and then
// the next s[i] are copies of c while i < equal, after which comes the least value above c.
static int ChooseFromWindow(uint16_t* window, int n, int c, int mode)
{
    if (n == 1) return c;  // a 1x1 image: no second sample, so no rule can move the pixel
    if (mode == 0) return NthSmallest(window, n, n / 2);  // the upper median
    int less = 0, greater = 0;
    for (int i = 0; i < n; ++i) {
        less += window[i] < c;
        greater += window[i] > c;
    }
    int equal = n - less - greater;
    switch (mode) {
    case 1:  // RCRS-1: only a centre alone at either end moves, to the upper median
        return (less == 0 || greater == 0) && equal == 1 ? NthSmallest(window, n, n / 2) : c;
    case 2:  // s[1] for a centre at the minimum, else s[n-2] for one at the maximum
        if (less == 0) return equal >= 2 ? c : SmallestAbove(window, n, c);
        if (greater == 0) return equal >= 2 ? c : LargestBelow(window, n, c);
        return c;
    default: {  // 3, RCRS-2: where the walk from s[1] up (or s[n-2] down) stops
        if (less == 0) {
            int m = (n - 1) / 2;
            int i = std::max(1, std::min(equal, m));  // first i >= 1 with i >= m or s[i] != c
            return i < equal ? c : SmallestAbove(window, n, c);
        }
        if (greater == 0) {
            int upper = n / 2;
            int i = std::min(n - 2, std::max(upper, n - 1 - equal));  // the same walk downward
            return i >= n - equal ? c : LargestBelow(window, n, c);
        }
        return c;
    }
    }
}

// ---- The transform ----------------------------------------------------------------

// Replays the reads of the plain algorithm through GetPixel, in its order, for an image
// whose samples could not all be proven in range: the run then stops where it would
// have. The mode is judged after the first window, as the plain algorithm does.
static void ReplayWindowReads(int radius, int mode)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int top = y - std::min(radius, y), bottom = y + std::min(radius, height - 1 - y);
            int left = x - std::min(radius, x), right = x + std::min(radius, width - 1 - x);
            for (int yy = top; yy <= bottom; ++yy)
                for (int xx = left; xx <= right; ++xx) GetPixel(xx, yy);
            GetPixel(x, y);
            if (mode < 0 || mode > 3) FatalError("ImgTransformDenoise: bad mode", ExitOutputFile);
        }
}

// Asks for the pixel bytes of row y ahead of their use, so that the memory fetch of the
// next row overlaps the work on this one (4096 x 4096 median 3x3, 16 bits: 6% quicker).
static void PrefetchRow(int y, std::size_t bytes)
{
#if defined(__GNUC__)
    const unsigned char* p = ImgData + PixelIndex(0, y) * ImgBYTEpp;
    for (std::size_t i = 0; i < bytes; i += 64) __builtin_prefetch(p + i);
#else
    (void)y, (void)bytes;
#endif
}

// The kernels of the vector path chosen for this run.
static const DenoiseKernels& Kernels()
{
    static constexpr DenoiseKernels baseline = MakeDenoiseKernels();
    return GRAYFIX_SIMD_TABLE(baseline, DenoiseKernelsAvx2, DenoiseKernelsAvx512);
}

// The full-window row kernel (radius 1 or 2).
template <typename T> static DenoiseRowKernel<T> FullWindowKernel(int radius, int mode)
{
    if (radius > 2) return nullptr;
    if constexpr (sizeof(T) == 1)
        return Kernels().bytes[radius - 1][mode];
    else
        return Kernels().words[radius - 1][mode];
}

template <typename T, int Mode>
static void DenoiseRows(int radius, T* buf, T* rows, std::size_t stride, int ringRows, T* columns,
                        uint16_t* window)
{
    DenoiseRowKernel<T> fullRow = FullWindowKernel<T>(radius, Mode);
    int width = ImgImageWidth, height = ImgImageHeight;
    // A window never reaches past the image, so clipping the radius per axis keeps every window.
    int rx = std::min(radius, width - 1), ry = std::min(radius, height - 1);
    int resultRows = ry + 1;  // row y is written back once row y+ry is done
    auto source = [&](int y) { return rows + (std::size_t)(y % ringRows) * stride; };
    int loaded = 0;
    for (int y = 0; y < height; ++y) {
        int top = y - std::min(ry, y), bottom = y + std::min(ry, height - 1 - y);
        for (; loaded <= bottom; ++loaded) ImgReadRow(loaded, source(loaded));
        if (loaded < height) PrefetchRow(loaded, width * sizeof(T));
        T* out = buf + (std::size_t)(y % resultRows) * width;

        int fastFrom = 0, fastTo = 0;  // x range done by a full-window kernel
        if (radius <= 2 && rx == radius && bottom - top == 2 * radius && Path == DenoiseAuto) {
            fastFrom = radius;
            fastTo = width - radius;
            const T* windowRows[5] = {};
            for (int k = 0; k <= bottom - top; ++k) windowRows[k] = source(top + k);
            fullRow(windowRows, columns, out, width);
        } else if (Mode == 0 && radius == 1 && rx == 1 && bottom - top == 1 && Path == DenoiseAuto) {
            fastFrom = 1;
            fastTo = width - 1;
            const T* edgeRows[2] = {source(top), source(bottom)};
            if constexpr (sizeof(T) == 1)
                Kernels().edgeBytes(edgeRows, columns, out, width);
            else
                Kernels().edgeWords(edgeRows, columns, out, width);
        }
        for (int x = 0; x < width; ++x) {
            if (x == fastFrom && fastFrom < fastTo) x = fastTo;
            if (x >= width) break;
            int left = x - std::min(rx, x), right = x + std::min(rx, width - 1 - x);
            int n = 0;
            for (int yy = top; yy <= bottom; ++yy) {
                const T* row = source(yy);
                for (int xx = left; xx <= right; ++xx) window[n++] = row[xx];
            }
            out[x] = (T)ChooseFromWindow(window, n, source(y)[x], Mode);
        }
        if (y >= ry) ImgWriteRow(y - ry, buf + (std::size_t)((y - ry) % resultRows) * width);
    }
    for (int y = height - ry; y < height; ++y)
        ImgWriteRow(y, buf + (std::size_t)(y % resultRows) * width);
}

// Windows of radius 3 and more go to the running histogram, whose cost per pixel grows
// with the window side; smaller ones are cheaper to select from directly. Its counts are
// 32-bit, so the image must have fewer than 2^32 pixels.
static bool UsesHistogram(int radius)
{
    if ((unsigned long long)ImgImageWidth * (unsigned long long)ImgImageHeight > UINT32_MAX)
        return false;
    return Path == DenoiseRunningCounts || Path == DenoiseColumnCounts
        || (Path == DenoiseAuto && radius >= 3);
}

// Per-column counts of 1-byte samples take 272 bytes a column; a column's count must fit
// 8 bits, and a window's 16.
static bool UsesColumns(int radius)
{
    long long rx = std::min(radius, ImgImageWidth - 1), ry = std::min(radius, ImgImageHeight - 1);
    return Path != DenoiseRunningCounts && ImgImageWidth <= 10000 && 2 * ry + 1 <= 255
        && (2 * rx + 1) * (2 * ry + 1) <= 65535;
}

// The distance between ring rows, in samples: an odd number of cache lines, so that the
// rows of a window column do not all fall in one set of the cache, as they would for a
// width of a large power of two.
template <typename T> static std::size_t RingStride(int width)
{
    std::size_t lines = ((std::size_t)width * sizeof(T) + 63) / 64;
    return (lines | 1) * 64 / sizeof(T);
}

template <typename T> static void Denoise(int radius, int mode)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    int ry = std::min(radius, height - 1);
    int ringRows = (int)std::min<long long>(height, 2LL * ry + 1);
    std::size_t rowSize = (std::size_t)width * sizeof(T);
    bool histogram = UsesHistogram(radius);
    T* buf = (T*)std::malloc(rowSize * (ry + 1));
    CHECK(buf);
    // Plus five rows: the sorted columns of the full-window kernels, or the histogram's
    // one more window row.
    std::size_t stride = RingStride<T>(width);
    T* rows = (T*)std::malloc(stride * sizeof(T) * (ringRows + 5));
    CHECK(rows);
    uint16_t* window = nullptr;
    if (!histogram) {
        // The window never holds more samples than the image has, whatever the radius.
        std::size_t side = 2 * (std::size_t)radius + 1;  // below 2^32, so side*side fits
        std::size_t windowSize = std::min(side * side, PixelIndex(0, height));
        window = (uint16_t*)std::malloc(windowSize * sizeof(uint16_t));
        CHECK(window);
    }
    if (!ImgSamplesInRange()) ReplayWindowReads(radius, mode);
    if (mode < 0 || mode > 3) {  // freed first: a caller may survive the refusal
        std::free(window), std::free(rows), std::free(buf);
        FatalError("ImgTransformDenoise: bad mode", ExitOutputFile);
    }
    if (histogram) {
        if constexpr (sizeof(T) == 1) {
            if (UsesColumns(radius)) Kernels().columns(radius, mode, rows, buf);
            else DenoiseByHistogram<T>(radius, mode, rows, stride, buf);
        } else {
            DenoiseByHistogram<T>(radius, mode, rows, stride, buf);
        }
    } else {
        T* columns = rows + (std::size_t)ringRows * stride;
        switch (mode) {
        case 0: DenoiseRows<T, 0>(radius, buf, rows, stride, ringRows, columns, window); break;
        case 1: DenoiseRows<T, 1>(radius, buf, rows, stride, ringRows, columns, window); break;
        case 2: DenoiseRows<T, 2>(radius, buf, rows, stride, ringRows, columns, window); break;
        default: DenoiseRows<T, 3>(radius, buf, rows, stride, ringRows, columns, window); break;
        }
    }
    std::free(window), std::free(rows), std::free(buf);
}

void ImgTransformDenoise(int radius, int mode)
{
    CHECK(radius>0);
    if (ImgBYTEpp == 1)
        Denoise<uint8_t>(radius, mode);
    else
        Denoise<uint16_t>(radius, mode);
    PrintMsg("\nDenoised using radius  %d, mpode  %d", radius, mode);
}
