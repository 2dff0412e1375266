// gaussdraws_avx512.cpp - batches of normal variates with AVX-512 (F, DQ):
// eight attempts per step, the same arithmetic as the portable path, one IEEE
// operation for each of its operations, so the same bits.

#include "transforms/gaussdraws.h"

#ifdef GRAYFIX_X86

#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstring>

#define GRAYFIX_AVX512_TARGET __attribute__((target("avx512f,avx512dq")))

// Every lane. Operations whose plain intrinsics start from an "undefined"
// register are written in their zero-masked form with this mask: the same
// instruction, without the false uninitialised-use warning g++ 12 gives.
constexpr __mmask8 All = 0xFF;

// a * b mod 2^31 - 1 in each 64-bit lane, both below 2^31 (see GaussMulMod):
// r - modulus wraps to a huge value when r is already below it.
GRAYFIX_AVX512_TARGET static inline __m512i MulMod8(__m512i a, __m512i b)
{
    const __m512i modulus = _mm512_set1_epi64(GaussModulus);
    __m512i p = _mm512_maskz_mul_epu32(All, a, b);
    __m512i r = _mm512_add_epi64(_mm512_and_si512(p, modulus), _mm512_maskz_srli_epi64(All, p, 31));
    return _mm512_maskz_min_epu64(All, r, _mm512_sub_epi64(r, modulus));
}

// GaussUniform in each lane; min with the largest double below 1 is its clamp,
// since every quotient below 1 is at most that.
GRAYFIX_AVX512_TARGET static inline __m512d Uniform8(__m512i first, __m512i second)
{
    const __m512i one = _mm512_set1_epi64(1);
    __m512d sum = _mm512_cvtepi64_pd(_mm512_sub_epi64(first, one));
    __m512d high = _mm512_cvtepi64_pd(_mm512_sub_epi64(second, one));
    sum = _mm512_add_pd(sum, _mm512_mul_pd(high, _mm512_set1_pd(GaussRange)));
    __m512d u = _mm512_div_pd(sum, _mm512_set1_pd(GaussDivisor));
    return _mm512_maskz_min_pd(All, u, _mm512_set1_pd(GaussBelowOne));
}

GRAYFIX_AVX512_TARGET int DrawGaussBatchAvx512(uint32_t& state, double deviation, double* values)
{
    constexpr int Lanes = 8;
    // Constants, and no call of gaussdraws.h's inline functions: a copy of one built
    // here for AVX-512 could be the one the linker keeps for the portable path.
    constexpr uint32_t j1 = GaussJump(1), j2 = GaussJump(2), j3 = GaussJump(3), j4 = GaussJump(4);
    constexpr uint32_t jStep = GaussJump(4 * Lanes);
    const __m512i a1 = _mm512_set1_epi64(j1), a2 = _mm512_set1_epi64(j2);
    const __m512i a3 = _mm512_set1_epi64(j3), a4 = _mm512_set1_epi64(j4);
    const __m512i step = _mm512_set1_epi64(jStep);
    alignas(64) uint64_t start[Lanes];
    start[0] = state;
    for (int l = 1; l < Lanes; ++l) start[l] = start[l - 1] * j4 % GaussModulus;
    __m512i lane = _mm512_load_si512(start);

    // Kept points, compressed in order; the padding takes the full-width
    // stores of the last step and the last partial vector below.
    const __m512d one = _mm512_set1_pd(1.0), two = _mm512_set1_pd(2.0), zero = _mm512_setzero_pd();
    alignas(64) double xs[GaussBatchAttempts + Lanes], ys[GaussBatchAttempts + Lanes];
    alignas(64) double r2s[GaussBatchAttempts + Lanes], logs[GaussBatchAttempts + Lanes];
    int kept = 0;
    for (int j = 0; j < GaussBatchAttempts; j += Lanes) {
        __m512d x = _mm512_sub_pd(_mm512_mul_pd(two, Uniform8(MulMod8(lane, a1), MulMod8(lane, a2))), one);
        __m512d y = _mm512_sub_pd(_mm512_mul_pd(two, Uniform8(MulMod8(lane, a3), MulMod8(lane, a4))), one);
        __m512d r2 = _mm512_add_pd(_mm512_mul_pd(x, x), _mm512_mul_pd(y, y));
        lane = MulMod8(lane, step);
        __mmask8 in = _mm512_cmp_pd_mask(r2, one, _CMP_LE_OQ) & _mm512_cmp_pd_mask(r2, zero, _CMP_NEQ_OQ);
        // Compressing in a register and storing whole is much faster than a
        // compressing store on some processors (AMD Zen 4).
        _mm512_storeu_pd(xs + kept, _mm512_maskz_compress_pd(in, x));
        _mm512_storeu_pd(ys + kept, _mm512_maskz_compress_pd(in, y));
        _mm512_storeu_pd(r2s + kept, _mm512_maskz_compress_pd(in, r2));
        kept += __builtin_popcount(in);
    }
    alignas(64) uint64_t last[Lanes];
    _mm512_store_si512(last, lane);
    state = (uint32_t)last[0];

    for (int i = 0; i < kept; ++i) logs[i] = std::log(r2s[i]);
    for (int i = kept; i < kept + Lanes; ++i) xs[i] = ys[i] = logs[i] = 0.0, r2s[i] = 1.0;

    const __m512d minusTwo = _mm512_set1_pd(-2.0), scale = _mm512_set1_pd(deviation);
    const __m512i evens = _mm512_set_epi64(11, 3, 10, 2, 9, 1, 8, 0);
    const __m512i odds = _mm512_set_epi64(15, 7, 14, 6, 13, 5, 12, 4);
    alignas(64) double out[GaussBatchMaxValues + 2 * Lanes];
    for (int i = 0; i < kept; i += Lanes) {
        __m512d r2 = _mm512_load_pd(r2s + i);
        __m512d mult = _mm512_maskz_sqrt_pd(All, _mm512_div_pd(_mm512_mul_pd(minusTwo, _mm512_load_pd(logs + i)), r2));
        __m512d y = _mm512_add_pd(_mm512_mul_pd(_mm512_mul_pd(_mm512_load_pd(ys + i), mult), scale), zero);
        __m512d x = _mm512_add_pd(_mm512_mul_pd(_mm512_mul_pd(_mm512_load_pd(xs + i), mult), scale), zero);
        // y first, then the saved x, attempt by attempt.
        _mm512_store_pd(out + 2 * i, _mm512_permutex2var_pd(y, evens, x));
        _mm512_store_pd(out + 2 * i + Lanes, _mm512_permutex2var_pd(y, odds, x));
    }
    std::memcpy(values, out, sizeof(double) * (std::size_t)(2 * kept));
    return 2 * kept;
}

// ClampNoisyValue eight pixels at a time. Where a comparison meets a NaN sum
// the lane takes some bound, and then the value itself, as there.
GRAYFIX_AVX512_TARGET int ClampNoisyRunAvx512(int* values, const double* noise, int count, int maximum)
{
    const __m512d one = _mm512_set1_pd(1.0), half = _mm512_set1_pd(0.5), minusHalf = _mm512_set1_pd(-0.5);
    const __m512d low = _mm512_set1_pd(-1.0), high = _mm512_set1_pd(maximum + 1.0);
    const __m512d zero = _mm512_setzero_pd(), top = _mm512_set1_pd(maximum);
    __m512d largest = zero;
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        __m512d value = _mm512_maskz_cvtepi32_pd(All, _mm256_loadu_si256((const __m256i*)(values + k)));
        __m512d sum = _mm512_add_pd(value, _mm512_loadu_pd(noise + k));
        __m512d bounded = _mm512_maskz_max_pd(All, _mm512_maskz_min_pd(All, sum, high), low);
        bounded = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(sum, sum, _CMP_UNORD_Q), bounded, value);
        __m512d truncated = _mm512_maskz_cvtepi32_pd(All, _mm512_maskz_cvttpd_epi32(All, bounded));
        __m512d fraction = _mm512_sub_pd(bounded, truncated);
        __m512d rounded = _mm512_mask_add_pd(truncated, _mm512_cmp_pd_mask(fraction, half, _CMP_GE_OQ),
                                             truncated, one);
        rounded = _mm512_mask_sub_pd(rounded, _mm512_cmp_pd_mask(fraction, minusHalf, _CMP_LE_OQ),
                                     rounded, one);
        rounded = _mm512_maskz_min_pd(All, _mm512_maskz_max_pd(All, rounded, zero), top);
        largest = _mm512_maskz_max_pd(All, largest, rounded);
        _mm256_storeu_si256((__m256i*)(values + k), _mm512_maskz_cvttpd_epi32(All, rounded));
    }
    int most = ClampNoisyRunPortable(values + k, noise + k, count - k, maximum);
    alignas(64) double lanes[8];
    _mm512_store_pd(lanes, largest);
    for (double lane : lanes) most = most > (int)lane ? most : (int)lane;
    return most;
}

#endif  // GRAYFIX_X86
