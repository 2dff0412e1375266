// rules.h - the four denoise rules (0 upper median, 1 RCRS-1, 2 second extreme, 3 RCRS-2),
// the one definition every engine uses: Choose asks a window only what its counts or its
// gathered samples can tell, and ChooseFull is the same rules in the branch-free form
// that the full 3x3 and 5x5 row kernels compute.
//
// Internal linkage on purpose: this file is also built for wider targets, and a shared
// inline function could be merged with such a copy and run where that target is missing.
// Hence no std::min and std::max either.
#pragma once

namespace {

template <typename T> [[gnu::always_inline]] constexpr T Least(T a, T b) { return b < a ? b : a; }
template <typename T> [[gnu::always_inline]] constexpr T Greatest(T a, T b) { return a < b ? b : a; }

// The new value for centre c among the n samples of window w, which answers Count(w),
// Median(w) (s[n/2] of the samples s in ascending order), AtMin(w, c) and AtMax(w, c)
// (no sample below, or above, c), Equal(w, c) (how many equal c), and Above(w, c) and
// Below(w, c) (the nearest values above and below c). A centre at the minimum has
// s[0] = c, so s[1] = c when equal >= 2 and is otherwise the least value above c.
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

// Choose for a full window of an odd number of samples (9 or 25), from its median med
// (s[n/2], the lower median too), the least and greatest of the other samples mn and mx,
// and for mode 3 the least sample above c, nx, and the greatest below, pv. A centre alone
// at the minimum is below mn, one sharing it equals mn; s[1] is then mn, so mode 2 clamps
// c into [mn, mx]; mode 3 stops at nx unless the copies of c reach the median, in which
// case med = c = min(med, nx).
template <typename T, int Mode>
[[gnu::always_inline]] inline T ChooseFull(T c, T med, T mn, T mx, T nx, T pv)
{
    if constexpr (Mode == 0) return med;
    if constexpr (Mode == 1) return c < mn || c > mx ? med : c;
    if constexpr (Mode == 2) return Least(Greatest(c, mn), mx);
    if constexpr (Mode == 3) return c <= mn ? Least(med, nx) : c >= mx ? Greatest(med, pv) : c;
}

// f.template operator()<Mode>() for the mode 0..3 (a larger one counts as 3: the entry
// point has refused it before): every engine is compiled once per rule.
template <typename F> void WithMode(int mode, F&& f)
{
    switch (mode) {
    case 0: f.template operator()<0>(); break;
    case 1: f.template operator()<1>(); break;
    case 2: f.template operator()<2>(); break;
    default: f.template operator()<3>(); break;
    }
}

}  // namespace
