// selection.cpp - denoise by direct selection from each window's gathered samples, the
// engine for radius 1 and 2. Nothing needs the whole sorted window: a rule asks only for
// the median, whether the centre is an extreme, how many samples equal it and the nearest
// values above and below it, so each window is counted and selected from, not sorted.
// Full 3x3 and 5x5 windows go through the whole-row kernels of this run's vector path
// (full_window.h), the clipped windows at the borders through the code here.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "driver/console.h"
#include "image/image.h"
#include "transforms/denoise/engines.h"
#include "transforms/denoise/full_window.h"  // SortSix and Median25, shared with the row kernels
#include "transforms/denoise/kernels.h"
#include "transforms/denoise/rules.h"
#include "transforms/window_rows.h"

namespace {

// Sorts the window with a fixed network of exchanges, branch-free.
template <std::size_t N> void SortByNetwork(uint16_t* window, const Exchange (&network)[N])
{
    for (Exchange e : network) {
        uint16_t a = window[e.low], b = window[e.high];
        window[e.low] = std::min(a, b);
        window[e.high] = std::max(a, b);
    }
}

int NthSmallest(uint16_t* window, int n, int rank)
{
    // The clipped windows of radius 1: 6 samples on an edge, 4 in a corner.
    static constexpr Exchange SortFour[5] = {{0, 1}, {2, 3}, {0, 2}, {1, 3}, {1, 2}};
    if (n == 6 || n == 4) {
        if (n == 6) SortByNetwork(window, SortSix);
        else SortByNetwork(window, SortFour);
        return window[rank];
    }
    if (n <= 25 && rank == n / 2) {
        // The clipped windows of radius 2 (9 to 20 samples), and any other of at most 25:
        // the median network of the full 5x5 windows, the missing samples as many least and
        // greatest values as put the upper median on its middle wire (a 4096 x 4096 8-bit
        // 5x5 median had spent a sixth of its processor time on its borders, counting each
        // sample's place or in nth_element; the network takes a fifth of that).
        uint16_t v[25];
        int low = 12 - n / 2;
        for (int i = 0; i < 25; ++i) v[i] = i < low ? 0 : i < low + n ? window[i - low] : 0xFFFF;
        Unrolled([&](auto i) { Order(v[Median25.step[i].low], v[Median25.step[i].high]); },
                 std::make_index_sequence<Median25.size>());
        return v[12];
    }
    std::nth_element(window, window + rank, window + n);
    return window[rank];
}

// A window's n gathered samples (reordered by the median's selection), and how many of
// them lie below and above the centre.
struct Gathered {
    uint16_t* samples;
    int n;
    int less = 0, greater = 0;
};

// What the rules ask of a gathered window (rules.h).
long long Count(const Gathered& w) { return w.n; }
int Median(Gathered& w) { return NthSmallest(w.samples, w.n, w.n / 2); }
bool AtMin(const Gathered& w, int) { return w.less == 0; }
bool AtMax(const Gathered& w, int) { return w.greater == 0; }
long long Equal(const Gathered& w, int) { return w.n - w.less - w.greater; }
int Above(const Gathered& w, int c)
{
    int best = 0x10000;
    for (int i = 0; i < w.n; ++i)
        if (w.samples[i] > c && w.samples[i] < best) best = w.samples[i];
    return best;
}
int Below(const Gathered& w, int c)
{
    int best = -1;
    for (int i = 0; i < w.n; ++i)
        if (w.samples[i] < c && w.samples[i] > best) best = w.samples[i];
    return best;
}

template <int Mode> int ChooseFromWindow(uint16_t* window, int n, int c)
{
    Gathered w{window, n};
    if constexpr (Mode != 0)
        for (int i = 0; i < n; ++i) {
            w.less += window[i] < c;
            w.greater += window[i] > c;
        }
    return Choose<Mode>(w, c);
}

// Asks for the pixel bytes of row y ahead of their use, so that the memory fetch of the
// next row overlaps the work on this one (4096 x 4096 median 3x3, 16 bits: 6% quicker).
void PrefetchRow(int y, std::size_t bytes)
{
#if defined(__GNUC__)
    const unsigned char* p = ImgData + PixelIndex(0, y) * ImgBYTEpp;
    for (std::size_t i = 0; i < bytes; i += 64) __builtin_prefetch(p + i);
#else
    (void)y, (void)bytes;
#endif
}

// The full-window row kernel of this run's path (radius 1 or 2).
template <typename T> DenoiseRowKernel<T> FullWindowKernel(int radius, int mode)
{
    if (radius > 2) return nullptr;
    if constexpr (sizeof(T) == 1)
        return DenoiseKernelsForRun().bytes[radius - 1][mode];
    else
        return DenoiseKernelsForRun().words[radius - 1][mode];
}

// What one part of the rows takes: its rings of source rows and results, the sorted
// columns of the full-window kernels and a gathered window.
template <typename T> struct SelectionPart {
    SelectionPart(const RowParts<T>& parts, int part, int ry, std::size_t windowSize)
        : source((int)std::min<long long>(ImgImageHeight, 2LL * ry + 1), OddLineStride<T>(ImgImageWidth), 0,
                 ImgImageWidth, &parts, part),
          results(ry, 0, ImgImageWidth, 0, parts.From(part), parts.From(part + 1)),
          scratch(FullWindowScratchRows * (std::size_t)ImgImageWidth), window(windowSize)
    {
    }
    SourceRows<T> source;
    ResultRows<T> results;
    Samples<T> scratch;
    Samples<uint16_t> window;
};

template <typename T, int Mode>
void SelectRows(SelectionPart<T>& part, int from, int to, int radius, bool fullWindowKernels)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    // A window never reaches past the image, so clipping the radius per axis keeps every window.
    int rx = std::min(radius, width - 1), ry = std::min(radius, height - 1);
    SourceRows<T>& source = part.source;
    T* scratch = part.scratch.Data();
    uint16_t* window = part.window.Data();
    DenoiseRowKernel<T> fullRow = FullWindowKernel<T>(radius, Mode);
    for (int y = from; y < to; ++y) {
        int top = y - std::min(ry, y), bottom = y + std::min(ry, height - 1 - y);
        source.LoadThrough(bottom);
        if (source.Loaded() < height) PrefetchRow(source.Loaded(), width * sizeof(T));
        T* out = part.results.Row(y);

        int fastFrom = 0, fastTo = 0;  // x range done by a full-window kernel
        if (radius <= 2 && rx == radius && bottom - top == 2 * radius && fullWindowKernels) {
            fastFrom = radius;
            fastTo = width - radius;
            const T* windowRows[5] = {};
            for (int k = 0; k <= bottom - top; ++k) windowRows[k] = source.Row(top + k);
            fullRow(windowRows, scratch, out, width);
        } else if (Mode == 0 && radius == 1 && rx == 1 && bottom - top == 1 && fullWindowKernels) {
            fastFrom = 1;
            fastTo = width - 1;
            const T* edgeRows[2] = {source.Row(top), source.Row(bottom)};
            if constexpr (sizeof(T) == 1)
                DenoiseKernelsForRun().edgeBytes(edgeRows, scratch, out, width);
            else
                DenoiseKernelsForRun().edgeWords(edgeRows, scratch, out, width);
        }
        for (int x = 0; x < width; ++x) {
            if (x == fastFrom && fastFrom < fastTo) x = fastTo;
            if (x >= width) break;
            int left = x - std::min(rx, x), right = x + std::min(rx, width - 1 - x);
            int n = 0;
            for (int yy = top; yy <= bottom; ++yy) {
                const T* row = source.Row(yy);
                for (int xx = left; xx <= right; ++xx) window[n++] = row[xx];
            }
            out[x] = (T)ChooseFromWindow<Mode>(window, n, source.Row(y)[x]);
        }
        part.results.Done(y);
    }
    part.results.Flush();
}

// The rows are shared among the worker threads in parts, each with its own buffers.
template <typename T> void SelectAll(int radius, int mode, bool fullWindowKernels)
{
    int height = ImgImageHeight;
    int ry = std::min(radius, height - 1);
    // The window never holds more samples than the image has, whatever the radius.
    std::size_t side = 2 * (std::size_t)radius + 1;  // below 2^32, so side*side fits
    std::size_t windowSize = std::min(side * side, PixelIndex(0, height));
    RowParts<T> parts(RowParts<T>::Most(ry, windowSize * sizeof(uint16_t)), ry);
    WithMode(mode, [&]<int Mode>() {
        RunRowParts<SelectionPart<T>>(
            parts,
            [&](SelectionPart<T>& part, int from, int to) {
                SelectRows<T, Mode>(part, from, to, radius, fullWindowKernels);
            },
            ry, windowSize);
    });
}

}  // namespace

template <typename T> void DenoiseBySelection(int radius, int mode, bool fullWindowKernels)
{
    SelectAll<T>(radius, mode, fullWindowKernels);
}

template void DenoiseBySelection<uint8_t>(int radius, int mode, bool fullWindowKernels);
template void DenoiseBySelection<uint16_t>(int radius, int mode, bool fullWindowKernels);
