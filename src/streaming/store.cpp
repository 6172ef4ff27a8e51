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

FloatRing& FloatRing::operator=(FloatRing&& o) noexcept {
    if (this != &o) {
        release();
        items_ = std::exchange(o.items_, nullptr);
        capacity_ = std::exchange(o.capacity_, 0);
        head_ = std::exchange(o.head_, 0);
        size_ = std::exchange(o.size_, 0);
    }
    return *this;
}

bool FloatRing::allocate(Py_ssize_t capacity) noexcept {
    release();
    if (capacity == 0) return true;
    items_ = static_cast<PyObject**>(PyMem_Calloc(static_cast<std::size_t>(capacity), sizeof(PyObject*)));
    if (!items_) return false;
    capacity_ = capacity;
    return true;
}

void FloatRing::clear() noexcept {
    for (Py_ssize_t k = 0; k < capacity_; ++k) Py_CLEAR(items_[k]);
    head_ = size_ = 0;
}

void FloatRing::release() noexcept {
    clear();
    PyMem_Free(items_);
    items_ = nullptr;
    capacity_ = 0;
}

void FloatRing::push(PyObject* value) noexcept {
    if (!capacity_) {
        Py_DECREF(value);
        return;
    }
    Py_XSETREF(items_[head_], value);  // the oldest goes, once the ring is full
    if (++head_ == capacity_) head_ = 0;
    if (size_ < capacity_) ++size_;
}

namespace {

bool drawable(double x, double y) noexcept { return std::isfinite(x) && std::isfinite(y); }

void put(double x, double y, double* out_x, double* out_y, Py_ssize_t& m) noexcept {
    if (drawable(x, y)) {
        out_x[m] = x;
        out_y[m] = y;
    } else {
        out_x[m] = std::isfinite(x) ? x : NAN;
        out_y[m] = NAN;
    }
    ++m;
}

}  // namespace

Py_ssize_t copy_window(const Ring& ring, Py_ssize_t n, double* out_x, double* out_y) noexcept {
    Py_ssize_t m = 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        const Py_ssize_t k = ring.index(n, i);
        put(ring.x(k), ring.y(k), out_x, out_y, m);
    }
    return m;
}

Py_ssize_t decimate(const Ring& ring, Py_ssize_t n, Py_ssize_t buckets, double* out_x, double* out_y) noexcept {
    Py_ssize_t m = 0;
    for (Py_ssize_t b = 0; b < buckets; ++b) {
        const Py_ssize_t begin = static_cast<Py_ssize_t>(static_cast<long long>(n) * b / buckets);
        const Py_ssize_t end = static_cast<Py_ssize_t>(static_cast<long long>(n) * (b + 1) / buckets);
        Py_ssize_t lo = -1, hi = -1, gap = -1;
        double lo_y = 0.0, hi_y = 0.0;
        for (Py_ssize_t i = begin; i < end; ++i) {
            const Py_ssize_t k = ring.index(n, i);
            const double y = ring.y(k);
            if (!drawable(ring.x(k), y)) {
                if (gap < 0) gap = i;
                continue;
            }
            if (lo < 0 || y < lo_y) lo = i, lo_y = y;
            if (hi < 0 || y > hi_y) hi = i, hi_y = y;
        }
        // The bucket's points in sample order (a sorting network of three; a missing one sorts
        // last); a bucket of one value gives one point.
        Py_ssize_t p0 = lo, p1 = hi, p2 = gap;
        auto order = [](Py_ssize_t& a, Py_ssize_t& b) {
            if (b >= 0 && (a < 0 || b < a)) std::swap(a, b);
        };
        order(p0, p1);
        order(p1, p2);
        order(p0, p1);
        Py_ssize_t previous = -1;
        for (Py_ssize_t i : {p0, p1, p2}) {
            if (i < 0 || i == previous) continue;
            const Py_ssize_t k = ring.index(n, i);
            put(ring.x(k), ring.y(k), out_x, out_y, m);
            previous = i;
        }
    }
    return m;
}

}  // namespace streaming
