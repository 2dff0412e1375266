// full_window.h - denoise's full 3x3 and 5x5 window kernels (and the 2x3 edge rows of the
// radius 1 median), branch-free min/max code that the compiler vectorises across a row.
// Built once per vector path through kernels_table.h.
//
// Everything here has internal linkage on purpose: a shared inline function could be
// merged by the linker with a copy built for a wider target and then run where that
// target is missing. Hence no std::min/std::max either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "support/loop_hints.h"  // GRAYFIX_IVDEP: the row loops never overlap
#include "transforms/denoise/rules.h"

namespace {

template <typename T> constexpr T Largest = (T)~T(0);

// After one exchange, a holds the smaller value.
template <typename T> [[gnu::always_inline]] inline void Order(T& a, T& b)
{
    T low = Least(a, b);
    b = Greatest(a, b);
    a = low;
}

// f(0), f(1), ... f(N-1) as straight-line code, each index a compile-time constant: the
// vectoriser needs the window's samples in registers, not in an indexed array.
template <typename F, std::size_t... I>
[[gnu::always_inline]] inline void Unrolled(F&& f, std::index_sequence<I...>)
{
    (f(std::integral_constant<int, (int)I>()), ...);
}

template <typename T> [[gnu::always_inline]] inline T Median3(T a, T b, T c)
{
    return Greatest(Least(a, b), Least(Greatest(a, b), c));
}

struct Exchange {
    int low, high;
};
template <int N> struct Network {
    Exchange step[4 * N * N]{};
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
    for (int i = 0, j = median.size - 1; i < j; ++i, --j) {
        Exchange e = median.step[i];
        median.step[i] = median.step[j];
        median.step[j] = e;
    }
    return median;
}
constexpr auto Median25 = MedianNetwork<25>();

// Folds sample v into nx and pv. Only used when every other sample is >= c (or every
// one <= c), so "not equal to c" is "above c" (or "below c").
template <typename T> [[gnu::always_inline]] inline void Nearest(T v, T c, T& nx, T& pv)
{
    nx = Least<T>(nx, v == c ? Largest<T> : v);
    pv = Greatest<T>(pv, v == c ? 0 : v);
}

// Row of 3x3 windows, x = 1 .. width-2. Each column is sorted once (lo, me, hi) and
// shared by three windows; the median of nine is then the median of the greatest
// column minimum, the median column median and the least column maximum.
template <typename T, int Mode>
void Denoise3x3Row(const T* const* rows, T* scratch, T* out, int width)
{
    const T* up = rows[0];
    const T* mid = rows[1];
    const T* down = rows[2];
    T* lo = scratch;
    T* me = scratch + width;
    T* hi = scratch + 2 * width;
    GRAYFIX_IVDEP
    for (int x = 0; x < width; ++x) {
        T a = Least(up[x], mid[x]), b = Greatest(up[x], mid[x]);
        T c = Greatest(a, down[x]);
        lo[x] = Least(a, down[x]);
        me[x] = Least(b, c);
        hi[x] = Greatest(b, c);
    }
    GRAYFIX_IVDEP
    for (int x = 1; x < width - 1; ++x) {
        T med = Median3(Greatest(Greatest(lo[x - 1], lo[x]), lo[x + 1]), Median3(me[x - 1], me[x], me[x + 1]),
                        Least(Least(hi[x - 1], hi[x]), hi[x + 1]));
        T c = mid[x];
        T mn = Least(Least(lo[x - 1], lo[x + 1]), Least(up[x], down[x]));
        T mx = Greatest(Greatest(hi[x - 1], hi[x + 1]), Greatest(up[x], down[x]));
        T nx = Largest<T>, pv = 0;
        if constexpr (Mode == 3) {
            for (T v : {up[x - 1], up[x], up[x + 1], mid[x - 1], mid[x + 1], down[x - 1], down[x],
                        down[x + 1]})
                Nearest(v, c, nx, pv);
        }
        out[x] = ChooseFull<T, Mode>(c, med, mn, mx, nx, pv);
    }
}

// Sorts six wires; also the clipped edge windows of the general path.
constexpr Exchange SortSix[12] = {{1, 2}, {0, 2}, {0, 1}, {4, 5}, {3, 5}, {3, 4},
                                  {0, 3}, {1, 4}, {2, 5}, {2, 4}, {1, 3}, {2, 3}};

// Row of the 2x3 windows along the top or bottom edge for radius 1 and the median rule,
// x = 1 .. width-2: the upper median s[3] of the six samples.
template <typename T> void DenoiseEdgeRow(const T* const* rows, T*, T* out, int width)
{
    const T* a = rows[0];
    const T* b = rows[1];
    GRAYFIX_IVDEP
    for (int x = 1; x < width - 1; ++x) {
        T v[6] = {a[x - 1], a[x], a[x + 1], b[x - 1], b[x], b[x + 1]};
        Unrolled([&](auto i) { Order(v[SortSix[i].low], v[SortSix[i].high]); },
                 std::make_index_sequence<12>());
        out[x] = v[3];
    }
}

// Row of 5x5 windows, x = 2 .. width-3, through the median network.
template <typename T, int Mode>
void Denoise5x5Row(const T* const* rows, T*, T* out, int width)
{
    const T* r[5] = {rows[0], rows[1], rows[2], rows[3], rows[4]};
    GRAYFIX_IVDEP
    for (int x = 2; x < width - 2; ++x) {
        T v[25];
        Unrolled([&](auto i) { v[i] = r[i / 5][x - 2 + i % 5]; }, std::make_index_sequence<25>());
        T c = v[12];
        T mn = Largest<T>, mx = 0;
        T nx = Largest<T>, pv = 0;
        if constexpr (Mode != 0) {
            Unrolled(
                [&](auto i) {
                    if constexpr (i != 12) {
                        mn = Least(mn, v[i]);
                        mx = Greatest(mx, v[i]);
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

}  // namespace
