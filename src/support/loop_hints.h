// loop_hints.h - compiler hints for hot loops whose iterations are independent.
#pragma once

// GRAYFIX_IVDEP goes right before a `for` whose iterations neither read nor write
// each other's results (the row buffers never alias), so g++ may vectorize
// without run-time overlap checks. clang gets no hint: its equivalent,
// `loop vectorize(assume_safety)`, turns into a warning wherever the loop body
// cannot be vectorized at all (the 5x5 network), and its vectorizer adds the
// overlap checks itself.
#if defined(__GNUC__) && !defined(__clang__)
#define GRAYFIX_IVDEP _Pragma("GCC ivdep")
#else
#define GRAYFIX_IVDEP
#endif
