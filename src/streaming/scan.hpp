// The scans over runs of doubles that the buffers' flushes and the chart syncs share: the smallest
// and largest finite value of a run, and where they first occur. Header-only, so that
// larkui.plotdeck folds a StreamBuffer's history with the same code, without linking to it.
//
// The first pass keeps four running extremes side by side and takes no branch per value, so the
// compiler can turn it into vector instructions; the second pass, which finds where an extreme
// first occurs, runs only when a position is asked for.
#pragma once

#include "compat.hpp"

#include <limits>

// SSE2, which every x86-64 processor has, with the intrinsics that GCC, Clang and MSVC share;
// elsewhere the plain loop below.
#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64)
#include <emmintrin.h>
#define LARK_SCAN_SSE2 1
#endif

namespace streaming::scan {

// NaN and ±inf give NaN here, which compares unequal to anything.
inline bool finite(double v) noexcept { return v - v == 0.0; }

// A contiguous run of samples: y values, with their x values when x counts too (a sample whose x
// is not finite is a gap, whatever its y).
struct Run {
    const double* x;  // may be null: only y is looked at
    const double* y;
    Py_ssize_t n;
};

// The extremes of the finite values of a run, or of several runs folded in order.
struct Extremes {
    bool found = false;  // some value was finite
    bool gap = false;    // some sample was not drawable
    double lo = 0.0, hi = 0.0;

    // Folds a later run's extremes in: on equal values the earlier one stays, as min() and max() keep
    // the first of equal values.
    void take(const Extremes& later) noexcept {
        gap = gap || later.gap;
        if (!later.found) return;
        if (!found || later.lo < lo) lo = later.lo;
        if (!found || later.hi > hi) hi = later.hi;
        found = true;
    }
};

namespace detail {

// 0 for a drawable sample, NaN for one whose y (or x) is NaN or infinite.
template <bool WithX>
inline double badness(const double* x, const double* y, Py_ssize_t i) noexcept {
    if constexpr (WithX)
        return (y[i] - y[i]) + (x[i] - x[i]);
    else
        return y[i] - y[i];
}

// Arithmetic and compares only, no branch, so that the loop runs on vector instructions: a value
// that cannot be drawn enters as NaN, which neither comparison takes (the minimum and maximum
// instructions keep their second operand then), and makes its lane's `bad` sum NaN. (v + z turns
// -0.0 into 0.0; first_of_equal gives a zero its sign back.)
template <bool WithX>
inline Extremes fold(const double* x, const double* y, Py_ssize_t n) noexcept {
    constexpr double inf = std::numeric_limits<double>::infinity();
    double lo[4] = {inf, inf, inf, inf}, hi[4] = {-inf, -inf, -inf, -inf}, bad[4] = {0.0, 0.0, 0.0, 0.0};
    Py_ssize_t i = 0;
#if LARK_SCAN_SSE2
    __m128d lo0 = _mm_set1_pd(inf), lo1 = lo0, hi0 = _mm_set1_pd(-inf), hi1 = hi0;
    __m128d bad0 = _mm_setzero_pd(), bad1 = bad0;
    for (; i + 4 <= n; i += 4) {
        const __m128d y0 = _mm_loadu_pd(y + i), y1 = _mm_loadu_pd(y + i + 2);
        __m128d z0 = _mm_sub_pd(y0, y0), z1 = _mm_sub_pd(y1, y1);
        if constexpr (WithX) {
            const __m128d x0 = _mm_loadu_pd(x + i), x1 = _mm_loadu_pd(x + i + 2);
            z0 = _mm_add_pd(z0, _mm_sub_pd(x0, x0));
            z1 = _mm_add_pd(z1, _mm_sub_pd(x1, x1));
        }
        const __m128d v0 = _mm_add_pd(y0, z0), v1 = _mm_add_pd(y1, z1);
        lo0 = _mm_min_pd(v0, lo0);
        lo1 = _mm_min_pd(v1, lo1);
        hi0 = _mm_max_pd(v0, hi0);
        hi1 = _mm_max_pd(v1, hi1);
        bad0 = _mm_add_pd(bad0, z0);
        bad1 = _mm_add_pd(bad1, z1);
    }
    _mm_storeu_pd(lo, lo0);
    _mm_storeu_pd(lo + 2, lo1);
    _mm_storeu_pd(hi, hi0);
    _mm_storeu_pd(hi + 2, hi1);
    _mm_storeu_pd(bad, bad0);
    _mm_storeu_pd(bad + 2, bad1);
#else
    for (; i + 4 <= n; i += 4) {
        for (int j = 0; j < 4; ++j) {
            const double z = badness<WithX>(x, y, i + j);
            const double v = y[i + j] + z;
            lo[j] = v < lo[j] ? v : lo[j];
            hi[j] = v > hi[j] ? v : hi[j];
            bad[j] += z;
        }
    }
#endif
    for (; i < n; ++i) {
        const double z = badness<WithX>(x, y, i);
        const double v = y[i] + z;
        lo[0] = v < lo[0] ? v : lo[0];
        hi[0] = v > hi[0] ? v : hi[0];
        bad[0] += z;
    }
    Extremes e;
    e.gap = !(bad[0] + bad[1] + bad[2] + bad[3] == 0.0);
    for (int j = 0; j < 4; ++j) {
        if (lo[j] <= hi[j]) {  // the lane saw a drawable value
            if (!e.found || lo[j] < e.lo) e.lo = lo[j];
            if (!e.found || hi[j] > e.hi) e.hi = hi[j];
            e.found = true;
        }
    }
    return e;
}

}  // namespace detail

// The extremes of a run's drawable values.
inline Extremes extremes(const Run& r) noexcept {
    return r.x ? detail::fold<true>(r.x, r.y, r.n) : detail::fold<false>(r.y, r.y, r.n);
}

// The extremes of a run's finite y values, `gap` left unset: the minimum and maximum instructions
// skip NaN by themselves (they keep their second operand), so only a run that holds an infinity,
// which they would take, needs the fold that leaves it out.
inline Extremes value_extremes(const double* y, Py_ssize_t n) noexcept {
#if LARK_SCAN_SSE2
    constexpr double inf = std::numeric_limits<double>::infinity();
    __m128d lo[4], hi[4];
    for (int j = 0; j < 4; ++j) {
        lo[j] = _mm_set1_pd(inf);
        hi[j] = _mm_set1_pd(-inf);
    }
    Py_ssize_t i = 0;
    for (; i + 8 <= n; i += 8) {
        for (int j = 0; j < 4; ++j) {
            const __m128d v = _mm_loadu_pd(y + i + 2 * j);
            lo[j] = _mm_min_pd(v, lo[j]);
            hi[j] = _mm_max_pd(v, hi[j]);
        }
    }
    double l[8], h[8];
    for (int j = 0; j < 4; ++j) {
        _mm_storeu_pd(l + 2 * j, lo[j]);
        _mm_storeu_pd(h + 2 * j, hi[j]);
    }
    Extremes e;
    for (int j = 0; j < 8; ++j) {
        e.lo = j == 0 || l[j] < e.lo ? l[j] : e.lo;
        e.hi = j == 0 || h[j] > e.hi ? h[j] : e.hi;
    }
    for (; i < n; ++i) {
        e.lo = y[i] < e.lo ? y[i] : e.lo;
        e.hi = y[i] > e.hi ? y[i] : e.hi;
    }
    if (e.lo == -inf || e.hi == inf) return detail::fold<false>(y, y, n);
    e.found = e.lo <= e.hi;
    return e;
#else
    return detail::fold<false>(y, y, n);
#endif
}

// The extremes of a run's drawable y values (x and y finite), `gap` left unset. As
// value_extremes, with x * 0, NaN exactly where x is not finite, summed up beside: a run where it
// comes out NaN, or that holds an infinite y, goes through the exact fold.
inline Extremes drawable_extremes(const double* x, const double* y, Py_ssize_t n) noexcept {
#if LARK_SCAN_SSE2
    constexpr double inf = std::numeric_limits<double>::infinity();
    __m128d lo[2], hi[2], bad[2];
    for (int j = 0; j < 2; ++j) {
        lo[j] = _mm_set1_pd(inf);
        hi[j] = _mm_set1_pd(-inf);
        bad[j] = _mm_setzero_pd();
    }
    const __m128d zero = _mm_setzero_pd();
    Py_ssize_t i = 0;
    for (; i + 4 <= n; i += 4) {
        for (int j = 0; j < 2; ++j) {
            const __m128d v = _mm_loadu_pd(y + i + 2 * j);
            lo[j] = _mm_min_pd(v, lo[j]);
            hi[j] = _mm_max_pd(v, hi[j]);
            bad[j] = _mm_add_pd(bad[j], _mm_mul_pd(_mm_loadu_pd(x + i + 2 * j), zero));
        }
    }
    double l[4], h[4], b[4];
    for (int j = 0; j < 2; ++j) {
        _mm_storeu_pd(l + 2 * j, lo[j]);
        _mm_storeu_pd(h + 2 * j, hi[j]);
        _mm_storeu_pd(b + 2 * j, bad[j]);
    }
    Extremes e;
    double sum = b[0] + b[1] + b[2] + b[3];
    for (int j = 0; j < 4; ++j) {
        e.lo = j == 0 || l[j] < e.lo ? l[j] : e.lo;
        e.hi = j == 0 || h[j] > e.hi ? h[j] : e.hi;
    }
    for (; i < n; ++i) {
        e.lo = y[i] < e.lo ? y[i] : e.lo;
        e.hi = y[i] > e.hi ? y[i] : e.hi;
        sum += x[i] * 0.0;
    }
    if (!(sum == 0.0) || e.lo == -inf || e.hi == inf) return detail::fold<true>(x, y, n);
    e.found = e.lo <= e.hi;
    return e;
#else
    return detail::fold<true>(x, y, n);
#endif
}

// Where in a run the first drawable value equal to `v` lies, or -1.
inline Py_ssize_t first_equal(const Run& r, double v) noexcept {
    for (Py_ssize_t i = 0; i < r.n; ++i)
        if (r.y[i] == v && (!r.x || finite(r.x[i]))) return i;
    return -1;
}

// Where in a run the first sample that cannot be drawn lies, or -1.
inline Py_ssize_t first_gap(const Run& r) noexcept {
    for (Py_ssize_t i = 0; i < r.n; ++i)
        if (!finite(r.y[i]) || (r.x && !finite(r.x[i]))) return i;
    return -1;
}

// The value a sequential min() would keep of the first equal values: differs from `v` only in
// the sign of a zero (0.0 == -0.0), which only the first occurrence tells.
inline double first_of_equal(const Run& r, double v) noexcept {
    if (v != 0.0) return v;
    const Py_ssize_t i = first_equal(r, v);
    return i < 0 ? v : r.y[i];
}

}  // namespace streaming::scan
