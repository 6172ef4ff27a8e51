// The sample store of a StreamBuffer and the two ways a flush lays its window out.
#include "streaming.hpp"

#include <cmath>
#include <cstring>
#include <utility>

namespace streaming {

Ring& Ring::operator=(Ring&& o) noexcept {
    if (this != &o) {
        release();
        x_ = std::exchange(o.x_, nullptr);
        y_ = std::exchange(o.y_, nullptr);
        capacity_ = std::exchange(o.capacity_, 0);
        head_ = std::exchange(o.head_, 0);
        size_ = std::exchange(o.size_, 0);
    }
    return *this;
}

bool Ring::allocate(Py_ssize_t capacity) noexcept {
    release();
    x_ = static_cast<double*>(PyMem_Malloc(sizeof(double) * static_cast<std::size_t>(capacity)));
    y_ = static_cast<double*>(PyMem_Malloc(sizeof(double) * static_cast<std::size_t>(capacity)));
    if (!x_ || !y_) {
        release();
        return false;
    }
    capacity_ = capacity;
    return true;
}

void Ring::release() noexcept {
    PyMem_Free(x_);
    PyMem_Free(y_);
    x_ = y_ = nullptr;
    capacity_ = head_ = size_ = 0;
}

void Ring::push_block(const double* x, const double* y, Py_ssize_t n) noexcept {
    if (n >= capacity_) {  // only the newest capacity samples stay
        x += n - capacity_;
        y += n - capacity_;
        n = capacity_;
    }
    const Py_ssize_t first = n < capacity_ - head_ ? n : capacity_ - head_;
    std::memcpy(x_ + head_, x, sizeof(double) * static_cast<std::size_t>(first));
    std::memcpy(y_ + head_, y, sizeof(double) * static_cast<std::size_t>(first));
    std::memcpy(x_, x + first, sizeof(double) * static_cast<std::size_t>(n - first));
    std::memcpy(y_, y + first, sizeof(double) * static_cast<std::size_t>(n - first));
    head_ = (head_ + n) % capacity_;
    size_ = size_ + n < capacity_ ? size_ + n : capacity_;
}

void Ring::runs(Py_ssize_t n, Py_ssize_t i, bool with_x, scan::Run& first, scan::Run& second) const noexcept {
    first = second = scan::Run{nullptr, y_, 0};
    if (i >= n) return;
    const Py_ssize_t start = index(n, i), count = n - i;
    const Py_ssize_t head_part = count < capacity_ - start ? count : capacity_ - start;
    first = scan::Run{with_x ? x_ + start : nullptr, y_ + start, head_part};
    second = scan::Run{with_x ? x_ : nullptr, y_, count - head_part};
}

Py_ssize_t Plan::most_points() const noexcept {
    if (!bucket) return count;
    // Every bucket but the first and the last is whole; each gives at most three points.
    return 3 * (count / bucket + 2);
}

Plan plan_of(const StreamBufferObject* b, Py_ssize_t budget) noexcept {
    Plan plan;
    const Py_ssize_t held = b->ring.size();
    const Py_ssize_t n = held < b->window ? held : b->window;
    if (n == 0) return plan;
    if (budget <= budget_every || n <= budget) {
        plan.first = b->added - static_cast<unsigned long long>(n);
        plan.count = n;
        return plan;
    }
    // The bucket length follows from the window, not from how much of it is filled, so that a
    // bucket keeps its edges from its first sample to its last.
    const Py_ssize_t buckets = budget / 2;
    const auto length = static_cast<unsigned long long>((b->window + buckets - 1) / buckets);
    const unsigned long long oldest_shown = b->added - static_cast<unsigned long long>(n);
    const unsigned long long oldest_held = b->added - static_cast<unsigned long long>(held);
    unsigned long long first = oldest_shown - oldest_shown % length;
    if (first < oldest_held) first = oldest_held;  // the store no longer holds the bucket's start
    plan.first = first;
    plan.count = static_cast<Py_ssize_t>(b->added - first);
    plan.bucket = static_cast<Py_ssize_t>(length);
    return plan;
}

namespace {

using scan::finite;

inline void put(double x, double y, double* out_x, double* out_y, Py_ssize_t m) noexcept {
    const bool x_ok = finite(x);
    out_x[m] = x_ok ? x : NAN;
    out_y[m] = x_ok && finite(y) ? y : NAN;
}

// One point per sample of a run, gaps for the samples that cannot be drawn.
void copy_run(const scan::Run& r, double* out_x, double* out_y) noexcept {
    const double* x = r.x;
    const double* y = r.y;
    for (Py_ssize_t i = 0; i < r.n; ++i) {
        const double xv = x[i], yv = y[i];
        const bool x_ok = finite(xv);
        out_x[i] = x_ok ? xv : NAN;
        out_y[i] = x_ok && finite(yv) ? yv : NAN;
    }
}

// Where `find` first finds a sample in run `a` or else in the run `b` after it, counted over both.
template <class Find>
inline Py_ssize_t in_runs(const scan::Run& a, const scan::Run& b, Find find) noexcept {
    const Py_ssize_t pa = find(a);
    if (pa >= 0) return pa;
    const Py_ssize_t pb = find(b);
    return pb >= 0 ? a.n + pb : -1;
}

// A bucket's points, in sample order: its least and greatest drawable sample and its first gap.
Py_ssize_t lay_out_bucket(const scan::Run& a, const scan::Run& b, double* out_x, double* out_y,
                          Py_ssize_t m) noexcept {
    scan::Extremes e = scan::extremes(a);
    e.take(scan::extremes(b));
    Py_ssize_t lo = -1, hi = -1, gap = -1;
    if (e.found) {
        lo = in_runs(a, b, [&](const scan::Run& r) { return scan::first_equal(r, e.lo); });
        hi = in_runs(a, b, [&](const scan::Run& r) { return scan::first_equal(r, e.hi); });
    }
    if (e.gap) gap = in_runs(a, b, [](const scan::Run& r) { return scan::first_gap(r); });
    // A sorting network of three; a missing one sorts last. A bucket of one value gives one point.
    Py_ssize_t p0 = lo, p1 = hi, p2 = gap;
    auto order = [](Py_ssize_t& u, Py_ssize_t& v) {
        if (v >= 0 && (u < 0 || v < u)) std::swap(u, v);
    };
    order(p0, p1);
    order(p1, p2);
    order(p0, p1);
    Py_ssize_t previous = -1;
    for (Py_ssize_t p : {p0, p1, p2}) {
        if (p < 0 || p == previous) continue;
        const scan::Run& r = p < a.n ? a : b;
        const Py_ssize_t k = p < a.n ? p : p - a.n;
        put(r.x[k], r.y[k], out_x, out_y, m++);
        previous = p;
    }
    return m;
}

}  // namespace

Py_ssize_t lay_out(const StreamBufferObject* b, const Plan& plan, double* out_x, double* out_y) noexcept {
    if (plan.count == 0) return 0;
    const Ring& ring = b->ring;
    if (!plan.bucket) {
        scan::Run first, second;
        ring.runs(plan.count, 0, true, first, second);
        copy_run(first, out_x, out_y);
        copy_run(second, out_x + first.n, out_y + first.n);
        return plan.count;
    }
    const auto length = static_cast<unsigned long long>(plan.bucket);
    Py_ssize_t m = 0;
    for (unsigned long long start = plan.first; start < b->added;) {
        unsigned long long end = (start / length + 1) * length;
        if (end > b->added) end = b->added;
        // The bucket as one or two runs of the store: the samples i to j - 1 of the plan's count.
        const auto i = static_cast<Py_ssize_t>(start - plan.first), j = static_cast<Py_ssize_t>(end - plan.first);
        scan::Run first, second;
        ring.runs(plan.count, i, true, first, second);
        const Py_ssize_t n = j - i;
        if (first.n >= n) {
            first.n = n;
            second.n = 0;
        } else {
            second.n = n - first.n;
        }
        m = lay_out_bucket(first, second, out_x, out_y, m);
        start = end;
    }
    return m;
}

scan::Extremes plan_extremes(const StreamBufferObject* b, const Plan& plan) noexcept {
    scan::Run first, second;
    b->ring.runs(plan.count, 0, true, first, second);
    scan::Extremes e = scan::drawable_extremes(first.x, first.y, first.n);
    e.take(scan::drawable_extremes(second.x, second.y, second.n));
    return e;
}

}  // namespace streaming
