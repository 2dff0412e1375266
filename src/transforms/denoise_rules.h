// denoise_rules.h - the four denoise rules, answered from what a window's counts can
// tell: its size, median, whether the centre is its least or greatest sample, how many
// samples equal the centre, and the nearest values above and below it. Shared by the
// running counts (denoise_hist.cpp) and the per-column counts (denoise_columns.h).
#pragma once

namespace {

// Not std::min and std::max: this file is also built for wider targets, and a shared
// inline function could be merged with such a copy and run where that target is missing.
template <typename T> constexpr T Least(T a, T b) { return b < a ? b : a; }
template <typename T> constexpr T Greatest(T a, T b) { return a < b ? b : a; }

// The new value for centre c. A centre at the minimum has no sample below it (s[0] = c),
// one at the maximum none above; equal is how many samples equal c, so s[1] = c when
// equal >= 2 and is otherwise the least value above c.
template <int Mode, typename W> int Choose(W& w, int c)
{
    long long n = Count(w);
    if (n == 1) return c;  // a 1x1 image: no second sample, so no rule can move the pixel
    if constexpr (Mode == 0) {
        return Median(w);
    } else {
        bool atMin = AtMin(w, c), atMax = !atMin && AtMax(w, c);
        if (!atMin && !atMax) return c;  // every rule leaves an inner centre alone
        long long equal = Equal(w, c);
        if constexpr (Mode == 1) {  // RCRS-1: only a centre alone at either end moves
            return equal == 1 ? Median(w) : c;
        } else if constexpr (Mode == 2) {  // s[1] for a centre at the minimum, else s[n-2]
            if (equal >= 2) return c;
            return atMin ? Above(w, c) : Below(w, c);
        } else {  // 3, RCRS-2: where the walk from s[1] up (or s[n-2] down) stops
            if (atMin) {
                long long i = Greatest(1LL, Least(equal, (n - 1) / 2));
                return i < equal ? c : Above(w, c);
            }
            long long i = Least(n - 2, Greatest(n / 2, n - 1 - equal));
            return i >= n - equal ? c : Below(w, c);
        }
    }
}

}  // namespace
