// soften.cpp - Soften and soften-squared: every pixel becomes the weighted mean of its
// window (the pixel itself weighted centerweight, the others neighborweight), of the
// intensities or of their squares followed by the integer square root.
//
// A window's weighted sum is neighborweight * (box sum - centre) + centerweight * centre,
// and the box sums come from running column sums, so the cost does not grow with the
// radius. Everything stays exact: the accumulator is the narrowest of 32, 64 and 128 bits
// that provably holds every sum, and a float or double division is used only where it is
// proven to give the integer quotient.

#include "transforms/soften/soften.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <type_traits>

#include "driver/console.h"
#include "image/image.h"
#include "support/cpu.h"
#include "transforms/soften/row_kernels.h"  // the baseline build of the row kernels
#include "transforms/window_rows.h"

__extension__ typedef __int128 Int128;

// Number of window positions inside [0, size) along one axis, radius already clipped
// to size - 1 so nothing overflows.
static long long WindowSpan(int p, int radius, int size)
{
    return (long long)std::min(radius, p) + std::min(radius, size - 1 - p) + 1;
}

// The exact weightsum of a window with that many positions inside the image; it can
// exceed 32 bits when the weights are large.
static Int128 WindowWeightSum(long long positions, int centerweight, int neighborweight)
{
    return centerweight + (Int128)(positions - 1) * neighborweight;
}

// Stops when the weightsum of a window with that many positions is negative or zero (a
// zero divisor has no mean).
static void CheckWeightSum(long long positions, int centerweight, int neighborweight)
{
    Int128 weightsum = WindowWeightSum(positions, centerweight, neighborweight);
    CHECK(weightsum>=0);
    CHECK(weightsum>0);
}

// Stops, in scan order, at the first window whose weightsum is negative or zero. Rows with as many window rows inside the image as the row
// before have the same weightsums, so each run of such rows is checked once.
static void CheckWeightSums(int rx, int ry, int centerweight, int neighborweight)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    long long previous = -1;
    for (int y = 0; y < height; ++y) {
        long long rowsIn = WindowSpan(y, ry, height);
        if (rowsIn == previous) continue;
        previous = rowsIn;
        for (int x = 0; x < width; ++x)
            CheckWeightSum(rowsIn * WindowSpan(x, rx, width), centerweight, neighborweight);
    }
}

// The row kernels of the vector path chosen for this run. Sums that need 128 bits come
// from extreme weights only; they take the baseline build.
template <typename T, typename Acc, bool Squared> static SoftenRowKernels<T, Acc> RowKernelsForRun()
{
    if constexpr (sizeof(Acc) > 8) {
        return RowKernels<T, Acc, Squared>();
    } else {
        static constexpr SoftenKernels baseline = MakeSoftenKernels();
        const SoftenKernels* kernels =
            &GRAYFIX_PATH_TABLE(baseline, SoftenKernelsAvx2, SoftenKernelsAvx512);
        if constexpr (sizeof(T) == 1 && sizeof(Acc) == 4) return kernels->bytes32[Squared];
        if constexpr (sizeof(T) == 1 && sizeof(Acc) == 8) return kernels->bytes64[Squared];
        if constexpr (sizeof(T) == 2 && sizeof(Acc) == 4) return kernels->words32[Squared];
        if constexpr (sizeof(T) == 2 && sizeof(Acc) == 8) return kernels->words64[Squared];
    }
}

// What one part of the rows takes: its results, written back once row y + ry + 1 has
// taken their old values out of the sums, the column sums and the work of a row.
template <typename T, typename Acc> struct SoftenPart {
    using Real = typename SoftenRowKernels<T, Acc>::Real;
    SoftenPart(const RowParts<T>& parts, int part, int rx, int ry)
        : results(ry + 1, 0, ImgImageWidth, 0, parts.From(part), parts.From(part + 1)),
          work(Padded(rx) + 2 * (std::size_t)ImgImageWidth), divisor((std::size_t)ImgImageWidth),
          rows(2 * (std::size_t)ImgImageWidth)
    {
    }
    static std::size_t Padded(int rx) { return (std::size_t)ImgImageWidth + 2 * (std::size_t)rx; }
    ResultRows<T> results;
    Samples<Acc> work;
    Samples<Real> divisor;
    Samples<T> rows;
};

// Output rows from .. to-1.
template <typename T, typename Acc, bool Squared>
static void SoftenRows(int rx, int ry, int centerweight, int neighborweight, SoftenPart<T, Acc>& part,
                       const RowParts<T>& parts, int from, int to)
{
    const SoftenRowKernels<T, Acc> kernels = RowKernelsForRun<T, Acc, Squared>();
    using Real = typename SoftenRowKernels<T, Acc>::Real;
    int width = ImgImageWidth, height = ImgImageHeight;
    std::size_t paddedSize = SoftenPart<T, Acc>::Padded(rx);
    Acc* padded = part.work.Data();  // column sums at rx .. rx+width-1
    Acc* box = padded + paddedSize;
    Acc* weightsum = box + width;
    Real* divisor = part.divisor.Data();
    T* row = part.rows.Data();
    T* centre = row + width;
    std::fill(padded, padded + paddedSize, Acc(0));
    Acc* columns = padded + rx;
    const Acc cw = centerweight, nw = neighborweight;
    const Acc largest = (Acc)BppMask[Imgbpp];

    auto addRow = [&](int y) {
        parts.Read(y, 0, width, row);
        kernels.add(columns, row, width);
    };
    auto removeRow = [&](int y) {
        parts.Read(y, 0, width, row);
        kernels.remove(columns, row, width);
    };

    long long previousRows = -1;
    for (int y = from; y < to; ++y) {
        if (y == from) {
            for (int k = y - std::min(ry, y); k <= y + std::min(ry, height - 1 - y); ++k) addRow(k);
        } else {
            if (ry < height - y) addRow(y + ry);
            if (y - ry - 1 >= 0) removeRow(y - ry - 1);
        }
        long long rowsIn = WindowSpan(y, ry, height);
        if (rowsIn != previousRows) {  // the bounds make every weightsum fit Acc and Real exactly
            previousRows = rowsIn;
            for (int x = 0; x < width; ++x) {
                weightsum[x] = (Acc)WindowWeightSum(rowsIn * WindowSpan(x, rx, width),
                                                    centerweight, neighborweight);
                divisor[x] = (Real)weightsum[x];
            }
        }
        parts.Read(y, 0, width, centre);
        kernels.finish(padded, box, rx, centre, weightsum, divisor, cw, nw, largest, part.results.Row(y),
                       width);
        part.results.Done(y);
    }
    part.results.Flush();
}

// The rows are shared among the worker threads in parts, each with its own sums.
template <typename T, typename Acc, bool Squared>
static void SoftenParts(int rx, int ry, int centerweight, int neighborweight)
{
    RowParts<T> parts(RowParts<T>::Most(ry), ry);
    RunRowParts<SoftenPart<T, Acc>>(
        parts,
        [&](SoftenPart<T, Acc>& part, int from, int to) {
            SoftenRows<T, Acc, Squared>(rx, ry, centerweight, neighborweight, part, parts, from, to);
        },
        rx, ry);
}

template <typename T>
static void SoftenImage(int radius, int centerweight, int neighborweight, bool squared)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    // A window never reaches past the image, so clipping the radius per axis keeps every window.
    int rx = std::min(radius, width - 1), ry = std::min(radius, height - 1);
    if (ImgSamplesInRange()) {
        CheckWeightSums(rx, ry, centerweight, neighborweight);
    } else {
        ReplayWindowReads(rx, ry, [&](int x, int y) {
            CheckWeightSum(WindowSpan(y, ry, height) * WindowSpan(x, rx, width), centerweight,
                           neighborweight);
        });
    }

    // |S| <= top * positions * (|centerweight| + |neighborweight|) and every other
    // quantity is below the same bound (at most 2^126, so Int128 holds it).
    Int128 top = std::min<int>(ImgLevelMax, sizeof(T) == 1 ? 0xFF : 0xFFFF);
    if (squared) top *= top;
    Int128 positions = (Int128)std::min(2LL * rx + 1, (long long)width) * std::min(2LL * ry + 1, (long long)height);
    Int128 weights = (Int128)std::abs((long long)centerweight) + std::abs((long long)neighborweight);
    Int128 bound = top * positions * (weights + 1) + positions * weights + 1;
    auto run = [&]<typename Acc>() {
        if (squared)
            SoftenParts<T, Acc, true>(rx, ry, centerweight, neighborweight);
        else
            SoftenParts<T, Acc, false>(rx, ry, centerweight, neighborweight);
    };
    if (bound < (Int128)1 << 24)
        run.template operator()<int32_t>();
    else if (bound < (Int128)1 << 53)
        run.template operator()<int64_t>();
    else
        run.template operator()<Int128>();
}

static void Soften(int radius, int centerweight, int neighborweight, bool squared)
{
    CHECK(radius>0);
    if (ImgBYTEpp == 1)
        SoftenImage<uint8_t>(radius, centerweight, neighborweight, squared);
    else
        SoftenImage<uint16_t>(radius, centerweight, neighborweight, squared);
}

void ImgTransformSoften(int radius, int centerweight, int neighborweight)
{
    Soften(radius, centerweight, neighborweight, false);
    PrintMsg("\nSoftened with radius  %d, centerweight  %d, neighborweight %d", radius, centerweight,
             neighborweight);
}

void ImgTransformSoftenSquared(int radius, int centerweight, int neighborweight)
{
    Soften(radius, centerweight, neighborweight, true);
    PrintMsg("\nSoftened using squared pixel values with radius  %d, centerweight  %d, neighborweight %d",
             radius, centerweight, neighborweight);
}
