// row_kernels.h - soften's row kernels: column sums, box sums and the rounded
// quotient of every pixel, loops the compiler vectorises. Included once by each vector
// path's source (soften.cpp, kernels_avx2.cpp, kernels_avx512.cpp), which compiles it for
// its target.
//
// Everything here has internal linkage on purpose: a shared inline function could be
// merged by the linker with a copy built for a wider target and then run where that
// target is missing. Hence no std::min/std::max either.
#pragma once

#include <cmath>
#include <cstdint>

#include "transforms/soften/kernels.h"

namespace {

__extension__ typedef __int128 SoftenInt128;

template <bool Squared, typename Acc, typename T> [[gnu::always_inline]] inline Acc Term(T value)
{
    return Squared ? (Acc)value * value : (Acc)value;
}

template <typename T, typename Acc, bool Squared> void AddTerms(Acc* columns, const T* row, int width)
{
    for (int x = 0; x < width; ++x) columns[x] += Term<Squared, Acc>(row[x]);
}

template <typename T, typename Acc, bool Squared> void RemoveTerms(Acc* columns, const T* row, int width)
{
    for (int x = 0; x < width; ++x) columns[x] -= Term<Squared, Acc>(row[x]);
}

// n / d for n >= 0, d > 0. Below 2^24 (float) or 2^53 (double) both are exact and the
// rounded quotient lies within 1/d of the true one, so it never reaches the next integer.
template <typename Acc, typename Real> [[gnu::always_inline]] inline Acc Quotient(Acc n, Acc d, Real dReal)
{
    if constexpr (sizeof(Acc) > 8)
        return n / d;
    else
        return (Acc)((Real)n / dReal);
}

// The box sum of window column x: 2*R+1 padded column sums, or box[x] when R is 0.
template <int R, typename Acc> [[gnu::always_inline]] inline Acc BoxAt(const Acc* padded, const Acc* box, int x)
{
    if constexpr (R == 1) return padded[x] + padded[x + 1] + padded[x + 2];
    if constexpr (R == 2) return padded[x] + padded[x + 1] + padded[x + 2] + padded[x + 3] + padded[x + 4];
    if constexpr (R == 0) return box[x];
}

template <int R, typename T, typename Acc, bool Squared, typename Real>
[[gnu::always_inline]] inline void FinishLoop(const Acc* padded, const Acc* box, const T* centre,
                                              const Acc* weightsum, const Real* divisor, Acc cw,
                                              Acc nw, Acc largest, T* out, int width)
{
    const int64_t largestSquared = (int64_t)largest * largest;
    for (int x = 0; x < width; ++x) {
        Acc c = Term<Squared, Acc>(centre[x]);
        // weightsum > 0 was checked, so >> 1 is the floor of half of it.
        Acc sum = nw * (BoxAt<R>(padded, box, x) - c) + cw * c + (weightsum[x] >> 1);
        Acc q = Quotient(sum < 0 ? Acc(0) : sum, weightsum[x], divisor[x]);  // S < 0 ends at 0
        if constexpr (Squared) {
            // The root of at most 65535^2 in double is exact to the integer below it.
            out[x] = (SoftenInt128)q >= largestSquared ? (T)largest : (T)std::sqrt((double)q);
        } else {
            out[x] = (T)(q < largest ? q : largest);
        }
    }
}

template <typename T, typename Acc, bool Squared>
void FinishRow(const Acc* padded, Acc* box, int rx, const T* centre, const Acc* weightsum,
               const typename SoftenRowKernels<T, Acc>::Real* divisor, Acc cw, Acc nw, Acc largest,
               T* out, int width)
{
    if (rx == 1) {
        FinishLoop<1, T, Acc, Squared>(padded, box, centre, weightsum, divisor, cw, nw, largest, out, width);
    } else if (rx == 2) {
        FinishLoop<2, T, Acc, Squared>(padded, box, centre, weightsum, divisor, cw, nw, largest, out, width);
    } else {  // running sums over 2*rx+1 column sums
        Acc sum = 0;
        for (int k = 0; k < 2 * rx; ++k) sum += padded[k];
        for (int x = 0; x < width; ++x) {
            sum += padded[x + 2 * rx];
            box[x] = sum;
            sum -= padded[x];
        }
        FinishLoop<0, T, Acc, Squared>(padded, box, centre, weightsum, divisor, cw, nw, largest, out, width);
    }
}

template <typename T, typename Acc, bool Squared> constexpr SoftenRowKernels<T, Acc> RowKernels()
{
    return {AddTerms<T, Acc, Squared>, RemoveTerms<T, Acc, Squared>, FinishRow<T, Acc, Squared>};
}

// This file's kernels as a table, for a constinit definition: no start-up code runs
// with a wider target's instructions.
constexpr SoftenKernels MakeSoftenKernels()
{
    return {
        {RowKernels<uint8_t, int32_t, false>(), RowKernels<uint8_t, int32_t, true>()},
        {RowKernels<uint8_t, int64_t, false>(), RowKernels<uint8_t, int64_t, true>()},
        {RowKernels<uint16_t, int32_t, false>(), RowKernels<uint16_t, int32_t, true>()},
        {RowKernels<uint16_t, int64_t, false>(), RowKernels<uint16_t, int64_t, true>()},
    };
}

}  // namespace
