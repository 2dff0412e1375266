// crc32_clmul.cpp - whole-buffer CRC-32 by carry-less multiplication folding
// (PCLMULQDQ, and VPCLMULQDQ on 512-bit registers), for the x86-64 processors
// that have it; crc32.cpp chooses the path and finishes the tail bytes.

#include "support/crc32.h"

#ifdef GRAYFIX_X86

#include <immintrin.h>

// ---- Folding with PCLMULQDQ ----
//
// The buffer is treated as a polynomial over GF(2) and folded 64 bytes at a
// time in four 128-bit lanes: multiplying the two halves of a lane by
// x^(d+32) and x^(d-32) mod P moves it d bits on, where it is XORed into the
// data. The lanes are then folded into one, reduced to 64 bits and finally to
// the 32-bit CRC by Barrett reduction (Intel's white paper "Fast CRC
// Computation for Generic Polynomials Using PCLMULQDQ"). Each constant is
// x^n mod P bit-reflected and shifted left by one, for the reflected
// polynomial 0xEDB88320.

#define GRAYFIX_CLMUL_TARGET __attribute__((target("pclmul,ssse3,sse4.1")))

// Loads 16 bytes; with Swap the two bytes of every 16-bit sample trade places.
template <bool Swap>
GRAYFIX_CLMUL_TARGET static inline __m128i Load16(const unsigned char* p)
{
    __m128i v = _mm_loadu_si128((const __m128i*)p);
    if constexpr (Swap)
        v = _mm_shuffle_epi8(v, _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
    return v;
}

// lane * x^k1 (low half) + lane * x^k2 (high half) + next, with the two
// constants in the halves of k.
GRAYFIX_CLMUL_TARGET static inline __m128i Fold128(__m128i lane, __m128i k, __m128i next)
{
    __m128i low = _mm_clmulepi64_si128(lane, k, 0x00);
    __m128i high = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// Folds four lanes of 128 bits (the last 64 bytes read, in order) into one,
// goes on with the remaining multiple-of-16 bytes, and reduces the result to
// the running CRC.
template <bool Swap>
GRAYFIX_CLMUL_TARGET static inline uint32_t FinishLanes(__m128i x1, __m128i x2, __m128i x3,
                                                        __m128i x4, const unsigned char* data,
                                                        std::size_t n)
{
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);  // x^(128-32), x^(128+32)
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);                // x^64
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);   // Barrett: mu, P
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);

    x1 = Fold128(x1, k3k4, x2);
    x1 = Fold128(x1, k3k4, x3);
    x1 = Fold128(x1, k3k4, x4);
    for (; n >= 16; n -= 16, data += 16) x1 = Fold128(x1, k3k4, Load16<Swap>(data));

    // 128 bits to 64, then 64 to the 32-bit remainder.
    __m128i t = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), t);
    t = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00), t);
    t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
    x1 = _mm_xor_si128(x1, t);
    return (uint32_t)_mm_extract_epi32(x1, 1);
}

// Folds the multiple-of-16 length n >= 64 of a buffer; returns the running CRC.
template <bool Swap>
GRAYFIX_CLMUL_TARGET static uint32_t UpdateClmulBlocks(uint32_t crc, const unsigned char* data,
                                                       std::size_t n)
{
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);  // x^(512-32), x^(512+32)
    __m128i x1 = _mm_xor_si128(Load16<Swap>(data), _mm_cvtsi32_si128((int)crc));
    __m128i x2 = Load16<Swap>(data + 16);
    __m128i x3 = Load16<Swap>(data + 32);
    __m128i x4 = Load16<Swap>(data + 48);
    data += 64;
    n -= 64;
    for (; n >= 64; n -= 64, data += 64) {
        x1 = Fold128(x1, k1k2, Load16<Swap>(data));
        x2 = Fold128(x2, k1k2, Load16<Swap>(data + 16));
        x3 = Fold128(x3, k1k2, Load16<Swap>(data + 32));
        x4 = Fold128(x4, k1k2, Load16<Swap>(data + 48));
    }
    return FinishLanes<Swap>(x1, x2, x3, x4, data, n);
}

// The same folding four 512-bit registers at a time (VPCLMULQDQ with AVX-512):
// 256 bytes per step, then the registers are folded into one, whose four
// 128-bit lanes are exactly the four lanes above.
#define GRAYFIX_VCLMUL_TARGET \
    __attribute__((target("avx512f,avx512bw,avx512vl,vpclmulqdq,pclmul,ssse3,sse4.1")))

template <bool Swap>
GRAYFIX_VCLMUL_TARGET static inline __m512i Load64(const unsigned char* p)
{
    __m512i v = _mm512_loadu_si512(p);
    if constexpr (Swap) {
        // Byte indexes 1, 0, 3, 2, ... 15, 14 in every 128-bit lane.
        constexpr long long low = 0x0607040502030001, high = 0x0E0F0C0D0A0B0809;
        v = _mm512_shuffle_epi8(v, _mm512_set_epi64(high, low, high, low, high, low, high, low));
    }
    return v;
}

GRAYFIX_VCLMUL_TARGET static inline __m512i Fold512(__m512i lanes, __m512i k, __m512i next)
{
    __m512i low = _mm512_clmulepi64_epi128(lanes, k, 0x00);
    __m512i high = _mm512_clmulepi64_epi128(lanes, k, 0x11);
    return _mm512_ternarylogic_epi64(low, high, next, 0x96);  // three-way XOR
}

// n >= 256 and a multiple of 16.
template <bool Swap>
GRAYFIX_VCLMUL_TARGET static uint32_t UpdateVclmulBlocks(uint32_t crc, const unsigned char* data,
                                                         std::size_t n)
{
    // (GCC 12 warns about its own headers for the broadcast, insert and
    // extract intrinsics, so the constants are spelled out and the lanes
    // leave through memory.)
    constexpr long long k2080 = 0x011542778a, k2016 = 0x01322d1430;  // x^(2048+32), x^(2048-32)
    constexpr long long k544 = 0x0154442bd4, k480 = 0x01c6e41596;
    const __m512i k2048 = _mm512_set_epi64(k2016, k2080, k2016, k2080, k2016, k2080, k2016, k2080);
    const __m512i k512 = _mm512_set_epi64(k480, k544, k480, k544, k480, k544, k480, k544);
    __m512i a0 = _mm512_xor_si512(Load64<Swap>(data),
                                  _mm512_set_epi32(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, (int)crc));
    __m512i a1 = Load64<Swap>(data + 64);
    __m512i a2 = Load64<Swap>(data + 128);
    __m512i a3 = Load64<Swap>(data + 192);
    data += 256;
    n -= 256;
    for (; n >= 256; n -= 256, data += 256) {
        a0 = Fold512(a0, k2048, Load64<Swap>(data));
        a1 = Fold512(a1, k2048, Load64<Swap>(data + 64));
        a2 = Fold512(a2, k2048, Load64<Swap>(data + 128));
        a3 = Fold512(a3, k2048, Load64<Swap>(data + 192));
    }
    a0 = Fold512(a0, k512, a1);
    a0 = Fold512(a0, k512, a2);
    a0 = Fold512(a0, k512, a3);
    for (; n >= 64; n -= 64, data += 64) a0 = Fold512(a0, k512, Load64<Swap>(data));
    alignas(64) __m128i lanes[4];
    _mm512_store_si512(lanes, a0);
    return FinishLanes<Swap>(lanes[0], lanes[1], lanes[2], lanes[3], data, n);
}

template <bool Swap>
static uint32_t UpdateClmul(uint32_t crc, const unsigned char* data, std::size_t n, bool wide)
{
    return wide && n >= 256 ? UpdateVclmulBlocks<Swap>(crc, data, n)
                            : UpdateClmulBlocks<Swap>(crc, data, n);
}

uint32_t UpdateCRC32Clmul(uint32_t crc, const unsigned char* data, std::size_t n, bool wide)
{
    return UpdateClmul<false>(crc, data, n, wide);
}

uint32_t UpdateCRC32ClmulSwapped16(uint32_t crc, const unsigned char* data, std::size_t n, bool wide)
{
    return UpdateClmul<true>(crc, data, n, wide);
}

#endif  // GRAYFIX_X86
