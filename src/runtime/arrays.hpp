// What the modules that hand NumPy arrays to Qt share: the arrays they fill, and when a series
// takes them through QXYSeries.replaceNp.
#pragma once

#include "ref.hpp"

#include <utility>

namespace lark {

// The memory of `array` as n writable native doubles, or null when it is not exactly that (a
// contiguous buffer of n items of format "d"). Never raises on a mismatch; a buffer that cannot
// be had for another reason raises.
double* writable_doubles(PyObject* array, Py_ssize_t n);

// A float64 array of the module's own that a body fills and hands to Qt, with its memory at hand:
// kept in the module state from one call to the next and made anew only for another length.
class Doubles {
    Ref array_;
    double* data_ = nullptr;
    Py_ssize_t size_ = 0;

public:
    Doubles() noexcept = default;
    Doubles(const Doubles&) = delete;
    Doubles& operator=(const Doubles&) = delete;
    Doubles(Doubles&& o) noexcept { *this = std::move(o); }
    Doubles& operator=(Doubles&& o) noexcept {
        array_ = std::move(o.array_);
        data_ = std::exchange(o.data_, nullptr);
        size_ = std::exchange(o.size_, 0);
        return *this;
    }

    // The memory of n doubles; `empty` and `float64` make the array when there is none of that
    // length. Null when they make no array of native doubles (a stand-in NumPy).
    double* fit(PyObject* empty, PyObject* float64, Py_ssize_t n);
    // The array, as the last fit() left it.
    const Ref& array() const noexcept { return array_; }
    double* data() const noexcept { return data_; }
    Py_ssize_t size() const noexcept { return size_; }
    // For the module state's garbage-collector walk.
    Ref& owner() noexcept { return array_; }
};

// Whether QXYSeries.replaceNp (`replace_np`, as found at import) writes to `series` what its
// `replace` would: `series` is an instance of the genuine XY series class `xy_type` whose
// `replace` is the binding's own (`own_replace`), neither overridden by a subclass nor set on the
// instance. Runs no Python code; false when any of the objects is missing.
bool takes_replace_np(PyObject* series, PyObject* xy_type, PyObject* own_replace, PyObject* replace_np);

}  // namespace lark
