// running_counts.cpp - the denoise rules answered from a running histogram of the window.
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

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "driver/console.h"
#include "image/image.h"
#include "transforms/denoise/engines.h"
#include "transforms/denoise/rules.h"
#include "transforms/window_rows.h"

namespace {

template <typename T> struct Counts {
    static constexpr int Shift = (int)sizeof(T) * 4;  // a block is 1 << Shift intensities
    static constexpr int Block = 1 << Shift;
    uint32_t* fine;    // samples per intensity; at most the image's pixel count
    // Samples per block of Block intensities: the number that came in minus the number
    // that went out, in wrapping arithmetic, each spread over Lanes counters by the
    // sample's row. The samples of one column mostly fall in one or two blocks; with a
    // single counter every update would wait for the one before it.
    static constexpr int Lanes = 4;
    static constexpr std::size_t Blocks = (std::size_t(1) << 8 * sizeof(T)) / Block;
    uint32_t* came;  // Lanes x Blocks, then as many for went
    uint32_t* went;
    long long n = 0;   // samples in the window
    int median = 0;    // modes 0 and 1: s[n/2] once settled
    long long below = 0;  // samples less than median
    int lo = Block * Block - 1, hi = 0;  // modes 1..3: at most the minimum, at least the maximum
};

template <typename T> uint32_t InBlock(const Counts<T>& h, int k)
{
    uint32_t sum = 0;
    for (int lane = 0; lane < Counts<T>::Lanes; ++lane)
        sum += h.came[lane * Counts<T>::Blocks + k] - h.went[lane * Counts<T>::Blocks + k];
    return sum;
}

// The sum of the eight counts from p on: sparse counts (2-byte samples spread over many
// intensities) are walked eight at a time. No count nor sum of counts reaches 2^32 (the
// image has fewer pixels), so two counts add as one 64-bit word without a carry between.
inline uint32_t SumEight(const uint32_t* p)
{
    uint64_t sum = 0;
    for (int i = 0; i < 8; i += 2) {
        uint64_t pair;  // one load, not a copy through the stack
        std::memcpy(&pair, p + i, sizeof pair);
        sum += pair;
    }
    return (uint32_t)sum + (uint32_t)(sum >> 32);
}

// The sum of the first count counts from p on (0 to 7), without a branch on count.
inline uint32_t SumFirst(const uint32_t* p, int count)
{
    uint32_t sum = 0;
    for (int i = 0; i < 8; ++i) sum += i < count ? p[i] : 0;
    return sum;
}

// The least intensity >= v that is present; one must be.
template <typename T> int FirstFrom(const Counts<T>& h, int v)
{
    constexpr int Block = Counts<T>::Block, Shift = Counts<T>::Shift;
    for (;;) {
        if ((v & 7) == 0) {
            if ((v & (Block - 1)) == 0 && InBlock(h, v >> Shift) == 0) {
                v += Block;
                continue;
            }
            if (SumEight(h.fine + v) == 0) {
                v += 8;
                continue;
            }
        }
        if (h.fine[v]) return v;
        ++v;
    }
}

// The greatest intensity <= v that is present; one must be.
template <typename T> int LastFrom(const Counts<T>& h, int v)
{
    constexpr int Block = Counts<T>::Block, Shift = Counts<T>::Shift;
    for (;;) {
        if ((v & 7) == 7) {
            if ((v & (Block - 1)) == Block - 1 && InBlock(h, v >> Shift) == 0) {
                v -= Block;
                continue;
            }
            if (SumEight(h.fine + v - 7) == 0) {
                v -= 8;
                continue;
            }
        }
        if (h.fine[v]) return v;
        --v;
    }
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
        // Back to the start of the median's group of eight counts, then on by whole
        // blocks or groups to the group that holds s[rank], and into it without a branch.
        long long rank = h.n / 2;
        int m = h.median & ~7;
        long long below = h.below - SumFirst(h.fine + m, h.median - m);
        if (below > rank) {  // s[rank] is below m; m >= 8 here, since below > 0
            for (;;) {
                if ((m & (Block - 1)) == 0 && below - InBlock(h, (m >> Shift) - 1) > rank) {
                    m -= Block;
                    below -= InBlock(h, m >> Shift);
                    continue;
                }
                m -= 8;
                below -= SumEight(h.fine + m);
                if (below <= rank) break;
            }
        } else {  // s[rank] exists at or above m, so the group of eight stays in range
            for (;;) {
                if ((m & (Block - 1)) == 0 && below + InBlock(h, m >> Shift) <= rank) {
                    below += InBlock(h, m >> Shift);
                    m += Block;
                    continue;
                }
                uint32_t eight = SumEight(h.fine + m);
                if (below + eight > rank) break;
                below += eight;
                m += 8;
            }
        }
        // s[rank] is in m .. m+7: past every count whose running sum stays at most rank.
        long long sum = below;
        int past = 0;
        for (int i = 0; i < 8; ++i) {
            sum += h.fine[m + i];
            bool before = sum <= rank;
            past += before;
            below = before ? sum : below;
        }
        h.median = m + past;
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
    constexpr std::size_t Blocks = Counts<T>::Blocks, Lanes = Counts<T>::Lanes;
    uint32_t* fine = h.fine;
    uint32_t* came = h.came;  // went follows at a fixed distance
    // Locals, so the compiler need not reload them after every store to the counts.
    long long below = h.below;
    int median = h.median, lo = h.lo, hi = h.hi;
    auto in = [&](int v, std::size_t lane) {
        ++fine[v];
        ++came[lane * Blocks + (v >> Shift)];
        if constexpr (TracksMedian<Mode>) below += v < median;
        if constexpr (TracksExtremes<Mode>) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    };
    auto out = [&](int v, std::size_t lane) {
        --fine[v];
        ++came[(Lanes + lane) * Blocks + (v >> Shift)];
        if constexpr (TracksMedian<Mode>) below -= v < median;
    };
    if (hasGone && hasCome) {
        auto swap = [&](int k, std::size_t lane) {
            int g = gone(k), c = come(k);
            if (g == c) return;  // flat areas: nothing changes
            out(g, lane);
            in(c, lane);
        };
        // Four at a time, so that each lane's counters sit at a fixed offset.
        int k = 0;
        for (; k + 4 <= count; k += 4) {
            swap(k, 0);
            swap(k + 1, 1);
            swap(k + 2, 2);
            swap(k + 3, 3);
        }
        for (; k < count; ++k) swap(k, (std::size_t)k % Lanes);
    } else if (hasCome) {
        for (int k = 0; k < count; ++k) in(come(k), (std::size_t)k % Lanes);
        h.n += count;
    } else if (hasGone) {
        for (int k = 0; k < count; ++k) out(gone(k), (std::size_t)k % Lanes);
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
        h, count, xOut >= 0, [band, xOut](int k) { return (int)band[k][xOut]; }, xIn >= 0,
        [band, xIn](int k) { return (int)band[k][xIn]; });
}

// The window moves one row: gone[left..right] leaves, come[left..right] comes in (null: none).
template <typename T, int Mode>
void MoveRow(Counts<T>& h, const T* gone, const T* come, int left, int right)
{
    Move<T, Mode>(
        h, right - left + 1, gone != nullptr, [gone, left](int k) { return (int)gone[left + k]; },
        come != nullptr, [come, left](int k) { return (int)come[left + k]; });
}

// What the rules ask of a settled window, for the running counts of the snake.
template <typename T> long long Count(const Counts<T>& h) { return h.n; }
template <typename T> int Median(const Counts<T>& h) { return h.median; }
template <typename T> bool AtMin(const Counts<T>& h, int c) { return c == h.lo; }
template <typename T> bool AtMax(const Counts<T>& h, int c) { return c == h.hi; }
template <typename T> long long Equal(const Counts<T>& h, int c) { return h.fine[c]; }
template <typename T> int Above(const Counts<T>& h, int c) { return FirstFrom(h, c + 1); }
template <typename T> int Below(const Counts<T>& h, int c) { return LastFrom(h, c - 1); }

// What one part of the rows takes: the ring of its windows' rows and the one that just
// left them, its results, and the window's counts.
template <typename T> struct SnakePart {
    static constexpr std::size_t Levels = std::size_t(1) << (8 * sizeof(T));
    static constexpr std::size_t Lanes = Counts<T>::Lanes * Counts<T>::Blocks;
    SnakePart(const RowParts<T>& parts, int part, int ry)
        : source((int)std::min<long long>(ImgImageHeight, 2LL * ry + 2), OddLineStride<T>(ImgImageWidth), 0,
                 ImgImageWidth, &parts, part),
          results(ry, 0, ImgImageWidth, 0, parts.From(part), parts.From(part + 1)),
          counts(Levels + 2 * Lanes), band((std::size_t)(ry + 1) * 2)
    {
        std::memset(counts.Data(), 0, (Levels + 2 * Lanes) * sizeof(uint32_t));
        h.fine = counts.Data();
        h.came = h.fine + Levels;
        h.went = h.came + Lanes;
    }
    SourceRows<T> source;
    ResultRows<T> results;
    Samples<uint32_t> counts;
    Samples<const T*> band;  // the rows of a window column
    Counts<T> h;
};

// Output rows from .. to-1.
template <typename T, int Mode> void Run(int radius, SnakePart<T>& part, int from, int to)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    int rx = std::min(radius, width - 1), ry = std::min(radius, height - 1);
    SourceRows<T>& source = part.source;
    Counts<T>& h = part.h;
    const T** band = part.band.Data();
    if (from == to) return;

    int top = from - std::min(ry, from), bottom = from + std::min(ry, height - 1 - from);
    source.LoadThrough(bottom);
    for (int y = top; y <= bottom; ++y) band[y - top] = source.Row(y);
    for (int x = 0; x <= rx; ++x) MoveColumn<T, Mode>(h, band, bottom - top + 1, -1, x);

    int x = 0;  // the window's column: the snake turns at either end
    for (int y = from; y < to; ++y) {
        top = y - std::min(ry, y), bottom = y + std::min(ry, height - 1 - y);
        if (y > from) {
            source.LoadThrough(bottom);
            int left = x - std::min(rx, x), right = x + std::min(rx, width - 1 - x);
            const T* gone = y - 1 - ry >= 0 ? source.Row(y - 1 - ry) : nullptr;
            const T* come = y + ry < height ? source.Row(y + ry) : nullptr;
            MoveRow<T, Mode>(h, gone, come, left, right);
        }
        int count = bottom - top + 1;
        for (int k = 0; k < count; ++k) band[k] = source.Row(top + k);
        const T* centre = source.Row(y);
        T* out = part.results.Row(y);

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
        part.results.Done(y);
    }
    part.results.Flush();
}

}  // namespace

bool RunningCountsFit()
{
    return (unsigned long long)ImgImageWidth * (unsigned long long)ImgImageHeight <= UINT32_MAX;
}

// The rows are shared among the worker threads in parts, each with counts of its own.
template <typename T> void DenoiseByRunningCounts(int radius, int mode)
{
    int ry = std::min(radius, ImgImageHeight - 1);
    RowParts<T> parts(RowParts<T>::Most(ry), ry);
    WithMode(mode, [&]<int Mode>() {
        RunRowParts<SnakePart<T>>(
            parts, [&](SnakePart<T>& part, int from, int to) { Run<T, Mode>(radius, part, from, to); }, ry);
    });
}

template void DenoiseByRunningCounts<uint8_t>(int radius, int mode);
template void DenoiseByRunningCounts<uint16_t>(int radius, int mode);
