// denoise_hist.cpp - the denoise rules answered from a running histogram of the window.
//
// The window moves in a snake: left to right along one row, down one row, right to left
// along the next. Each move takes one column (or one row) of samples out of the counts
// and puts one in, clipped windows at the borders included, so a radius larger than the
// image or a tall, thin image costs no more than its samples. The counts are kept at two
// levels, one per intensity and one per block of intensities (16 for 1-byte samples, 256
// for 2-byte ones), so that every search skips empty blocks whole.
//
// The rules need the upper median (tracked from move to move with the number of samples
// below it), the window minimum and maximum (tracked from the samples put in, and
// searched upward or downward only when their count falls to zero), the number of
// samples equal to the centre (one count), and the nearest values above and below the
// centre (a search, needed only for a centre at the minimum or the maximum).

#include "transforms/denoise_hist.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "driver/console.h"
#include "image/image.h"

namespace {

template <typename T> struct Counts {
    static constexpr int Shift = (int)sizeof(T) * 4;  // a block is 1 << Shift intensities
    static constexpr int Block = 1 << Shift;
    uint32_t* fine;    // samples per intensity; at most the image's pixel count
    uint32_t* coarse;  // samples per block of Block intensities
    long long n = 0;   // samples in the window
    int median = 0;    // modes 0 and 1: s[n/2] once settled
    long long below = 0;  // samples less than median
    int lo = Block * Block - 1, hi = 0;  // modes 1..3: at most the minimum, at least the maximum
};

// The least intensity >= v that is present; one must be.
template <typename T> int FirstFrom(const Counts<T>& h, int v)
{
    constexpr int Block = Counts<T>::Block, Shift = Counts<T>::Shift;
    while (h.fine[v] == 0) {
        if ((v & (Block - 1)) == 0 && h.coarse[v >> Shift] == 0)
            v += Block;
        else
            ++v;
    }
    return v;
}

// The greatest intensity <= v that is present; one must be.
template <typename T> int LastFrom(const Counts<T>& h, int v)
{
    constexpr int Block = Counts<T>::Block, Shift = Counts<T>::Shift;
    while (h.fine[v] == 0) {
        if ((v & (Block - 1)) == Block - 1 && h.coarse[v >> Shift] == 0)
            v -= Block;
        else
            --v;
    }
    return v;
}

// What each mode keeps up to date while samples come and go.
template <int Mode> constexpr bool TracksMedian = Mode <= 1;
template <int Mode> constexpr bool TracksExtremes = Mode >= 1;

// Moves the tracked median and extremes to their values for the current samples. The
// median walks from where it was; between neighbouring windows that is a short way.
template <typename T, int Mode> void Settle(Counts<T>& h)
{
    constexpr int Block = Counts<T>::Block, Shift = Counts<T>::Shift;
    if constexpr (TracksMedian<Mode>) {
        long long rank = h.n / 2, below = h.below;
        int m = h.median;
        while (below > rank) {  // s[rank] is below m; m > 0 here, since below > 0
            if ((m & (Block - 1)) == 0 && below - h.coarse[(m >> Shift) - 1] > rank) {
                m -= Block;
                below -= h.coarse[m >> Shift];
            } else {
                --m;
                below -= h.fine[m];
            }
        }
        while (below + h.fine[m] <= rank) {  // s[rank] is above m; it exists, so m stays in range
            if ((m & (Block - 1)) == 0 && below + h.coarse[m >> Shift] <= rank) {
                below += h.coarse[m >> Shift];
                m += Block;
            } else {
                below += h.fine[m];
                ++m;
            }
        }
        h.median = m;
        h.below = below;
    }
    if constexpr (TracksExtremes<Mode>) {
        h.lo = FirstFrom(h, h.lo);
        h.hi = LastFrom(h, h.hi);
    }
}

// Takes count samples out of the window and puts count in, gone(k) and come(k) for
// k < count (none when the flag is off), then settles it.
template <typename T, int Mode, typename Gone, typename Come>
void Move(Counts<T>& h, int count, bool hasGone, Gone gone, bool hasCome, Come come)
{
    constexpr int Shift = Counts<T>::Shift;
    uint32_t* fine = h.fine;
    uint32_t* coarse = h.coarse;
    // Locals, so the compiler need not reload them after every store to the counts.
    long long below = h.below;
    int median = h.median, lo = h.lo, hi = h.hi;
    auto in = [&](int v) {
        ++fine[v];
        ++coarse[v >> Shift];
        if constexpr (TracksMedian<Mode>) below += v < median;
        if constexpr (TracksExtremes<Mode>) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    };
    auto out = [&](int v) {
        --fine[v];
        --coarse[v >> Shift];
        if constexpr (TracksMedian<Mode>) below -= v < median;
    };
    if (hasGone && hasCome) {
        for (int k = 0; k < count; ++k) {
            int g = gone(k), c = come(k);
            if (g == c) continue;  // flat areas: nothing changes
            out(g);
            in(c);
        }
    } else if (hasCome) {
        for (int k = 0; k < count; ++k) in(come(k));
        h.n += count;
    } else if (hasGone) {
        for (int k = 0; k < count; ++k) out(gone(k));
        h.n -= count;
    }
    h.below = below;
    h.lo = lo;
    h.hi = hi;
    Settle<T, Mode>(h);
}

// The window moves one column: column xOut of the band leaves, column xIn comes in (a
// negative index: none).
template <typename T, int Mode>
void MoveColumn(Counts<T>& h, const T* const* band, int count, int xOut, int xIn)
{
    Move<T, Mode>(
        h, count, xOut >= 0, [&](int k) { return (int)band[k][xOut]; }, xIn >= 0,
        [&](int k) { return (int)band[k][xIn]; });
}

// The window moves one row: gone[left..right] leaves, come[left..right] comes in (null: none).
template <typename T, int Mode>
void MoveRow(Counts<T>& h, const T* gone, const T* come, int left, int right)
{
    Move<T, Mode>(
        h, right - left + 1, gone != nullptr, [&](int k) { return (int)gone[left + k]; },
        come != nullptr, [&](int k) { return (int)come[left + k]; });
}

// What the rules ask of a settled window, for the running counts of the snake.
template <typename T> long long Count(const Counts<T>& h) { return h.n; }
template <typename T> int Median(const Counts<T>& h) { return h.median; }
template <typename T> bool AtMin(const Counts<T>& h, int c) { return c == h.lo; }
template <typename T> bool AtMax(const Counts<T>& h, int c) { return c == h.hi; }
template <typename T> long long Equal(const Counts<T>& h, int c) { return h.fine[c]; }
template <typename T> int Above(const Counts<T>& h, int c) { return FirstFrom(h, c + 1); }
template <typename T> int Below(const Counts<T>& h, int c) { return LastFrom(h, c - 1); }

// The new value for centre c. A centre at the minimum has no sample below it (s[0] = c),
// one at the maximum none above; equal is how many samples equal c, so s[1] = c when
// equal >= 2 and is otherwise the least value above c.
template <int Mode, typename W> int Choose(W& w, int c)
{
    long long n = Count(w);
    if (n == 1) return c;  // a 1x1 image: no second sample, so no rule can move the pixel
    if constexpr (Mode == 0) {
        return Median(w);
    } else {
        bool atMin = AtMin(w, c), atMax = !atMin && AtMax(w, c);
        if (!atMin && !atMax) return c;  // every rule leaves an inner centre alone
        long long equal = Equal(w, c);
        if constexpr (Mode == 1) {  // RCRS-1: only a centre alone at either end moves
            return equal == 1 ? Median(w) : c;
        } else if constexpr (Mode == 2) {  // s[1] for a centre at the minimum, else s[n-2]
            if (equal >= 2) return c;
            return atMin ? Above(w, c) : Below(w, c);
        } else {  // 3, RCRS-2: where the walk from s[1] up (or s[n-2] down) stops
            if (atMin) {
                long long i = std::max(1LL, std::min(equal, (n - 1) / 2));
                return i < equal ? c : Above(w, c);
            }
            long long i = std::min(n - 2, std::max(n / 2, n - 1 - equal));
            return i >= n - equal ? c : Below(w, c);
        }
    }
}

template <typename T, int Mode> void Run(int radius, T* rows, T* buf, Counts<T>& h, const T** band)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    int rx = std::min(radius, width - 1), ry = std::min(radius, height - 1);
    // The ring keeps the rows of the window and the one that just left it.
    int ringRows = (int)std::min<long long>(height, 2LL * ry + 2);
    int resultRows = ry + 1;  // row y is written back once row y+ry is done
    auto source = [&](int y) { return rows + (std::size_t)(y % ringRows) * width; };
    int loaded = 0;
    auto load = [&](int last) {
        for (; loaded <= last; ++loaded) ImgReadRow(loaded, source(loaded));
    };

    load(ry);
    for (int y = 0; y <= ry; ++y) band[y] = source(y);
    for (int x = 0; x <= rx; ++x) MoveColumn<T, Mode>(h, band, ry + 1, -1, x);

    int x = 0;  // the window's column: the snake turns at either end
    for (int y = 0; y < height; ++y) {
        int top = y - std::min(ry, y), bottom = y + std::min(ry, height - 1 - y);
        if (y > 0) {
            load(bottom);
            int left = x - std::min(rx, x), right = x + std::min(rx, width - 1 - x);
            const T* gone = y - 1 - ry >= 0 ? source(y - 1 - ry) : nullptr;
            const T* come = y + ry < height ? source(y + ry) : nullptr;
            MoveRow<T, Mode>(h, gone, come, left, right);
        }
        int count = bottom - top + 1;
        for (int k = 0; k < count; ++k) band[k] = source(top + k);
        const T* centre = source(y);
        T* out = buf + (std::size_t)(y % resultRows) * width;

        out[x] = (T)Choose<Mode>(h, centre[x]);
        if (x == 0) {
            for (x = 1; x < width; ++x) {
                int xOut = x - rx - 1, xIn = x + rx < width ? x + rx : -1;
                MoveColumn<T, Mode>(h, band, count, xOut, xIn);
                out[x] = (T)Choose<Mode>(h, centre[x]);
            }
            x = width - 1;
        } else {
            for (x = width - 2; x >= 0; --x) {
                int xOut = x + rx + 1 < width ? x + rx + 1 : -1, xIn = x - rx;
                MoveColumn<T, Mode>(h, band, count, xOut, xIn);
                out[x] = (T)Choose<Mode>(h, centre[x]);
            }
            x = 0;
        }
        if (y >= ry) ImgWriteRow(y - ry, buf + (std::size_t)((y - ry) % resultRows) * width);
    }
    for (int y = height - ry; y < height; ++y)
        ImgWriteRow(y, buf + (std::size_t)(y % resultRows) * width);
}

}  // namespace

template <typename T> void DenoiseByHistogram(int radius, int mode, T* rows, T* buf)
{
    constexpr std::size_t levels = std::size_t(1) << (8 * sizeof(T));
    Counts<T> h;
    h.fine = (uint32_t*)std::calloc(levels + levels / Counts<T>::Block, sizeof(uint32_t));
    CHECK(h.fine);
    h.coarse = h.fine + levels;
    int ry = std::min(radius, ImgImageHeight - 1);
    const T** band = (const T**)std::malloc((std::size_t)(ry + 1) * 2 * sizeof(T*));
    CHECK(band);
    switch (mode) {
    case 0: Run<T, 0>(radius, rows, buf, h, band); break;
    case 1: Run<T, 1>(radius, rows, buf, h, band); break;
    case 2: Run<T, 2>(radius, rows, buf, h, band); break;
    default: Run<T, 3>(radius, rows, buf, h, band); break;
    }
    std::free(band);
    std::free(h.fine);
}

template void DenoiseByHistogram<uint8_t>(int radius, int mode, uint8_t* rows, uint8_t* buf);
template void DenoiseByHistogram<uint16_t>(int radius, int mode, uint16_t* rows, uint16_t* buf);
