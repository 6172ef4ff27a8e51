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

template <bool WithX>
inline bool drawable(const double* x, const double* y, Py_ssize_t i) noexcept {
    if constexpr (WithX)
        return finite(y[i]) && finite(x[i]);
    else
        return finite(y[i]);
}

template <bool WithX>
inline Extremes fold(const double* x, const double* y, Py_ssize_t n) noexcept {
    constexpr double inf = std::numeric_limits<double>::infinity();
    double lo[4] = {inf, inf, inf, inf}, hi[4] = {-inf, -inf, -inf, -inf};
    unsigned bad[4] = {0, 0, 0, 0};
    Py_ssize_t i = 0;
    for (; i + 4 <= n; i += 4) {
        for (int j = 0; j < 4; ++j) {
            const double v = y[i + j];
            const bool ok = drawable<WithX>(x, y, i + j);
            lo[j] = ok && v < lo[j] ? v : lo[j];
            hi[j] = ok && v > hi[j] ? v : hi[j];
            bad[j] |= ok ? 0u : 1u;
        }
    }
    for (; i < n; ++i) {
        const double v = y[i];
        const bool ok = drawable<WithX>(x, y, i);
        lo[0] = ok && v < lo[0] ? v : lo[0];
        hi[0] = ok && v > hi[0] ? v : hi[0];
        bad[0] |= ok ? 0u : 1u;
    }
    Extremes e;
    e.gap = (bad[0] | bad[1] | bad[2] | bad[3]) != 0;
    for (int j = 0; j < 4; ++j) {
        if (lo[j] <= hi[j]) {  // the lane saw a finite value
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
