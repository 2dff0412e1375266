// kernels.h - the table of soften's row kernels, one table per vector path; the
// kernels themselves are in row_kernels.h.
#pragma once

#include <cstdint>
#include <type_traits>

#include "support/cpu.h"

// The row steps of soften for samples T summed in Acc (the values, or their squares).
template <typename T, typename Acc> struct SoftenRowKernels {
    using Real = std::conditional_t<sizeof(Acc) == 4, float, double>;
    // columns[x] += the term of row[x], or -= for remove.
    void (*add)(Acc* columns, const T* row, int width);
    void (*remove)(Acc* columns, const T* row, int width);
    // One output row from the column sums: padded holds them at rx .. rx+width-1 with
    // rx zeros on each side; box is scratch of width entries. weightsum (positive) and
    // divisor (the same values as Real) are per column; largest is BppMask[Imgbpp].
    void (*finish)(const Acc* padded, Acc* box, int rx, const T* centre, const Acc* weightsum,
                   const Real* divisor, Acc cw, Acc nw, Acc largest, T* out, int width);
};

struct SoftenKernels {
    SoftenRowKernels<uint8_t, int32_t> bytes32[2];  // [squared]
    SoftenRowKernels<uint8_t, int64_t> bytes64[2];
    SoftenRowKernels<uint16_t, int32_t> words32[2];
    SoftenRowKernels<uint16_t, int64_t> words64[2];
};

#ifdef GRAYFIX_X86
extern const SoftenKernels SoftenKernelsAvx2;
extern const SoftenKernels SoftenKernelsAvx512;
#endif
