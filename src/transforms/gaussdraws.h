// gaussdraws.h - the variates of std::normal_distribution<double> over
// std::minstd_rand0 as libstdc++ computes them, a batch of attempts at a time.
//
// The distribution (Marsaglia's polar method) takes two uniforms per attempt
// and keeps the attempt when the point lies in the unit circle (r2 <= 1, not
// 0); a kept attempt gives y * mult first and saves x * mult for the next
// call. Each uniform is generate_canonical<double, 53> of the engine, which
// needs two engine outputs of 31 bits: (o1 - 1) + (o2 - 1) * R, divided by
// R^2 as a double and kept below 1. So attempt j uses the four engine outputs
// 4j+1 .. 4j+4, which is what lets many attempts run at once: the engine
// x -> 16807 x mod (2^31 - 1) jumps n steps with one multiplication by
// 16807^n mod (2^31 - 1).
#pragma once

#include <cstdint>

#include "support/cpu.h"

// Polar-method attempts per batch; about 78.5 % of them are kept, each giving two variates.
constexpr int GaussBatchAttempts = 512;
constexpr int GaussBatchMaxValues = 2 * GaussBatchAttempts;

constexpr uint32_t GaussModulus = 2147483647u;  // 2^31 - 1, prime
constexpr uint32_t GaussMultiplier = 16807u;

// a * b mod 2^31 - 1 for a, b below 2^31: the 62-bit product folded once
// (2^31 = 1 modulo the modulus), then one conditional subtraction.
constexpr uint32_t GaussMulMod(uint32_t a, uint32_t b)
{
    uint64_t p = (uint64_t)a * b;
    uint64_t r = (p & GaussModulus) + (p >> 31);
    return (uint32_t)(r >= GaussModulus ? r - GaussModulus : r);
}

// 16807^n mod 2^31 - 1: the multiplier that moves the engine n steps.
constexpr uint32_t GaussJump(uint64_t n)
{
    uint64_t result = 1, base = GaussMultiplier;
    for (; n != 0; n >>= 1) {
        if (n & 1) result = result * base % GaussModulus;
        base = base * base % GaussModulus;
    }
    return (uint32_t)result;
}

// generate_canonical's constants for this engine: the range R = max - min + 1,
// and the divisor R * R, formed as it forms it (a double scaled by a long
// double R twice), which rounds R^2 down by 4; a sum can reach it, hence the
// clamp to the largest double below 1.
constexpr double GaussRange = 2147483646.0;
constexpr double GaussDivisor = [] {
    double t = 1.0;
    t *= (long double)GaussRange;
    t *= (long double)GaussRange;
    return t;
}();
constexpr double GaussBelowOne = 1.0 - 0x1p-53;
static_assert(GaussDivisor == 4611686009837453312.0);

// The engine state after seeding with seed, as minstd_rand0 does it.
constexpr uint32_t GaussSeedState(unsigned long seed)
{
    auto state = (uint32_t)(seed % GaussModulus);
    return state == 0 ? 1 : state;
}

// One uniform in [0, 1) from two consecutive engine outputs.
inline double GaussUniform(uint32_t first, uint32_t second)
{
    double sum = (double)(first - 1);
    sum += (double)(second - 1) * GaussRange;
    double u = sum / GaussDivisor;
    return u >= 1.0 ? GaussBelowOne : u;
}

// Runs GaussBatchAttempts attempts from the engine state (advancing it by four
// outputs per attempt) and writes the variates of the kept ones in the order
// the distribution hands them out, each already scaled as the distribution
// scales it (v * deviation + 0.0). Returns how many (even, at most
// GaussBatchMaxValues).
int DrawGaussBatch(uint32_t& state, double deviation, double* values);

// values[k] = ClampNoisy(values[k], values[k] + noise[k], maximum) for every
// k below count (values 0..65535, maximum below 2^16); returns the largest
// result, or 0 when count is 0.
int ClampNoisyRun(int* values, const double* noise, int count, int maximum);

// The portable form of one ClampNoisyRun value, without branches or calls. A
// sum beyond -1 or maximum + 1 rounds beyond the range as that bound does, so
// clamping it there first keeps the result and lets a plain conversion
// truncate it; the fraction left is exact and decides the rounding away from
// zero at a half.
inline double ClampNoisyValue(double value, double noise, double maximum)
{
    double sum = value + noise;
    double bounded = sum > maximum + 1.0 ? maximum + 1.0 : sum;
    bounded = bounded < -1.0 ? -1.0 : bounded;
    bounded = sum == sum ? bounded : value;  // NaN: the value stays
    double truncated = (double)(int)bounded;
    double fraction = bounded - truncated;
    double rounded = truncated + (fraction >= 0.5 ? 1.0 : 0.0) - (fraction <= -0.5 ? 1.0 : 0.0);
    rounded = rounded < 0.0 ? 0.0 : rounded;
    return rounded > maximum ? maximum : rounded;
}

// The batch is made by plain code, or with AVX-512 (F, DQ) where the processor
// has it (GaussPath, support/cpu.h); both give the same bits. The logarithm is
// always the C library's scalar one, the one the distribution calls. The paths
// themselves, for the dispatcher in gaussdraws.cpp:
int DrawGaussBatchPortable(uint32_t& state, double deviation, double* values);
int ClampNoisyRunPortable(int* values, const double* noise, int count, int maximum);
#ifdef GRAYFIX_X86
int DrawGaussBatchAvx512(uint32_t& state, double deviation, double* values);
int ClampNoisyRunAvx512(int* values, const double* noise, int count, int maximum);
#endif
