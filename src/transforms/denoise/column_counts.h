// column_counts.h - denoise of 1-byte samples at any radius from per-column counts
// merged along the row (Perreault and Hebert's constant-time median). Built once per
// vector path through kernels_table.h; everything has internal linkage, as a shared
// inline function could be merged with a copy built for a wider target.
//
// Every column keeps the counts of its samples in the window's rows, 16 blocks of 16
// intensities, brought up to date for each row in a pass of its own before the window
// sweeps the row (so the sweep never reads a count just stored). The window holds the
// 16 block counts, moved by one column in and one out per pixel, and fills in the 16
// counts of a block only when a rule looks inside it, from the columns that came and went
// since it last did. The work per pixel is then the same for every radius.
//
// All counts are cumulative: lane j holds the samples at or below block (or intensity) j
// of the group, so a rank is found by comparing it with all lanes at once, and a sample
// goes in or out with one vector step over the lanes at and above its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "driver/console.h"
#include "image/image.h"
#include "transforms/denoise/rules.h"
#include "transforms/window_rows.h"

namespace {

// The window's counts, and a column's: a column holds at most 255 samples of the window.
typedef uint16_t Sixteen __attribute__((vector_size(32)));
typedef uint8_t SixteenBytes __attribute__((vector_size(16)));
#define GRAYFIX_WIDEN(bytes) __builtin_convertvector(bytes, Sixteen)

// All ones in the lanes at and above i: subtracting it counts a sample in. From plain
// constants, so that no start-up code runs with a wider target's instructions.
struct StepTable {
    alignas(16) uint8_t from[16][16];
};
constexpr StepTable Steps = [] {
    StepTable table{};
    for (int i = 0; i < 16; ++i)
        for (int lane = i; lane < 16; ++lane) table.from[i][lane] = 0xff;
    return table;
}();
[[gnu::always_inline]] inline SixteenBytes StepFrom(int i)
{
    SixteenBytes step;
    std::memcpy(&step, Steps.from[i], sizeof step);
    return step;
}

// The number of lanes of the nondecreasing counts at or below limit, when the last lane
// is above it.
[[gnu::always_inline]] inline int LanesAtOrBelow(const Sixteen& counts, unsigned limit)
{
#if defined(__AVX2__)
    __m256i c;
    std::memcpy(&c, &counts, sizeof c);
    // Zero where the count, less limit with saturation, is zero: at or below limit.
    __m256i over = _mm256_subs_epu16(c, _mm256_set1_epi16((short)limit));
    unsigned at = (unsigned)_mm256_movemask_epi8(_mm256_cmpeq_epi16(over, _mm256_setzero_si256()));
    return __builtin_ctz(~at) >> 1;
#elif defined(__SSE2__)
    __m128i low, high;
    std::memcpy(&low, &counts, sizeof low);
    std::memcpy(&high, (const char*)&counts + sizeof low, sizeof high);
    __m128i bound = _mm_set1_epi16((short)limit), zero = _mm_setzero_si128();
    unsigned at = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(low, bound), zero))
                | (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(high, bound), zero)) << 16;
    return __builtin_ctz(~at) >> 1;
#else
    int k = 0;
    k += (counts[k + 7] <= limit) * 8;
    k += (counts[k + 3] <= limit) * 4;
    k += (counts[k + 1] <= limit) * 2;
    k += counts[k] <= limit;
    return k;
#endif
}

struct Columns {
    // Per image column: coarse[x][j] counts its samples at or below block j, and
    // fine[16 * x + k][i] those of block k at or below intensity 16 * k + i.
    SixteenBytes* coarse;
    SixteenBytes* fine;
    int width, rx;
    // The window at column x, columns left .. right.
    int x = 0, left = 0, right = 0;
    Sixteen block{};      // cumulative samples per block; the last lane is the window's count
    Sixteen inner[16]{};  // cumulative samples per intensity of a block, valid at column innerAt
    int innerAt[16] = {};
};

// Counts sample v of column x in, or out.
[[gnu::always_inline]] inline void Step(Columns& w, int x, int v, bool in)
{
    SixteenBytes fine = StepFrom(v & 15), coarse = StepFrom(v >> 4);
    w.fine[16 * x + (v >> 4)] += in ? -fine : fine;
    w.coarse[x] += in ? -coarse : coarse;
}

// Counts sample v of column x in and sample u out, touching the coarse counts once.
[[gnu::always_inline]] inline void Swap(Columns& w, int x, int v, int u)
{
    w.fine[16 * x + (v >> 4)] -= StepFrom(v & 15);
    w.fine[16 * x + (u >> 4)] += StepFrom(u & 15);
    w.coarse[x] += StepFrom(u >> 4) - StepFrom(v >> 4);
}

// Makes the counts of block k current for the window's column and returns them.
[[gnu::always_inline]] inline const Sixteen& Inner(Columns& w, int k)
{
    Sixteen& seg = w.inner[k];
    int from = w.innerAt[k];
    if (from == w.x) return seg;
    const SixteenBytes* fine = w.fine + k;
    // Catching up costs two columns per step, starting over one per window column.
    if (from < 0 || 2LL * (w.x - from) > w.right - w.left + 1) {
        seg = Sixteen{};
        for (int column = w.left; column <= w.right; ++column) seg += GRAYFIX_WIDEN(fine[16 * column]);
    } else {
        for (int x = from + 1; x <= w.x; ++x) {
            if (x + w.rx < w.width) seg += GRAYFIX_WIDEN(fine[16 * (x + w.rx)]);
            if (x - w.rx - 1 >= 0) seg -= GRAYFIX_WIDEN(fine[16 * (x - w.rx - 1)]);
        }
    }
    w.innerAt[k] = w.x;
    return seg;
}

// Samples at or below block k.
[[gnu::always_inline]] inline unsigned UpToBlock(const Columns& w, int k)
{
    return k < 0 ? 0 : w.block[k];
}

// The sample of the given rank in the sorted window.
[[gnu::always_inline]] inline int Select(Columns& w, unsigned rank)
{
    int k = LanesAtOrBelow(w.block, rank);
    unsigned below = UpToBlock(w, k - 1);
    return k * 16 + LanesAtOrBelow(Inner(w, k), rank - below);
}

// Samples below c, and at or below c.
unsigned CountBelow(Columns& w, int c)
{
    unsigned below = UpToBlock(w, (c >> 4) - 1);
    return (c & 15) ? below + Inner(w, c >> 4)[(c & 15) - 1] : below;
}
unsigned CountUpTo(Columns& w, int c)
{
    return UpToBlock(w, (c >> 4) - 1) + Inner(w, c >> 4)[c & 15];
}

// What the rules ask of the window (rules.h).
long long Count(const Columns& w) { return w.block[15]; }
[[gnu::always_inline]] inline int Median(Columns& w) { return Select(w, w.block[15] / 2u); }
// The block counts settle most centres without looking inside a block.
bool AtMin(Columns& w, int c) { return UpToBlock(w, (c >> 4) - 1) == 0 && CountBelow(w, c) == 0; }
bool AtMax(Columns& w, int c)
{
    return w.block[c >> 4] == w.block[15] && CountUpTo(w, c) == w.block[15];
}
long long Equal(Columns& w, int c) { return CountUpTo(w, c) - CountBelow(w, c); }
int Above(Columns& w, int c) { return Select(w, CountUpTo(w, c)); }
int Below(Columns& w, int c) { return Select(w, CountBelow(w, c) - 1); }

// Column counts fit 8 bits and the window's 16, and take 272 bytes a column.
constexpr bool ColumnCountsFitImage(int width, int height, int radius)
{
    long long rx = Least(radius, width - 1), ry = Least(radius, height - 1);
    return width <= 10000 && 2 * ry + 1 <= 255 && (2 * rx + 1) * (2 * ry + 1) <= 65535;
}

// What one part of the rows takes: the ring of its windows' rows and the one that just
// left them, width apart, its results and its columns' counts (272 bytes a column).
struct ColumnsPart {
    ColumnsPart(const RowParts<uint8_t>& parts, int part, int ry)
        : source((int)Least<long long>(ImgImageHeight, 2LL * ry + 2), (std::size_t)ImgImageWidth, 0,
                 ImgImageWidth, &parts, part),
          results(ry, 0, ImgImageWidth, 0, parts.From(part), parts.From(part + 1)),
          counts((SixteenBytes*)std::aligned_alloc(alignof(SixteenBytes), Bytes()))
    {
        CHECK(counts);
        std::memset((void*)counts, 0, Bytes());
    }
    ~ColumnsPart() { std::free(counts); }
    ColumnsPart(const ColumnsPart&) = delete;
    ColumnsPart& operator=(const ColumnsPart&) = delete;
    static std::size_t Bytes() { return (std::size_t)ImgImageWidth * 17 * sizeof(SixteenBytes); }

    SourceRows<uint8_t> source;
    ResultRows<uint8_t> results;
    SixteenBytes* counts;
};

template <int Mode> void RunColumns(int radius, ColumnsPart& part, int from, int to)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    int rx = Least(radius, width - 1), ry = Least(radius, height - 1);
    SourceRows<uint8_t>& source = part.source;
    ResultRows<uint8_t>& results = part.results;
    int first = source.Loaded();  // the first row counted
    SixteenBytes* counts = part.counts;
    Columns w;
    w.width = width;
    w.rx = rx;
    w.coarse = counts;
    w.fine = counts + width;
    for (int y = from; y < to; ++y) {
        // Once the window is full height, a row comes in as one goes out: both are
        // counted in one pass, which touches each column's coarse counts once.
        const uint8_t* gone = y - 1 - ry >= first ? source.Row(y - 1 - ry) : nullptr;
        for (int bottom = y + Least(ry, height - 1 - y); source.Loaded() <= bottom;) {
            uint8_t* come = source.LoadNext();
            if (gone) {
                for (int x = 0; x < width; ++x) {
                    if (x + 8 < width) {
                        __builtin_prefetch(&w.fine[16 * (x + 8) + (come[x + 8] >> 4)]);
                        __builtin_prefetch(&w.fine[16 * (x + 8) + (gone[x + 8] >> 4)]);
                    }
                    Swap(w, x, come[x], gone[x]);
                }
                gone = nullptr;
            } else {
                for (int x = 0; x < width; ++x) Step(w, x, come[x], true);
            }
        }
        if (gone)
            for (int x = 0; x < width; ++x) Step(w, x, gone[x], false);
        w.block = Sixteen{};
        for (int k = 0; k < 16; ++k) w.innerAt[k] = -1;
        for (int x = 0; x < rx; ++x) w.block += GRAYFIX_WIDEN(w.coarse[x]);
        const uint8_t* centre = source.Row(y);
        uint8_t* out = results.Row(y);
        if constexpr (Mode == 0) {
            // The median's block mostly stays from pixel to pixel: its counts are kept in
            // a register, moved by one column in and one out, and left for the others.
            int hotK = -1;
            Sixteen hot{}, block = w.block;
            for (int x = 0; x < width; ++x) {
                bool come = x + rx < width, gone = x - rx - 1 >= 0;
                if (come) block += GRAYFIX_WIDEN(w.coarse[x + rx]);
                if (gone) block -= GRAYFIX_WIDEN(w.coarse[x - rx - 1]);
                unsigned rank = block[15] / 2u;
                int k = LanesAtOrBelow(block, rank);
                if (k == hotK) {
                    if (come) hot += GRAYFIX_WIDEN(w.fine[16 * (x + rx) + k]);
                    if (gone) hot -= GRAYFIX_WIDEN(w.fine[16 * (x - rx - 1) + k]);
                } else {
                    if (hotK >= 0) {
                        w.inner[hotK] = hot;
                        w.innerAt[hotK] = x - 1;
                    }
                    w.x = x;
                    w.left = x - Least(rx, x);
                    w.right = x + Least(rx, width - 1 - x);
                    hot = Inner(w, k);
                    hotK = k;
                }
                unsigned below = k > 0 ? block[k - 1] : 0;
                out[x] = (uint8_t)(k * 16 + LanesAtOrBelow(hot, rank - below));
            }
        } else {
            for (int x = 0; x < width; ++x) {
                if (x + rx < width) w.block += GRAYFIX_WIDEN(w.coarse[x + rx]);
                if (x - rx - 1 >= 0) w.block -= GRAYFIX_WIDEN(w.coarse[x - rx - 1]);
                w.x = x;
                w.left = x - Least(rx, x);
                w.right = x + Least(rx, width - 1 - x);
                out[x] = (uint8_t)Choose<Mode>(w, centre[x]);
            }
        }
        results.Done(y);
    }
    results.Flush();
}

// Denoises the 1-byte image with a radius that ColumnCountsFitImage accepts; every sample
// must be proven at most ImgLevelMax. The rows are shared among the worker threads in
// parts, each with counts of its own, fewer where those would outgrow about 3 MB.
void DenoiseByColumnCounts(int radius, int mode)
{
    int ry = Least(radius, ImgImageHeight - 1);
    RowParts<uint8_t> parts(RowParts<uint8_t>::Most(ry, ColumnsPart::Bytes()), ry);
    WithMode(mode, [&]<int Mode>() {
        RunRowParts<ColumnsPart>(
            parts, [&](ColumnsPart& part, int from, int to) { RunColumns<Mode>(radius, part, from, to); }, ry);
    });
}

}  // namespace
