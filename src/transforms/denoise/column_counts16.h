// column_counts16.h - denoise of 2-byte samples from per-column counts in vertical strips,
// so that the work per pixel does not grow with the radius. Built once per vector path
// through kernels_table.h with the 1-byte engine (column_counts.h), whose 16-lane counts
// and rank search it reuses; everything has internal linkage for the same reason.
//
// A sample v splits into its top nibble, its second nibble and its low byte. Every column
// keeps cumulative counts of its window samples at the first two levels, as the 1-byte
// engine does for a whole 1-byte sample (272 bytes), and for each high byte v >> 8 that
// occurs in it a page: cumulative counts of the third nibble and plain counts of the low
// byte. A column holds at most 2 * ry + 1 samples, so it never has more pages than that:
// pages come from a pool and go back to it when their count falls to zero. The window
// keeps the top level for every pixel, and the others per top nibble or high byte, caught
// up from the columns that came and went when a rule looks inside. The median's high byte
// mostly stays from pixel to pixel, so its sums are moved by one page in and one out.
//
// The pages of every column of a wide image would not fit the memory of a few rows, so
// the image is done in vertical strips whose counts fit CountsBudget. A strip reads the
// original samples of radius columns on either side, so the results of its last radius
// columns are held back until the next strip has read them. What the engine takes beside
// the image: at most CountsBudget of counts, and for each part of the rows (one a worker
// thread) 8 KB of window sums (Lower), the rows of a window and one more for a strip's
// columns and radius + 1 rows of its results; the rows by the cuts between parts; and,
// when there is more than one strip, two buffers of radius columns of the image's height.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

#include "driver/console.h"
#include "image/image.h"
#include "support/loop_hints.h"  // GRAYFIX_IVDEP
#include "support/workers.h"
#include "transforms/denoise/column_counts.h"
#include "transforms/denoise/rules.h"
#include "transforms/window_rows.h"

namespace {
// Names of their own: the 1-byte engine's Columns answers the rules through functions of
// the same names.
namespace counts16 {

// The counts of a whole strip stay below this many bytes (the pages at their worst: no
// two samples of a column share a high byte).
constexpr std::size_t CountsBudget = std::size_t(3) << 20;
// Narrower strips keep the pages in use in the processor's second-level cache: at radius 3
// on 4096 x 4096 samples, strips of 160 columns took a fifth less time than of 1024.
constexpr long long QuickColumns = 256;

// The counts of one column for one high byte h: third[j] counts its samples h * 256 + 16 * i
// + l with i <= j (cumulative, like the levels above), low[16 * i + l] those equal to
// h * 256 + 16 * i + l (plain counts: a sample moves one byte).
struct Page {
    SixteenBytes third;
    uint8_t low[256];
};
// The window's sum of the pages of one high byte.
struct Lower {
    Sixteen third;
    alignas(64) uint16_t low[256];
};
// The bytes of counts each column of a strip takes at worst, with pages for pagesPerColumn
// high bytes: the two nibble levels, the page table and the pages with their free list.
constexpr std::size_t ColumnBytes(std::size_t pagesPerColumn)
{
    return 17 * sizeof(SixteenBytes) + 256 * sizeof(uint16_t)
         + pagesPerColumn * (sizeof(Page) + sizeof(uint16_t));
}

// How many image columns the counts of one strip can cover (radius columns on either
// side included) for windows of 2 * ry + 1 <= 255 rows.
inline long long StripColumns(int ry)
{
    long long pages = Least(2LL * ry + 1, 256LL);
    return (long long)(CountsBudget / ColumnBytes((std::size_t)pages));
}

// The output columns of one strip for clipped radii rx and ry: the whole width, or as
// many as fit the budget and the cache, or 0 when the windows are too large for these
// counts (a column's counts must fit 8 bits, the window's 16).
inline long long StripWidth16(int rx, int ry, int width)
{
    if (2LL * ry + 1 > 255 || (2LL * rx + 1) * (2LL * ry + 1) > 65535) return 0;
    long long fit = Least(StripColumns(ry), Greatest(QuickColumns, 4LL * rx + 2));
    return width <= fit ? width : Greatest(0LL, fit - 2LL * rx);
}

struct Columns16 {
    // Per strip column c, span apart: top[c][j] counts its samples whose top nibble is at
    // most j, mid[k * span + c][i] those of top nibble k whose second nibble is at most i,
    // and table[h * span + c] is the page of its high byte h (0: the empty page, all zero).
    // Ordered by nibble or high byte first, so that a window's columns lie side by side.
    SixteenBytes* top;
    SixteenBytes* mid;
    uint16_t* table;
    std::size_t span;
    Page* pages;       // the pool; page 0 stays empty
    uint16_t* free;    // indices of the pages not in use
    std::size_t freeCount;
    int first, end;    // the strip's image columns first .. end-1
    int rx;
    // The window at image column x, columns left .. right; now is x plus a number that
    // grows by more than any width from row to row, so that counts of an earlier row are
    // never taken for current ones.
    int x = 0, left = 0, right = 0;
    long long now = 0;
    Sixteen block{};   // cumulative samples per top nibble; the last lane is the window's count
    // The window's counts at the lower levels, each valid at the position in its at: per
    // second nibble for each top nibble k, and the sums of the pages of each high byte h.
    Sixteen inner[16];
    long long innerAt[16];
    Lower* lower;
    long long* lowerAt;
};

// Sample v of strip column c comes in, or goes out.
[[gnu::always_inline]] inline void ColumnIn(Columns16& w, int c, int v)
{
    int h = v >> 8;
    w.top[c] -= StepFrom(h >> 4);
    w.mid[(h >> 4) * w.span + c] -= StepFrom(h & 15);
    uint16_t& index = w.table[h * w.span + c];
    if (index == 0) {
        CHECK(w.freeCount > 0);  // a column never has more high bytes than samples
        index = w.free[--w.freeCount];
    }
    Page& page = w.pages[index];
    page.third -= StepFrom((v >> 4) & 15);
    ++page.low[v & 255];
}
[[gnu::always_inline]] inline void ColumnOut(Columns16& w, int c, int v)
{
    int h = v >> 8;
    w.top[c] += StepFrom(h >> 4);
    w.mid[(h >> 4) * w.span + c] += StepFrom(h & 15);
    uint16_t& index = w.table[h * w.span + c];
    Page& page = w.pages[index];
    page.third += StepFrom((v >> 4) & 15);
    --page.low[v & 255];
    if (page.third[15] == 0) {  // the column's last sample of this high byte: all zero again
        w.free[w.freeCount++] = index;
        index = 0;
    }
}

// Whether counts valid at position from are best brought up to date step by step: that
// costs two columns per step, starting over one per window column.
[[gnu::always_inline]] inline bool Stepping(const Columns16& w, long long from)
{
    long long steps = w.now - from;
    return steps <= w.x && 2 * steps <= w.right - w.left + 1;
}

[[gnu::always_inline]] inline const Sixteen& InnerOf(Columns16& w, int k)
{
    long long from = w.innerAt[k];
    if (from == w.now) return w.inner[k];
    const SixteenBytes* mid = w.mid + k * w.span;
    int x = w.x - w.first, columns = w.end - w.first, rx = w.rx;
    Sixteen sum{};
    if (Stepping(w, from)) {
        sum = w.inner[k];
        for (int c = x - (int)(w.now - from) + 1; c <= x; ++c) {
            if (c + rx < columns) sum += GRAYFIX_WIDEN(mid[c + rx]);
            if (c - rx - 1 >= 0) sum -= GRAYFIX_WIDEN(mid[c - rx - 1]);
        }
    } else {
        for (int c = w.left - w.first; c <= w.right - w.first; ++c) sum += GRAYFIX_WIDEN(mid[c]);
    }
    w.innerAt[k] = w.now;
    w.inner[k] = sum;
    return w.inner[k];
}

// sum plus or minus a page, lane by lane: plain loops the compiler widens.
[[gnu::always_inline]] inline void AddPage(Lower& sum, const Page& page)
{
    sum.third += GRAYFIX_WIDEN(page.third);
    GRAYFIX_IVDEP
    for (int i = 0; i < 256; ++i) sum.low[i] = (uint16_t)(sum.low[i] + page.low[i]);
}
[[gnu::always_inline]] inline void SubtractPage(Lower& sum, const Page& page)
{
    sum.third -= GRAYFIX_WIDEN(page.third);
    GRAYFIX_IVDEP
    for (int i = 0; i < 256; ++i) sum.low[i] = (uint16_t)(sum.low[i] - page.low[i]);
}

[[gnu::always_inline]] inline Lower& LowerOf(Columns16& w, int h)
{
    Lower& sum = w.lower[h];
    long long from = w.lowerAt[h];
    if (from == w.now) return sum;
    const uint16_t* table = w.table + h * w.span;
    int x = w.x - w.first, columns = w.end - w.first, rx = w.rx;
    if (Stepping(w, from)) {
        for (int c = x - (int)(w.now - from) + 1; c <= x; ++c) {
            if (c + rx < columns) AddPage(sum, w.pages[table[c + rx]]);
            if (c - rx - 1 >= 0) SubtractPage(sum, w.pages[table[c - rx - 1]]);
        }
    } else {
        std::memset((void*)&sum, 0, sizeof sum);
        for (int c = w.left - w.first; c <= w.right - w.first; ++c) AddPage(sum, w.pages[table[c]]);
    }
    w.lowerAt[h] = w.now;
    return sum;
}

// Samples at or below lane i - 1 of cumulative counts (0 for i = 0).
[[gnu::always_inline]] inline unsigned Before(const Sixteen& counts, int i) { return i > 0 ? counts[i - 1] : 0; }

// Samples whose high byte is below h.
[[gnu::always_inline]] inline unsigned BelowHigh(Columns16& w, int h)
{
    unsigned below = Before(w.block, h >> 4);
    return (h & 15) ? below + InnerOf(w, h >> 4)[(h & 15) - 1] : below;
}

// The 16 plain counts from p on, each summed with those before it.
[[gnu::always_inline]] inline void Running(const uint16_t* p, Sixteen& v)
{
    std::memcpy(&v, p, sizeof v);
    const Sixteen zero{};
    // Four doublings of a shift by whole lanes: lane i sums lanes 0..i.
    v += __builtin_shufflevector(zero, v, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30);
    v += __builtin_shufflevector(zero, v, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29);
    v += __builtin_shufflevector(zero, v, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27);
    v += __builtin_shufflevector(zero, v, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23);
}

// The value of the given rank among the samples of high byte h, in their sums.
[[gnu::always_inline]] inline int SelectLow(const Lower& sum, unsigned rank)
{
    int j = LanesAtOrBelow(sum.third, rank);
    rank -= Before(sum.third, j);
    Sixteen running;
    Running(sum.low + 16 * j, running);
    return 16 * j + LanesAtOrBelow(running, rank);
}

// The sample of the given rank in the sorted window: the lane of each level in turn.
[[gnu::always_inline]] inline int Select(Columns16& w, unsigned rank)
{
    int k = LanesAtOrBelow(w.block, rank);
    rank -= Before(w.block, k);
    const Sixteen& inner = InnerOf(w, k);
    int i = LanesAtOrBelow(inner, rank);
    rank -= Before(inner, i);
    int h = 16 * k + i;
    return 256 * h + SelectLow(LowerOf(w, h), rank);
}

// Samples of the high byte of c below c, and at or below c.
[[gnu::always_inline]] inline unsigned LowBelow(const Lower& sum, int c)
{
    int j = (c >> 4) & 15;
    Sixteen running;
    Running(sum.low + 16 * j, running);
    return Before(sum.third, j) + Before(running, c & 15);
}

// Samples below c, and at or below c.
unsigned CountBelow(Columns16& w, int c) { return BelowHigh(w, c >> 8) + LowBelow(LowerOf(w, c >> 8), c); }
unsigned CountUpTo(Columns16& w, int c)
{
    return BelowHigh(w, c >> 8) + LowBelow(LowerOf(w, c >> 8), c) + LowerOf(w, c >> 8).low[c & 255];
}

// What the rules ask of the window (rules.h).
long long Count(const Columns16& w) { return w.block[15]; }
[[gnu::always_inline]] inline int Median(Columns16& w) { return Select(w, w.block[15] / 2u); }
// The top-level counts settle most centres without looking further.
bool AtMin(Columns16& w, int c)
{
    return Before(w.block, c >> 12) == 0 && BelowHigh(w, c >> 8) == 0 && CountBelow(w, c) == 0;
}
bool AtMax(Columns16& w, int c)
{
    unsigned n = w.block[15];
    return w.block[c >> 12] == n && BelowHigh(w, (c >> 8) + 1) == n && CountUpTo(w, c) == n;
}
long long Equal(Columns16& w, int c) { return CountUpTo(w, c) - CountBelow(w, c); }
int Above(Columns16& w, int c) { return Select(w, CountUpTo(w, c)); }
int Below(Columns16& w, int c) { return Select(w, CountBelow(w, c) - 1); }

// Output columns x0 .. x1-1 of rows from .. to-1, from the strip's columns of the rows in
// source (a ring of the window's rows and the one that just left) into results. Results
// of the columns from x1 - held on go to heldNow (held columns a row) instead of the
// store: the next strip reads them.
template <int Mode>
void RunStrip(Columns16& w, SourceRows<uint16_t>& source, ResultRows<uint16_t>& results, int radius, int x0,
              int x1, int held, uint16_t* heldNow, int from, int to)
{
    int height = ImgImageHeight;
    int rx = w.rx, ry = Least(radius, height - 1);
    int columns = w.end - w.first, outputs = x1 - x0;
    int first = source.Loaded();  // the first row counted
    auto hold = [&](int y) {
        if (held)
            std::memcpy(heldNow + (std::size_t)y * held, results.Row(y) + outputs - held,
                        held * sizeof(uint16_t));
    };
    for (int y = from; y < to; ++y) {
        // Each column's counts first, the sample that left before the one that came, so that
        // a column never has more pages than its window has rows.
        const uint16_t* gone = y - 1 - ry >= first ? source.Row(y - 1 - ry) : nullptr;
        for (int bottom = y + Least(ry, height - 1 - y); source.Loaded() <= bottom;) {
            uint16_t* come = source.LoadNext();
            for (int c = 0; c < columns; ++c) {
                if (gone) {
                    if (gone[c] == come[c]) continue;  // flat areas: nothing changes
                    ColumnOut(w, c, gone[c]);
                }
                ColumnIn(w, c, come[c]);
            }
            gone = nullptr;
        }
        if (gone)
            for (int c = 0; c < columns; ++c) ColumnOut(w, c, gone[c]);

        w.block = Sixteen{};
        w.now += 2LL * ImgImageWidth + 2;  // every cached count is of an earlier row
        for (int x = w.first; x < Least(x0 + rx, w.end); ++x) w.block += GRAYFIX_WIDEN(w.top[x - w.first]);
        const uint16_t* centre = source.Row(y) + (x0 - w.first);
        uint16_t* out = results.Row(y);
        auto moveTo = [&w, rx](int x) {
            w.now += x - w.x;
            w.x = x;
            w.left = x - Least(rx, x);
            w.right = x + Least(rx, ImgImageWidth - 1 - x);
        };
        if constexpr (Mode == 0) {
            // The median's top nibble and high byte mostly stay from pixel to pixel: their
            // counts are kept in registers, moved by one column in and one out, and left
            // in the cache for the others when they change.
            int hotK = -1, hotH = -1;
            Sixteen block = w.block, inner{};
            for (int x = x0; x < x1; ++x) {
                int cin = x + rx - w.first, cout = x - rx - 1 - w.first;
                bool come = cin < columns, gone = cout >= 0;
                long long before = w.now;  // the hot counts are those of the pixel before
                if (come) block += GRAYFIX_WIDEN(w.top[cin]);
                if (gone) block -= GRAYFIX_WIDEN(w.top[cout]);
                unsigned rank = block[15] / 2u;
                int k = LanesAtOrBelow(block, rank);
                rank -= Before(block, k);
                if (k == hotK) {
                    const SixteenBytes* mid = w.mid + k * w.span;
                    if (come) inner += GRAYFIX_WIDEN(mid[cin]);
                    if (gone) inner -= GRAYFIX_WIDEN(mid[cout]);
                } else {
                    if (hotK >= 0) {
                        w.inner[hotK] = inner;
                        w.innerAt[hotK] = before;
                    }
                    moveTo(x);
                    inner = InnerOf(w, k);
                    hotK = k;
                }
                int i = LanesAtOrBelow(inner, rank);
                rank -= Before(inner, i);
                int h = 16 * k + i;
                if (h == hotH) {  // its sums stay in place, one column in and one out
                    const uint16_t* table = w.table + h * w.span;
                    if (come) AddPage(w.lower[h], w.pages[table[cin]]);
                    if (gone) SubtractPage(w.lower[h], w.pages[table[cout]]);
                } else {
                    if (hotH >= 0) w.lowerAt[hotH] = before;
                    moveTo(x);
                    LowerOf(w, h);
                    hotH = h;
                }
                moveTo(x);
                out[x - x0] = (uint16_t)(256 * h + SelectLow(w.lower[h], rank));
            }
        } else {
            for (int x = x0; x < x1; ++x) {
                if (x + rx < w.end) w.block += GRAYFIX_WIDEN(w.top[x + rx - w.first]);
                if (x - rx - 1 >= w.first) w.block -= GRAYFIX_WIDEN(w.top[x - rx - 1 - w.first]);
                moveTo(x);
                out[x - x0] = (uint16_t)Choose<Mode>(w, centre[x - x0]);
            }
        }
        results.Done(y);
        if (y - ry >= from) hold(y - ry);  // its slot takes row y + 1 next
    }
    results.Flush();
    for (int y = Greatest(from, to - ry); y < to; ++y) hold(y);
}

// What one part of the rows takes for its strips: the counts, within CountsBudget over
// all parts, and the window's sums.
struct StripPart {
    StripPart(int rx, int span, std::size_t pageCount)
    {
        w.top = (SixteenBytes*)std::aligned_alloc(alignof(SixteenBytes), (std::size_t)span * 17 * sizeof(SixteenBytes));
        w.table = (uint16_t*)std::malloc((std::size_t)span * 256 * sizeof(uint16_t));
        w.pages = (Page*)std::calloc(pageCount, sizeof(Page));  // a page is all zero when not in use
        w.free = (uint16_t*)std::malloc(pageCount * sizeof(uint16_t));
        w.lower = (Lower*)std::aligned_alloc(alignof(Lower), 256 * sizeof(Lower));
        w.lowerAt = (long long*)std::malloc(256 * sizeof(long long));
        bool allocated = w.top && w.table && w.pages && w.free && w.lower && w.lowerAt;
        if (!allocated) Release();  // the check below may not end the process (the Python module)
        CHECK(allocated);
        w.rx = rx;
        w.mid = w.top + span;
        w.span = (std::size_t)span;
        for (int k = 0; k < 16; ++k) w.innerAt[k] = -1;  // all stale
        for (int h = 0; h < 256; ++h) w.lowerAt[h] = -1;
    }
    ~StripPart() { Release(); }
    StripPart(const StripPart&) = delete;
    StripPart& operator=(const StripPart&) = delete;
    void Release()
    {
        std::free(w.lowerAt);
        std::free(w.lower);
        std::free(w.free);
        std::free(w.pages);
        std::free(w.table);
        std::free(w.top);
    }

    Columns16 w;
};

// Denoises the 2-byte image, whose samples must be proven at most ImgLevelMax, in strips
// of step output columns: at least the clipped radius, so that a strip reads no results of
// the strip before last, which are already in the store, and at most what StripWidth16
// gives for the clipped radii, so that the counts stay within the budget. Each strip's
// rows are shared among the worker threads in parts, whose counts share the budget: the
// strips narrow for them, down to the radius, and then the parts are fewer.
void DenoiseByColumnCounts16(int radius, int mode, int step)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    int rx = Least(radius, width - 1), ry = Least(radius, height - 1);
    int pagesPerColumn = Least(2 * ry + 1, 256);
    CHECK(step >= rx && step >= 1 && step <= StripWidth16(rx, ry, width));
    int count = RowParts<uint16_t>::Most(ry);
    auto stepFor = [&](int parts) { return (int)Least<long long>(step, StripColumns(ry) / parts - 2LL * rx); };
    while (count > 1 && stepFor(count) < Greatest(rx, 1)) --count;
    if (count > 1) step = stepFor(count);
    int span = (int)Least<long long>(width, step + 2LL * rx);  // image columns of a strip, at most
    std::size_t pageCount = (std::size_t)span * pagesPerColumn + 1;
    CHECK(pageCount <= 65536);  // page indices are 16-bit: within the budget they are

    RowParts<uint16_t> rows(count, ry);
    std::optional<StripPart> part[MostWorkers];
    for (int i = 0; i < count; ++i) part[i].emplace(rx, span, pageCount);
    // The held columns of one strip and of the one before, only where there are strips.
    std::size_t heldSize = width > step ? (std::size_t)rx * height : 0;
    Samples<uint16_t> heldA(heldSize + 1), heldB(heldSize + 1);
    uint16_t *heldBefore = heldA.Data(), *heldNow = heldB.Data();

    int heldFrom = 0, heldCount = 0;  // the previous strip's held columns
    for (int x0 = 0; x0 < width;) {
        int x1 = (int)Least<long long>(width, (long long)x0 + step);
        int first = x0 - Least(rx, x0), end = (int)Least<long long>(width, (long long)x1 + rx);
        int columns = end - first;
        int holding = x1 < width ? Least(rx, x1 - x0) : 0;
        std::optional<SourceRows<uint16_t>> source[MostWorkers];
        std::optional<ResultRows<uint16_t>> results[MostWorkers];
        for (int i = 0; i < count; ++i) {
            Columns16& w = part[i]->w;
            w.first = first;
            w.end = end;
            std::memset((void*)w.top, 0, (std::size_t)columns * sizeof(SixteenBytes));
            std::memset((void*)w.mid, 0, (std::size_t)span * 16 * sizeof(SixteenBytes));
            std::memset(w.table, 0, (std::size_t)span * 256 * sizeof(uint16_t));
            w.freeCount = 0;
            for (std::size_t p = (std::size_t)columns * pagesPerColumn; p >= 1; --p) w.free[w.freeCount++] = (uint16_t)p;
            source[i].emplace((int)Least<long long>(height, 2LL * ry + 2), (std::size_t)columns, first, end, &rows, i);
            results[i].emplace(ry, x0, x1 - holding, holding, rows.From(i), rows.From(i + 1));
        }
        WithMode(mode, [&]<int Mode>() {
            RunParts(count, [&](int i) {
                RunStrip<Mode>(part[i]->w, *source[i], *results[i], radius, x0, x1, holding, heldNow,
                               rows.From(i), rows.From(i + 1));
            });
        });
        for (int i = 0; i < count; ++i) {
            Columns16& w = part[i]->w;
            for (std::size_t k = 0; k < (std::size_t)span * 256; ++k)
                if (w.table[k]) std::memset((void*)&w.pages[w.table[k]], 0, sizeof(Page));
        }
        // This strip has read the previous one's held columns for the last time.
        for (int y = 0; y < height && heldCount; ++y)
            ImgWriteColumns(y, heldFrom, heldFrom + heldCount, heldBefore + (std::size_t)y * heldCount);
        std::swap(heldBefore, heldNow);
        heldFrom = x1 - holding;
        heldCount = holding;
        x0 = x1;
    }
}

}  // namespace counts16
using counts16::DenoiseByColumnCounts16;
using counts16::StripWidth16;
}  // namespace
