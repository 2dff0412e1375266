// gaussdraws.cpp - batches of normal variates: the portable path and the
// choice between it and the AVX-512 one.

#include "transforms/gaussdraws.h"

#include <cmath>

// Attempts run in this many independent lanes, lane l starting 4 l outputs
// after the batch's state and jumping 4 * GaussLanes outputs per step, so the
// attempts come out in order and the multiplications do not wait on each other.
constexpr int GaussLanes = 8;
static_assert(GaussBatchAttempts % GaussLanes == 0);

int DrawGaussBatchPortable(uint32_t& state, double deviation, double* values)
{
    constexpr uint32_t a1 = GaussJump(1), a2 = GaussJump(2), a3 = GaussJump(3), a4 = GaussJump(4);
    constexpr uint32_t step = GaussJump(4 * GaussLanes);
    uint32_t lane[GaussLanes];
    lane[0] = state;
    for (int l = 1; l < GaussLanes; ++l) lane[l] = GaussMulMod(lane[l - 1], a4);

    // The kept points; the count only grows, so a rejected point is written
    // and then overwritten, with no branch on the (unpredictable) test.
    double xs[GaussBatchAttempts], ys[GaussBatchAttempts], r2s[GaussBatchAttempts];
    int kept = 0;
    for (int j = 0; j < GaussBatchAttempts; j += GaussLanes) {
        double x[GaussLanes], y[GaussLanes], r2[GaussLanes];
        for (int l = 0; l < GaussLanes; ++l) {
            uint32_t s = lane[l];
            x[l] = 2.0 * GaussUniform(GaussMulMod(s, a1), GaussMulMod(s, a2)) - 1.0;
            y[l] = 2.0 * GaussUniform(GaussMulMod(s, a3), GaussMulMod(s, a4)) - 1.0;
            r2[l] = x[l] * x[l] + y[l] * y[l];
            lane[l] = GaussMulMod(s, step);
        }
        for (int l = 0; l < GaussLanes; ++l) {
            xs[kept] = x[l];
            ys[kept] = y[l];
            r2s[kept] = r2[l];
            kept += (r2[l] <= 1.0) & (r2[l] != 0.0);
        }
    }
    state = lane[0];

    for (int i = 0; i < kept; ++i) {
        double mult = std::sqrt(-2 * std::log(r2s[i]) / r2s[i]);
        values[2 * i] = ys[i] * mult * deviation + 0.0;
        values[2 * i + 1] = xs[i] * mult * deviation + 0.0;
    }
    return 2 * kept;
}

int ClampNoisyRunPortable(int* values, const double* noise, int count, int maximum)
{
    double largest = 0.0;
    for (int k = 0; k < count; ++k) {
        double value = ClampNoisyValue(values[k], noise[k], maximum);
        values[k] = (int)value;
        largest = largest > value ? largest : value;
    }
    return (int)largest;
}

// ---- Dispatch ----

int DrawGaussBatch(uint32_t& state, double deviation, double* values)
{
#ifdef GRAYFIX_X86
    if (GetPath<GaussPath>() == GaussAvx512) return DrawGaussBatchAvx512(state, deviation, values);
#endif
    return DrawGaussBatchPortable(state, deviation, values);
}

int ClampNoisyRun(int* values, const double* noise, int count, int maximum)
{
#ifdef GRAYFIX_X86
    if (GetPath<GaussPath>() == GaussAvx512) return ClampNoisyRunAvx512(values, noise, count, maximum);
#endif
    return ClampNoisyRunPortable(values, noise, count, maximum);
}
