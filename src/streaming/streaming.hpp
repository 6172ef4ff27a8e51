// larkui.streaming: a rolling buffer for one XY series, written to the series in one bulk call.
#pragma once

#include "callables.gen.hpp"

namespace streaming {

// The most samples one buffer holds: its window or its history, whichever is larger.
constexpr Py_ssize_t max_points = 10'000'000;

// The newest samples, oldest overwritten first: x and y in two rings of doubles.
class Ring {
public:
    Ring() noexcept = default;
    Ring(const Ring&) = delete;
    Ring& operator=(const Ring&) = delete;
    Ring(Ring&& o) noexcept { *this = std::move(o); }
    Ring& operator=(Ring&& o) noexcept;
    ~Ring() { release(); }

    bool allocate(Py_ssize_t capacity) noexcept;  // false when out of memory
    void release() noexcept;
    bool ready() const noexcept { return capacity_ > 0; }
    Py_ssize_t capacity() const noexcept { return capacity_; }
    Py_ssize_t size() const noexcept { return size_; }

    void push(double x, double y) noexcept {
        x_[head_] = x;
        y_[head_] = y;
        if (++head_ == capacity_) head_ = 0;
        if (size_ < capacity_) ++size_;
    }
    // n samples, oldest first; only the newest `capacity` of them stay.
    void push_block(const double* x, const double* y, Py_ssize_t n) noexcept;
    void clear() noexcept { head_ = size_ = 0; }

    // Sample i of the newest n (0 is the oldest of them); n <= size().
    Py_ssize_t index(Py_ssize_t n, Py_ssize_t i) const noexcept {
        Py_ssize_t k = head_ - n + i;
        return k < 0 ? k + capacity_ : k;
    }
    double x(Py_ssize_t k) const noexcept { return x_[k]; }
    double y(Py_ssize_t k) const noexcept { return y_[k]; }

private:
    double* x_ = nullptr;
    double* y_ = nullptr;
    Py_ssize_t capacity_ = 0, head_ = 0, size_ = 0;
};

// The y values `history` offers, as the float objects its items and slices hand out: made once
// per sample (or taken from the call, for a float argument), so that a slice of the history is
// a list of references, not of new floats. The oldest is dropped first.
class FloatRing {
public:
    FloatRing() noexcept = default;
    FloatRing(const FloatRing&) = delete;
    FloatRing& operator=(const FloatRing&) = delete;
    FloatRing& operator=(FloatRing&& o) noexcept;
    ~FloatRing() { release(); }

    bool allocate(Py_ssize_t capacity) noexcept;  // false when out of memory; 0 keeps nothing
    void release() noexcept;
    void clear() noexcept;
    Py_ssize_t size() const noexcept { return size_; }
    Py_ssize_t capacity() const noexcept { return capacity_; }
    // Takes over the reference `value`.
    void push(PyObject* value) noexcept;
    // Value i, 0 being the oldest (borrowed).
    PyObject* item(Py_ssize_t i) const noexcept {
        Py_ssize_t k = head_ - size_ + i;
        return items_[k < 0 ? k + capacity_ : k];
    }

private:
    PyObject** items_ = nullptr;
    Py_ssize_t capacity_ = 0, head_ = 0, size_ = 0;
};

// A float64 NumPy array that the buffer writes into directly.
struct OutArray {
    PyObject* array = nullptr;  // strong
    Py_buffer view{};
    double* data() const noexcept { return static_cast<double*>(view.buf); }
    void release() noexcept {
        if (array) PyBuffer_Release(&view);
        Py_CLEAR(array);
    }
};

struct StreamBufferObject {
    PyObject_HEAD
    PyObject* dict;
    PyObject* weakrefs;
    PyObject* series;
    PyObject* last_x;
    Ring ring;
    FloatRing history;              // what `history` offers, the newest max_history y values
    OutArray out_x, out_y;          // what the next flush writes
    Py_ssize_t window;              // newest points the series shows
    Py_ssize_t display_budget;      // 0: every point
    Py_ssize_t max_history;         // values `history` offers
    unsigned long long added;       // samples added so far (never reset)
    unsigned long long written;     // `added` when the last flush copied the window
    unsigned long long clears;      // clear() calls so far
};

// Sample counts below: `n` newest samples in, the number of points written out.
// Every point whose x or y is NaN or infinite is written as a gap (y NaN): Qt Charts draws such a
// point as a break in the line, and NaN says so whatever the renderer; an infinite value is no
// position on an axis and must never become a bucket's extreme.
Py_ssize_t copy_window(const Ring& ring, Py_ssize_t n, double* out_x, double* out_y) noexcept;
// Min/max per bucket: the n samples in `buckets` runs of equal length; each run gives its
// smallest and its largest finite y and, when it holds a non-finite sample, one gap at the
// first of them, in x order. At most 3 * buckets points.
Py_ssize_t decimate(const Ring& ring, Py_ssize_t n, Py_ssize_t buckets, double* out_x, double* out_y) noexcept;


// A new StreamHistory of `buffer` (a live view of its y values).
lark::Ref new_history(const lark::Env& env, PyObject* buffer);

}  // namespace streaming
