// tile_ranks.h - the median of 2-byte samples from their order within square tiles, so
// that the work per pixel neither grows with the number of distinct values, as counts of
// 65,536 intensities do, nor much with the radius. Built once per vector path through
// kernels_table.h; internal linkage, as for the other kernels.
//
// A tile is a block of output pixels together with every sample their windows read. Its
// samples are sorted once by value (counted per level when the levels between the least
// and the greatest are no more than the samples, else in two radix passes of a byte); a
// window is then a set of positions in that order, and its median the member with n / 2
// members before it. Down each output column the window loses one row and gains one,
// which moves the count of members before the last median's position by what those rows
// hold below it; from there the median is found by hopping over members, 64 positions at
// a time: a position is a member when its sample's row and column lie in the window,
// which one vector comparison tells for 64.
// Tiles are sized so that about one position in nine is a member.
//
// The image goes in bands of tile rows. A band reads its rows and radius more on either
// side from the store into a buffer, and its results go back once the next band has kept
// the rows it shares with this one, so that every window sees the image as it was. What
// the engine takes beside the image: those rows and the band's results (within about
// 2.5 MB, or it declines), and the arrays of one tile (at most 65,025 samples, 12 bytes
// each; 0.1 MB at radius 10).
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
#include "support/workers.h"
#include "transforms/denoise/rules.h"
#include "transforms/window_rows.h"

namespace {
namespace tiles {

// A tile spans at most this many rows and columns of samples, so that its local
// coordinates fit a byte with one value left over for the padding past its last position.
constexpr int MostSpan = 255;
// The band's rows and results stay below this many bytes.
constexpr std::size_t RowsBudget = std::size_t(5) << 19;

// Output rows (and columns) of a tile for radius r: it spans three windows, so that about
// one position in nine belongs to a window. Wider tiles sort fewer samples per pixel but
// hop over more words from median to median; on 4096 x 4096 samples the time hardly
// changed from spans of 2.5 to 4.5 windows.
constexpr int TileSide(int r) { return Least(4 * r + 3, MostSpan - 2 * r); }

// The tiles' side for clipped radii rx and ry: the one asked for (when positive) or the
// engine's own, within MostSpan.
constexpr int Side(int rx, int ry, int tile)
{
    int r = Greatest(rx, ry);
    return tile > 0 ? Least(tile, MostSpan - 2 * r) : TileSide(r);
}

// Output rows of a band for clipped radii rx and ry on this image, or 0 when the tiles or
// the band's rows do not fit (very large radii, or images so wide that a band would hold
// only a few rows).
inline int BandRows(int rx, int ry, int width, int tile, std::size_t budget = RowsBudget)
{
    if (2 * rx + 1 > MostSpan || 2 * ry + 1 > MostSpan) return 0;
    int side = Side(rx, ry, tile);
    if (side < 1) return 0;
    // (rows + 2 ry) source rows and rows of results, 2 bytes a sample
    long long fit = (long long)(budget / (4 * (std::size_t)width)) - ry;
    int rows = (int)Least<long long>(side, fit);
    return rows >= Least(side, 8) ? rows : 0;
}

struct Tile {
    int w = 0, h = 0, count = 0;  // columns, rows and samples
    uint32_t* keys;               // value << 16 | row << 8 | column, sorted by value: the
                                  // value at a position is its key's top half
    uint32_t* spare;              // the radix sort's other half, or counts per level
    uint8_t* row;                 // by position; padded with MostSpan to whole words
    uint8_t* column;
    uint16_t* position;           // by local index row * w + column
};

// The window: local rows top .. top + rows - 1, columns left .. left + columns - 1.
struct Window {
    int top, rows, left, columns;
};

// Bit i set when position 64 * word + i belongs to the window.
[[gnu::always_inline]] inline uint64_t Members(const Tile& t, int word, const Window& win)
{
    const uint8_t* row = t.row + 64 * (std::size_t)word;
    const uint8_t* column = t.column + 64 * (std::size_t)word;
    auto top = (uint8_t)win.top, left = (uint8_t)win.left;
    auto rows = (uint8_t)(win.rows - 1), columns = (uint8_t)(win.columns - 1);
#if defined(__AVX512BW__)
    __m512i r = _mm512_sub_epi8(_mm512_loadu_si512(row), _mm512_set1_epi8((char)top));
    __m512i c = _mm512_sub_epi8(_mm512_loadu_si512(column), _mm512_set1_epi8((char)left));
    __mmask64 in = _mm512_cmple_epu8_mask(r, _mm512_set1_epi8((char)rows));
    return _mm512_mask_cmple_epu8_mask(in, c, _mm512_set1_epi8((char)columns));
#elif defined(__AVX2__)
    uint64_t bits = 0;
    for (int half = 0; half < 2; ++half) {
        __m256i r = _mm256_sub_epi8(_mm256_loadu_si256((const __m256i*)(row + 32 * half)),
                                    _mm256_set1_epi8((char)top));
        __m256i c = _mm256_sub_epi8(_mm256_loadu_si256((const __m256i*)(column + 32 * half)),
                                    _mm256_set1_epi8((char)left));
        // x <= limit, unsigned, where min(x, limit) == x
        __m256i in = _mm256_and_si256(
            _mm256_cmpeq_epi8(_mm256_min_epu8(r, _mm256_set1_epi8((char)rows)), r),
            _mm256_cmpeq_epi8(_mm256_min_epu8(c, _mm256_set1_epi8((char)columns)), c));
        bits |= (uint64_t)(uint32_t)_mm256_movemask_epi8(in) << (32 * half);
    }
    return bits;
#elif defined(__SSE2__)
    uint64_t bits = 0;
    for (int quarter = 0; quarter < 4; ++quarter) {
        __m128i r = _mm_sub_epi8(_mm_loadu_si128((const __m128i*)(row + 16 * quarter)),
                                 _mm_set1_epi8((char)top));
        __m128i c = _mm_sub_epi8(_mm_loadu_si128((const __m128i*)(column + 16 * quarter)),
                                 _mm_set1_epi8((char)left));
        __m128i in = _mm_and_si128(_mm_cmpeq_epi8(_mm_min_epu8(r, _mm_set1_epi8((char)rows)), r),
                                   _mm_cmpeq_epi8(_mm_min_epu8(c, _mm_set1_epi8((char)columns)), c));
        bits |= (uint64_t)(uint32_t)_mm_movemask_epi8(in) << (16 * quarter);
    }
    return bits;
#else
    uint64_t bits = 0;
    for (int i = 0; i < 64; ++i)
        bits |= (uint64_t)((uint8_t)(row[i] - top) <= rows && (uint8_t)(column[i] - left) <= columns) << i;
    return bits;
#endif
}

// at[b][k]: the bit of byte b that k of its set bits precede.
struct BitTable {
    uint8_t at[256][8];
};
constexpr BitTable BitsInByte = [] {
    BitTable table{};
    for (int b = 0; b < 256; ++b)
        for (int bit = 0, k = 0; bit < 8; ++bit)
            if (b >> bit & 1) table.at[b][k++] = (uint8_t)bit;
    return table;
}();

// The bit of m (from 0) that k set bits precede: one instruction where the path has it,
// else broadword steps.
[[gnu::always_inline]] inline int SelectBit(uint64_t m, int k)
{
#if defined(__BMI2__)
    return __builtin_ctzll(_pdep_u64(uint64_t(1) << k, m));
#else
    constexpr uint64_t ones = 0x0101010101010101;
    uint64_t s = m - (m >> 1 & 0x5555555555555555);
    s = (s & 0x3333333333333333) + (s >> 2 & 0x3333333333333333);
    s = (s + (s >> 4)) & 0x0F0F0F0F0F0F0F0F;
    uint64_t upTo = s * ones;  // byte i: the set bits of bytes 0 .. i
    // Bytes whose running count is at most k: their number is the index of k's byte.
    int byte = __builtin_popcountll(((k * ones | 0x8080808080808080) - upTo) & 0x8080808080808080);
    int before = (int)((upTo << 8) >> (8 * byte) & 255);
    return 8 * byte + BitsInByte.at[(m >> (8 * byte)) & 255][k - before];
#endif
}

// The position of the window's member of the given rank, from position p with before
// members before it: hopping over the words down when the rank lies below p, else up
// from p.
[[gnu::always_inline]] inline int SeekFar(const Tile& t, const Window& win, int p, int before, int rank)
{
    int word = p >> 6;
    if (before > rank) {
        int need = before - rank;  // the need-th member below p, counting down
        uint64_t bits = Members(t, word, win) & ((uint64_t(1) << (p & 63)) - 1);
        for (int got; (got = __builtin_popcountll(bits)) < need; need -= got) bits = Members(t, --word, win);
        while (--need > 0) bits &= ~(uint64_t(1) << (63 - __builtin_clzll(bits)));
        return 64 * word + 63 - __builtin_clzll(bits);
    }
    int need = rank - before;  // the need-th member from p on, counting up from 0
    uint64_t bits = Members(t, word, win) & (~uint64_t(0) << (p & 63));
    for (int got; (got = __builtin_popcountll(bits)) <= need; need -= got) bits = Members(t, ++word, win);
    for (; need > 0; --need) bits &= bits - 1;
    return 64 * word + __builtin_ctzll(bits);
}

// The same, without a branch the processor could not foresee when the member lies in
// p's word or the next one in its direction, as it mostly does.
[[gnu::always_inline]] inline int Seek(const Tile& t, const Window& win, int p, int before, int rank)
{
    int word = p >> 6;
    bool down = before > rank;
    int first = word - (down && word > 0);
    uint64_t low = Members(t, first, win), high = Members(t, first + 1, win);
    uint64_t here = first == word ? low : high;
    int inLow = __builtin_popcountll(low);
    // Members below the first word, and the rank among those of the two words.
    int under = before - __builtin_popcountll(here & ((uint64_t(1) << (p & 63)) - 1)) - (first < word ? inLow : 0);
    int j = rank - under;
    if ((unsigned)j >= (unsigned)(inLow + __builtin_popcountll(high)))
        return SeekFar(t, win, p, before, rank);
    bool inFirst = j < inLow;
    return 64 * (first + !inFirst) + SelectBit(inFirst ? low : high, inFirst ? j : j - inLow);
}

// Positions below p among the columns of the window in local row y. The vector loads may
// read up to a vector past the row's end: the array has room for it.
[[gnu::always_inline]] inline int RowBelow(const Tile& t, const Window& win, int y, int p)
{
    const uint16_t* position = t.position + (std::size_t)y * t.w + win.left;
    int below = 0;
#if defined(__AVX512BW__)
    __m512i bound = _mm512_set1_epi16((short)p);
    for (int i = 0; i < win.columns; i += 32) {
        __mmask32 lanes = win.columns - i >= 32 ? ~0u : (1u << (win.columns - i)) - 1;
        __m512i v = _mm512_maskz_loadu_epi16(lanes, position + i);
        below += __builtin_popcount(_mm512_mask_cmplt_epu16_mask(lanes, v, bound));
    }
#elif defined(__AVX2__)
    // Unsigned order from the signed comparison, both sides shifted by 0x8000.
    __m256i flip = _mm256_set1_epi16(-0x8000), bound = _mm256_set1_epi16((short)(p ^ 0x8000));
    for (int i = 0; i < win.columns; i += 16) {
        __m256i v = _mm256_xor_si256(_mm256_loadu_si256((const __m256i*)(position + i)), flip);
        auto lt = (unsigned)_mm256_movemask_epi8(_mm256_cmpgt_epi16(bound, v));
        int lanes = Least(16, win.columns - i);
        below += __builtin_popcount(lanes == 16 ? lt : lt & ((1u << (2 * lanes)) - 1)) / 2;
    }
#elif defined(__SSE2__)
    __m128i flip = _mm_set1_epi16(-0x8000), bound = _mm_set1_epi16((short)(p ^ 0x8000));
    for (int i = 0; i < win.columns; i += 8) {
        __m128i v = _mm_xor_si128(_mm_loadu_si128((const __m128i*)(position + i)), flip);
        auto lt = (unsigned)_mm_movemask_epi8(_mm_cmpgt_epi16(bound, v));
        int lanes = Least(8, win.columns - i);
        below += __builtin_popcount(lt & ((1u << (2 * lanes)) - 1)) / 2;
    }
#else
    for (int i = 0; i < win.columns; ++i) below += position[i] < p;
#endif
    return below;
}

// The sample of key goes to position p.
[[gnu::always_inline]] inline void Place(Tile& t, int p, uint32_t key)
{
    int y = (int)(key >> 8 & 255), x = (int)(key & 255);
    t.keys[p] = key;
    t.row[p] = (uint8_t)y;
    t.column[p] = (uint8_t)x;
    t.position[y * t.w + x] = (uint16_t)p;
}

// Sorts the samples of rows 0 .. h-1, columns x0 .. x0+w-1 of rows (stride samples
// apart) by value, and fills in the tile's arrays.
inline void SortTile(Tile& t, const uint16_t* rows, std::size_t stride, int x0, int w, int h)
{
    t.w = w;
    t.h = h;
    t.count = w * h;
    unsigned least = 65535, most = 0;
    for (int y = 0; y < h; ++y) {
        const uint16_t* in = rows + (std::size_t)y * stride + x0;
        for (int x = 0; x < w; ++x) {
            least = Least<unsigned>(least, in[x]);
            most = Greatest<unsigned>(most, in[x]);
        }
    }
    unsigned range = most - least + 1;
    if (range <= (unsigned)t.count) {
        // Few levels for the samples: one counting pass, one placing pass.
        uint32_t* counts = t.spare;
        std::memset(counts, 0, range * sizeof *counts);
        for (int y = 0; y < h; ++y) {
            const uint16_t* in = rows + (std::size_t)y * stride + x0;
            for (int x = 0; x < w; ++x) ++counts[in[x] - least];
        }
        for (unsigned i = 0, sum = 0; i < range; ++i) {
            unsigned c = counts[i];
            counts[i] = sum;
            sum += c;
        }
        for (int y = 0; y < h; ++y) {
            const uint16_t* in = rows + (std::size_t)y * stride + x0;
            for (int x = 0; x < w; ++x)
                Place(t, (int)counts[in[x] - least]++, (uint32_t)in[x] << 16 | (uint32_t)y << 8 | (uint32_t)x);
        }
    } else {
        // Two stable passes over the keys, the low byte of the value first.
        unsigned low[256] = {}, high[256] = {};
        uint32_t* keys = t.keys;
        for (int y = 0; y < h; ++y) {
            const uint16_t* in = rows + (std::size_t)y * stride + x0;
            for (int x = 0; x < w; ++x) {
                uint32_t v = in[x];
                ++low[v & 255];
                ++high[v >> 8];
                *keys++ = v << 16 | (uint32_t)y << 8 | (uint32_t)x;
            }
        }
        unsigned sumLow = 0, sumHigh = 0;
        for (int i = 0; i < 256; ++i) {
            unsigned l = low[i], hi = high[i];
            low[i] = sumLow;
            high[i] = sumHigh;
            sumLow += l;
            sumHigh += hi;
        }
        for (int i = 0; i < t.count; ++i) t.spare[low[(t.keys[i] >> 16) & 255]++] = t.keys[i];
        for (int i = 0; i < t.count; ++i) Place(t, (int)high[t.spare[i] >> 24]++, t.spare[i]);
    }
    int padded = (t.count + 63) / 64 * 64 + 64;  // a word past the last for Seek
    std::memset(t.row + t.count, MostSpan, (std::size_t)(padded - t.count));
    std::memset(t.column + t.count, MostSpan, (std::size_t)(padded - t.count));
}

// The medians of Lanes output columns from x on, rows oy0 .. oy1-1, of the tile whose
// first sample is image column x0, row y0; results go to out (stride apart, the first at
// oy0, x). Each column walks down on its own, so that the processor overlaps the walks;
// the first window of each starts from the median of the one to its left (top).
template <int Lanes>
[[gnu::always_inline]] inline void ColumnMedians(const Tile& t, int rx, int ry, int x, int oy0, int oy1,
                                                 int x0, int y0, int& top, uint16_t* out,
                                                 std::size_t stride)
{
    Window win[Lanes];
    int p[Lanes], before[Lanes];
    int cy = oy0 - y0;
    for (int i = 0; i < Lanes; ++i) {
        int cx = x + i - x0;
        win[i].left = Greatest(0, cx - rx);
        win[i].columns = Least(t.w - 1, cx + rx) - win[i].left + 1;
        win[i].top = Greatest(0, cy - ry);
        win[i].rows = Least(t.h - 1, cy + ry) - win[i].top + 1;
        int below = 0;
        for (int y = win[i].top; y < win[i].top + win[i].rows; ++y) below += RowBelow(t, win[i], y, top);
        before[i] = win[i].rows * win[i].columns / 2;
        top = p[i] = Seek(t, win[i], top, below, before[i]);
        out[i] = (uint16_t)(t.keys[p[i]] >> 16);
    }
    for (int y = oy0 + 1; y < oy1; ++y) {
        ++cy;
        bool leaves = cy - ry - 1 >= 0, comes = cy + ry < t.h;  // the top row, a row at the bottom
        uint16_t* row = out + (std::size_t)(y - oy0) * stride;
        for (int i = 0; i < Lanes; ++i) {
            if (leaves) {
                before[i] -= RowBelow(t, win[i], win[i].top, p[i]);
                ++win[i].top;
                --win[i].rows;
            }
            if (comes) {
                before[i] += RowBelow(t, win[i], cy + ry, p[i]);
                ++win[i].rows;
            }
            int rank = win[i].rows * win[i].columns / 2;
            p[i] = Seek(t, win[i], p[i], before[i], rank);
            before[i] = rank;
            row[i] = (uint16_t)(t.keys[p[i]] >> 16);
        }
    }
}

// The medians of output columns ox0 .. ox1-1 and rows oy0 .. oy1-1 of the tile whose first
// sample is image column x0, row y0; results go to out (stride apart, the first at oy0,
// ox0).
inline void TileMedians(const Tile& t, int rx, int ry, int ox0, int ox1, int oy0, int oy1, int x0, int y0,
                        uint16_t* out, std::size_t stride)
{
    constexpr int Lanes = 4;
    int top = 0, x = ox0;
    for (; x + Lanes <= ox1; x += Lanes)
        ColumnMedians<Lanes>(t, rx, ry, x, oy0, oy1, x0, y0, top, out + (x - ox0), stride);
    for (; x < ox1; ++x) ColumnMedians<1>(t, rx, ry, x, oy0, oy1, x0, y0, top, out + (x - ox0), stride);
}

// What one part of the image takes: its band's source rows and results, and a tile.
struct Part {
    Tile t;
    unsigned char* block;  // the tile's arrays
    uint16_t* source;      // the band's rows and radius more on either side
    uint16_t* results;
};

// The sizes of one part's buffers for bands of bandRows output rows and tiles of side.
struct PartSize {
    std::size_t span, tileBytes, sourceRows;
    PartSize(int rx, int ry, int width, int height, int bandRows, int side)
        : span((std::size_t)Least(width, side + 2 * rx) * (std::size_t)Least(height, bandRows + 2 * ry)),
          // the widest elements first; the vector loads may read past the last position
          // (16 more for the row counts, two words for the hops)
          tileBytes(span * 2 * sizeof(uint32_t) + (span + 16) * sizeof(uint16_t) + 2 * (span + 128)),
          sourceRows((std::size_t)Least(height, bandRows + 2 * ry))
    {
    }
};

inline bool Allocate(Part& part, const PartSize& size, int width, int bandRows)
{
    std::size_t span = size.span;
    auto* block = (unsigned char*)std::malloc(size.tileBytes);
    part.block = block;
    part.t.keys = (uint32_t*)block;
    part.t.spare = part.t.keys + span;
    part.t.position = (uint16_t*)(part.t.spare + span);
    part.t.row = (uint8_t*)(part.t.position + span + 16);
    part.t.column = part.t.row + span + 128;
    part.source = (uint16_t*)std::malloc(size.sourceRows * width * sizeof(uint16_t));
    part.results = (uint16_t*)std::malloc((std::size_t)bandRows * width * sizeof(uint16_t));
    return block && part.source && part.results;
}

// Output rows from .. to-1 in bands of bandRows and tiles of side; read(y, row) gives
// source row y as it was before any result went back.
template <typename Read>
void PartMedians(Part& part, int rx, int ry, int bandRows, int side, int from, int to, const Read& read)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    int first = Greatest(0, from - ry), loaded = first;  // source holds rows first .. loaded-1
    for (int oy0 = from; oy0 < to; oy0 += bandRows) {
        int oy1 = Least(to, oy0 + bandRows);
        int y0 = Greatest(0, oy0 - ry), y1 = Least(height, oy1 + ry);
        for (; loaded < y1; ++loaded) read(loaded, part.source + (std::size_t)(loaded - first) * width);
        const uint16_t* rows = part.source + (std::size_t)(y0 - first) * width;
        for (int ox0 = 0; ox0 < width; ox0 += side) {
            int ox1 = Least(width, ox0 + side);
            int x0 = Greatest(0, ox0 - rx), x1 = Least(width, ox1 + rx);
            SortTile(part.t, rows, (std::size_t)width, x0, x1 - x0, y1 - y0);
            TileMedians(part.t, rx, ry, ox0, ox1, oy0, oy1, x0, y0, part.results + ox0, (std::size_t)width);
        }
        // The next band's first rows are this one's last: keep them, then write back.
        int next = oy1 - ry;
        if (next > first) {
            std::memmove(part.source, part.source + (std::size_t)(next - first) * width,
                         (std::size_t)(loaded - next) * width * sizeof(uint16_t));
            first = next;
        }
        for (int y = oy0; y < oy1; ++y) ImgWriteRow(y, part.results + (std::size_t)(y - oy0) * width);
    }
}

// Medians of the whole 2-byte image, whose samples must be proven at most ImgLevelMax, in
// bands of BandRows output rows and tiles of as many columns (tile, when positive, sets
// their side for tests). The rows are shared among the worker threads in as many parts,
// each with its own buffers, together within about the budget of one.
void DenoiseByTileRanks(int radius, int tile)
{
    constexpr std::size_t TileBudget = std::size_t(1) << 19;  // for the tiles' arrays of every part
    int width = ImgImageWidth, height = ImgImageHeight;
    int rx = Least(radius, width - 1), ry = Least(radius, height - 1);
    int side = Side(rx, ry, tile);
    // Fewer parts where their share of the budget leaves too few rows, the image has fewer
    // bands than parts, or the tiles' arrays would outgrow theirs.
    int parts = RowParts<uint16_t>::Most(ry);
    int bandRows = BandRows(rx, ry, width, tile, RowsBudget / (std::size_t)parts);
    while (parts > 1
           && (bandRows == 0 || parts > height / bandRows
               || parts * PartSize(rx, ry, width, height, bandRows, side).tileBytes > TileBudget))
        bandRows = BandRows(rx, ry, width, tile, RowsBudget / (std::size_t)--parts);
    CHECK(bandRows > 0);

    RowParts<uint16_t> rows(parts, ry);
    Part part[MostWorkers];
    PartSize size(rx, ry, width, height, bandRows, side);
    bool allocated = true;
    for (int i = 0; i < parts; ++i) allocated = Allocate(part[i], size, width, bandRows) && allocated;
    auto release = [&] {
        for (int i = 0; i < parts; ++i) {
            std::free(part[i].results);
            std::free(part[i].source);
            std::free(part[i].block);
        }
    };
    if (!allocated) {
        release();  // the check below may not end the process (the Python module)
        CHECK(allocated);
    }
    auto read = [&](int y, uint16_t* row) { rows.Read(y, 0, width, row); };
    RunParts(parts, [&](int i) {
        PartMedians(part[i], rx, ry, bandRows, side, rows.From(i), rows.From(i + 1), read);
    });
    release();
}

}  // namespace tiles
using tiles::BandRows;
using tiles::DenoiseByTileRanks;
}  // namespace
