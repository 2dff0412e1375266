// denoise.cpp - ImgTransformDenoise: every pixel becomes a value chosen from the sorted
// samples of the square window around it (median, RCRS-1, second extreme, RCRS-2).
//
// Nothing needs the whole sorted window. Every rule asks only for the median, the
// least and greatest of the other samples, and the nearest values above and below the
// centre, so the general path counts and selects instead of sorting, and full 3x3 and
// 5x5 windows use branch-free min/max code that the compiler vectorises across a row.
// The results go to a ring of rows that is written back once no later window reads
// the old row, so every window still sees the image as it was.

#include "transforms/denoise.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "driver/console.h"
#include "image/image.h"
#include "support/loop_hints.h"

int CompareIntensities(const void* first, const void* second)
{
    return (int)*(const uint16_t*)first - (int)*(const uint16_t*)second;
}

// ---- General path: any window, counted rather than sorted -------------------------

static int NthSmallest(uint16_t* window, int n, int rank)
{
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
    int less = 0, greater = 0;
    for (int i = 0; i < n; ++i) {
        less += window[i] < c;
        greater += window[i] > c;
    }
    int equal = n - less - greater;
    switch (mode) {
    case 0:  // upper median
        return NthSmallest(window, n, n / 2);
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

// ---- Fast path: full 3x3 and 5x5 windows, many pixels at once -----------------------

// After one exchange, a holds the smaller value.
template <typename T> [[gnu::always_inline]] inline void Order(T& a, T& b)
{
    T low = std::min(a, b);
    b = std::max(a, b);
    a = low;
}

// f(0), f(1), ... f(N-1) as straight-line code, each index a compile-time constant: the
// vectoriser needs the window's samples in registers, not in an indexed array.
template <typename F, std::size_t... I>
[[gnu::always_inline]] inline void Unrolled(F&& f, std::index_sequence<I...>)
{
    (f(std::integral_constant<int, (int)I>()), ...);
}

template <typename T> inline T Median3(T a, T b, T c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

struct Exchange {
    int low, high;
};
template <int N> struct Network {
    std::array<Exchange, 4 * N * N> step{};
    int size = 0;
};

// Batcher's odd-even merge sort for N wires, keeping only the exchanges that can still
// change wire N/2: a network that puts the median there (113 exchanges for 25 wires).
template <int N> constexpr Network<N> MedianNetwork()
{
    Network<N> sort;
    int wires = 1;
    while (wires < N) wires *= 2;
    for (int p = 1; p < wires; p *= 2)
        for (int k = p; k >= 1; k /= 2)
            for (int j = k % p; j + k < N; j += 2 * k)
                for (int i = 0; i < k && i + j + k < N; ++i)
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p))
                        sort.step[sort.size++] = {i + j, i + j + k};
    Network<N> median;
    bool live[N] = {};
    live[N / 2] = true;
    for (int s = sort.size - 1; s >= 0; --s) {
        Exchange e = sort.step[s];
        if (!live[e.low] && !live[e.high]) continue;
        live[e.low] = live[e.high] = true;
        median.step[median.size++] = e;
    }
    std::reverse(median.step.begin(), median.step.begin() + median.size);
    return median;
}
static constexpr auto Median25 = MedianNetwork<25>();


// The rules for a full window of n = 9 or 25 samples: med is the median s[n/2] (also
// the lower median, n being odd); mn and mx are the least and greatest of the other
// samples. For mode 3 nx and pv are the least sample above c and the greatest below.
// A centre at the minimum has s[1..] = the other samples, hence mode 2 clamps and mode 3
// stops at the value above c unless c fills up to the median.
template <typename T, int Mode> inline T ChooseFull(T c, T med, T mn, T mx, T nx, T pv)
{
    if constexpr (Mode == 0) return med;
    if constexpr (Mode == 1) return c < mn || c > mx ? med : c;
    if constexpr (Mode == 2) return std::min(std::max(c, mn), mx);
    if constexpr (Mode == 3) return c <= mn ? std::min(med, nx) : c >= mx ? std::max(med, pv) : c;
}

// Folds sample v into nx and pv. Only used when every other sample is >= c (or every
// one <= c), so "not equal to c" is "above c" (or "below c").
template <typename T> inline void Nearest(T v, T c, T& nx, T& pv)
{
    nx = std::min<T>(nx, v == c ? std::numeric_limits<T>::max() : v);
    pv = std::max<T>(pv, v == c ? 0 : v);
}

// Row of 3x3 windows, x = 1 .. width-2. Each column is sorted once (lo, me, hi) and
// shared by three windows; the median of nine is then the median of the greatest
// column minimum, the median column median and the least column maximum.
template <typename T, int Mode>
static void Denoise3x3Row(const T* up, const T* mid, const T* down, T* lo, T* me, T* hi, T* out,
                          int width)
{
    GRAYFIX_IVDEP
    for (int x = 0; x < width; ++x) {
        T a = std::min(up[x], mid[x]), b = std::max(up[x], mid[x]);
        T c = std::max(a, down[x]);
        lo[x] = std::min(a, down[x]);
        me[x] = std::min(b, c);
        hi[x] = std::max(b, c);
    }
    GRAYFIX_IVDEP
    for (int x = 1; x < width - 1; ++x) {
        T med = Median3(std::max(std::max(lo[x - 1], lo[x]), lo[x + 1]),
                        Median3(me[x - 1], me[x], me[x + 1]),
                        std::min(std::min(hi[x - 1], hi[x]), hi[x + 1]));
        T c = mid[x];
        T mn = std::min(std::min(lo[x - 1], lo[x + 1]), std::min(up[x], down[x]));
        T mx = std::max(std::max(hi[x - 1], hi[x + 1]), std::max(up[x], down[x]));
        T nx = std::numeric_limits<T>::max(), pv = 0;
        if constexpr (Mode == 3) {
            for (T v : {up[x - 1], up[x], up[x + 1], mid[x - 1], mid[x + 1], down[x - 1], down[x],
                        down[x + 1]})
                Nearest(v, c, nx, pv);
        }
        out[x] = ChooseFull<T, Mode>(c, med, mn, mx, nx, pv);
    }
}

// Row of 5x5 windows, x = 2 .. width-3, through the median network.
template <typename T, int Mode>
static void Denoise5x5Row(const T* const* rows, T* out, int width)
{
    const T* r[5] = {rows[0], rows[1], rows[2], rows[3], rows[4]};
    GRAYFIX_IVDEP
    for (int x = 2; x < width - 2; ++x) {
        T v[25];
        Unrolled([&](auto i) { v[i] = r[i / 5][x - 2 + i % 5]; }, std::make_index_sequence<25>());
        T c = v[12];
        T mn = std::numeric_limits<T>::max(), mx = 0;
        T nx = std::numeric_limits<T>::max(), pv = 0;
        if constexpr (Mode != 0) {
            Unrolled(
                [&](auto i) {
                    if constexpr (i != 12) {
                        mn = std::min(mn, v[i]);
                        mx = std::max(mx, v[i]);
                        if constexpr (Mode == 3) Nearest(v[i], c, nx, pv);
                    }
                },
                std::make_index_sequence<25>());
        }
        Unrolled([&](auto i) { Order(v[Median25.step[i].low], v[Median25.step[i].high]); },
                 std::make_index_sequence<Median25.size>());
        out[x] = ChooseFull<T, Mode>(c, v[12], mn, mx, nx, pv);
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

template <typename T, int Mode>
static void DenoiseRows(int radius, T* buf, T* rows, int ringRows, T* columns, uint16_t* window)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    // A window never reaches past the image, so clipping the radius per axis keeps every window.
    int rx = std::min(radius, width - 1), ry = std::min(radius, height - 1);
    int resultRows = ry + 1;  // row y is written back once row y+ry is done
    auto source = [&](int y) { return rows + (std::size_t)(y % ringRows) * width; };
    int loaded = 0;
    for (int y = 0; y < height; ++y) {
        int top = y - std::min(ry, y), bottom = y + std::min(ry, height - 1 - y);
        for (; loaded <= bottom; ++loaded) ImgReadRow(loaded, source(loaded));
        T* out = buf + (std::size_t)(y % resultRows) * width;

        int fastFrom = 0, fastTo = 0;  // x range done by a full-window kernel
        if (radius <= 2 && rx == radius && bottom - top == 2 * radius) {
            fastFrom = radius;
            fastTo = width - radius;
            if (radius == 1) {
                Denoise3x3Row<T, Mode>(source(y - 1), source(y), source(y + 1), columns,
                                       columns + width, columns + 2 * width, out, width);
            } else {
                const T* window5[5] = {source(y - 2), source(y - 1), source(y), source(y + 1),
                                       source(y + 2)};
                Denoise5x5Row<T, Mode>(window5, out, width);
            }
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

template <typename T> static void Denoise(int radius, int mode)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    int ry = std::min(radius, height - 1);
    int ringRows = (int)std::min<long long>(height, 2LL * ry + 1);
    std::size_t rowSize = (std::size_t)width * sizeof(T);
    // The window never holds more samples than the image has, whatever the radius.
    std::size_t side = 2 * (std::size_t)radius + 1;  // below 2^32, so side*side fits
    std::size_t windowSize = std::min(side * side, PixelIndex(0, height));
    T* buf = (T*)std::malloc(rowSize * (ry + 1));
    CHECK(buf);
    T* rows = (T*)std::malloc(rowSize * (ringRows + 3));  // plus three rows of sorted columns
    CHECK(rows);
    uint16_t* window = (uint16_t*)std::malloc(windowSize * sizeof(uint16_t));
    CHECK(window);

    if (!ImgSamplesInRange()) ReplayWindowReads(radius, mode);
    T* columns = rows + (std::size_t)ringRows * width;
    switch (mode) {
    case 0: DenoiseRows<T, 0>(radius, buf, rows, ringRows, columns, window); break;
    case 1: DenoiseRows<T, 1>(radius, buf, rows, ringRows, columns, window); break;
    case 2: DenoiseRows<T, 2>(radius, buf, rows, ringRows, columns, window); break;
    case 3: DenoiseRows<T, 3>(radius, buf, rows, ringRows, columns, window); break;
    default: FatalError("ImgTransformDenoise: bad mode", ExitOutputFile);
    }
    std::free(window);
    std::free(rows);
    std::free(buf);
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
