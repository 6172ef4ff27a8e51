// sync_scrolling_chart, sync_snapshot_chart: flush every buffer of one chart, then fit its axes.
#include "plotdeck.hpp"

#include <cmath>

namespace {

using namespace lark;

const Name s_math{"math"}, s_np{"np"};
const Name s_flush{"flush"}, s_last_x{"last_x"}, s_history{"history"}, s_is_visible{"is_visible"},
    s_last_snapshot_data{"last_snapshot_data"}, s_last_snapshot_offset{"last_snapshot_offset"};
const Name s_setRange{"setRange"}, s_setTickCount{"setTickCount"}, s_tickCount{"tickCount"};
const Name s_floor{"floor"}, s_ceil{"ceil"}, s_min{"min"}, s_max{"max"}, s_extend{"extend"};

// ---- the host's operators, with a shortcut where both sides are plain floats ----

bool both_floats(PyObject* a, PyObject* b) { return PyFloat_CheckExact(a) && PyFloat_CheckExact(b); }

// `a op b` as an `if` would test it: the operator's result reduced by its truth test.
// No identity shortcut, so `==` and `!=` behave as the operators do.
bool test(PyObject* a, PyObject* b, int op) {
    if (both_floats(a, b)) {
        const double x = PyFloat_AS_DOUBLE(a), y = PyFloat_AS_DOUBLE(b);
        switch (op) {
            case Py_LT: return x < y;
            case Py_LE: return x <= y;
            case Py_GT: return x > y;
            case Py_GE: return x >= y;
            case Py_EQ: return x == y;
            default: return x != y;
        }
    }
    Ref r = Ref::steal(PyObject_RichCompare(a, b, op));
    return truth(r.get());
}
bool test(const CallArg& a, const CallArg& b, int op) { return test(a.get(), b.get(), op); }

Ref add(PyObject* a, const CallArg& b) { return Ref::steal(PyNumber_Add(a, b.get())); }
Ref sub(PyObject* a, const CallArg& b) { return Ref::steal(PyNumber_Subtract(a, b.get())); }
Ref mul(PyObject* a, const CallArg& b) { return Ref::steal(PyNumber_Multiply(a, b.get())); }

// The axis's tick count, written only when it differs from the default.
void ensure_tick_count(PyObject* axis, int count) {
    if (test(call_method(axis, s_tickCount), count, Py_NE)) call_method(axis, s_setTickCount, count);
}

// ---- sync_scrolling_chart ----

// Leaves NaN out of the y extremes; `v != v` also catches NaN of NumPy scalars and decimals.
bool is_nan(PyObject* v) {
    if (PyFloat_CheckExact(v)) return std::isnan(PyFloat_AS_DOUBLE(v));
    if (PyLong_CheckExact(v)) return false;
    Ref r = Ref::steal(PyObject_RichCompare(v, v, Py_NE));
    return truth(r.get());
}

// The smallest and largest non-NaN collected value, as the built-in min and max would pick
// them from the whole collected list (the first of equal values wins). Plain floats and ints
// are folded straight out of each history list while the slice would be taken: comparing them
// runs no Python code, so nothing can change the lists under the scan and no copy is needed.
// From the first value of any other kind on, the values are collected into a list as they
// would have been, and compared with the host's operators once collection is over.
class YExtremes {
    Ref lo_, hi_;
    Ref rest_;  // list, once a value of another kind turned up

    static bool plain(PyObject* v) { return PyFloat_CheckExact(v) || PyLong_CheckExact(v); }

    void fold_rest() {
        Ref kept = Ref::steal(PyList_New(0));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(rest_.get()); ++i) {
            Ref v = Ref::borrow(PyList_GET_ITEM(rest_.get(), i));
            if (!is_nan(v.get())) check(PyList_Append(kept.get(), v.get()));
        }
        // min before max, as two separate passes over the values would run.
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(kept.get()); ++i) {
            Ref v = Ref::borrow(PyList_GET_ITEM(kept.get(), i));
            if (!lo_ || test(v.get(), lo_.get(), Py_LT)) lo_ = std::move(v);
        }
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(kept.get()); ++i) {
            Ref v = Ref::borrow(PyList_GET_ITEM(kept.get(), i));
            if (!hi_ || test(v.get(), hi_.get(), Py_GT)) hi_ = std::move(v);
        }
        rest_.reset();
    }

public:
    // values[start:] of an exact list.
    void take_list_tail(PyObject* values, Py_ssize_t start) {
        const Py_ssize_t stop = PyList_GET_SIZE(values);
        if (rest_) {
            Ref tail = Ref::steal(PyList_GetSlice(values, start, stop));
            check(PyList_SetSlice(rest_.get(), PY_SSIZE_T_MAX, PY_SSIZE_T_MAX, tail.get()));
            return;
        }
        PyObject** items = reinterpret_cast<PyListObject*>(values)->ob_item;
        // Borrowed during the scan: held by lo_/hi_ or by the list, which nothing can touch meanwhile.
        PyObject* lo = lo_.get();
        PyObject* hi = hi_.get();
        Py_ssize_t i = start;
        for (; i < stop; ++i) {
            PyObject* v = items[i];
            if (PyFloat_CheckExact(v)) {
                const double d = PyFloat_AS_DOUBLE(v);
                if (std::isnan(d)) continue;
                if (!lo) {
                    lo = hi = v;
                } else if (PyFloat_CheckExact(lo) && PyFloat_CheckExact(hi)) {
                    if (d < PyFloat_AS_DOUBLE(lo))
                        lo = v;
                    else if (d > PyFloat_AS_DOUBLE(hi))
                        hi = v;
                } else if (test(v, lo, Py_LT)) {
                    lo = v;
                } else if (test(v, hi, Py_GT)) {
                    hi = v;
                }
            } else if (PyLong_CheckExact(v)) {
                if (!lo)
                    lo = hi = v;
                else if (test(v, lo, Py_LT))
                    lo = v;
                else if (test(v, hi, Py_GT))
                    hi = v;
            } else {
                break;
            }
        }
        lo_ = Ref::borrow(lo);
        hi_ = Ref::borrow(hi);
        if (i < stop) rest_ = Ref::steal(PyList_GetSlice(values, i, stop));
    }

    // Any other sliced history: its values are collected as list.extend would take them.
    void take_values(PyObject* values) {
        if (!rest_) rest_ = Ref::steal(PyList_New(0));
        call_method(rest_, s_extend, values);
    }

    // False when no value but NaN (or none at all) was collected.
    bool finish() {
        if (rest_) fold_rest();
        return static_cast<bool>(lo_);
    }
    PyObject* lo() const { return lo_.get(); }
    PyObject* hi() const { return hi_.get(); }
};

// sync_scrolling_chart(buffers, axX, axY, window_size, fixed_y_range, margin_ratio, y_tick_cnt,
//                      small_span_padding)
Ref sync_scrolling_chart(const Args& a) {
    PyObject* buffers = a[0];
    PyObject* axX = a[1];
    PyObject* axY = a[2];
    PyObject* window_size = a[3];
    PyObject* fixed_y_range = a[4];
    const double margin_ratio = a.number(5);
    PyObject* y_tick_cnt = a[6];
    PyObject* small_span_padding = a[7];

    Ref current_max_x = int_of(0);
    // The list is read afresh at each step, as iterating it would: a flush may change it.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(buffers); ++i) {
        Ref buf = Ref::borrow(PyList_GET_ITEM(buffers, i));
        call_method(buf, s_flush);
        Ref last_x = getattr(buf.get(), s_last_x);
        if (test(last_x.get(), current_max_x.get(), Py_GT)) current_max_x = std::move(last_x);
    }

    Ref x_min, x_max;
    if (test(current_max_x.get(), window_size, Py_LT)) {
        x_min = int_of(1);
        x_max = Ref::borrow(window_size);
    } else {
        x_min = add(sub(current_max_x.get(), window_size).get(), 1);
        x_max = current_max_x;
    }
    call_method(axX, s_setRange, x_min, x_max);

    if (test(window_size, 20, Py_LE)) {
        Ref cnt = add(window_size, 1);
        if (test(cnt, 2, Py_GE)) call_method(axX, s_setTickCount, cnt);
    } else {
        ensure_tick_count(axX, 6);
    }

    if (fixed_y_range != Py_None) {
        auto [y_min, y_max] = unpack_pair(fixed_y_range);
        call_method(axY, s_setRange, y_min, y_max);
        if (y_tick_cnt != Py_None)
            call_method(axY, s_setTickCount, y_tick_cnt);
        else
            ensure_tick_count(axY, 5);
        return {};
    }

    // Each history is sliced from -(window_size + 1), clamped as the host's slicing clamps it.
    Ref needed_history_count = add(window_size, 1);
    Ref from_end = Ref::steal(PyNumber_Negative(needed_history_count.get()));
    const Py_ssize_t slice_start = PyNumber_AsSsize_t(from_end.get(), nullptr);
    if (slice_start == -1 && PyErr_Occurred()) throw_error();
    Ref slice;  // made only for a history that is not a list

    YExtremes values;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(buffers); ++i) {
        Ref buf = Ref::borrow(PyList_GET_ITEM(buffers, i));
        if (!truth(getattr(buf.get(), s_is_visible).get())) continue;
        Ref history = getattr(buf.get(), s_history);
        if (PyList_CheckExact(history.get())) {
            const Py_ssize_t n = PyList_GET_SIZE(history.get());
            if (n == 0) continue;
            Py_ssize_t start = slice_start, stop = PY_SSIZE_T_MAX;
            PySlice_AdjustIndices(n, &start, &stop, 1);
            values.take_list_tail(history.get(), start);
        } else {
            if (!truth(history.get())) continue;
            if (!slice) slice = Ref::steal(PySlice_New(from_end.get(), nullptr, nullptr));
            values.take_values(Ref::steal(PyObject_GetItem(history.get(), slice.get())).get());
        }
    }
    if (!values.finish()) return {};

    PyObject* raw_min = values.lo();
    PyObject* raw_max = values.hi();
    Ref span = sub(raw_max, raw_min);

    if (test(span, 15, Py_LT)) {
        Ref new_min = sub(call_method(global(s_math), s_floor, raw_min).get(), small_span_padding);
        Ref new_max = add(call_method(global(s_math), s_ceil, raw_max).get(), small_span_padding);
        if (test(new_min, new_max, Py_EQ)) {
            new_min = sub(new_min.get(), 1);
            new_max = add(new_max.get(), 1);
        }
        call_method(axY, s_setRange, new_min, new_max);
        Ref auto_tick = add(sub(new_max.get(), new_min).get(), 1);
        if (!PyLong_CheckExact(auto_tick.get())) auto_tick = Ref::steal(PyNumber_Long(auto_tick.get()));
        Ref final_tick = auto_tick;
        if (y_tick_cnt != Py_None && test(auto_tick, 5, Py_GT)) final_tick = Ref::borrow(y_tick_cnt);
        if (test(final_tick, 2, Py_LT)) final_tick = int_of(2);
        call_method(axY, s_setTickCount, final_tick);
        return {};
    }

    Ref margin = mul(span.get(), margin_ratio);
    if (test(margin, 0, Py_EQ)) margin = float_of(1.0);
    call_method(axY, s_setRange, sub(raw_min, margin), add(raw_max, margin));
    if (y_tick_cnt != Py_None)
        call_method(axY, s_setTickCount, y_tick_cnt);
    else
        ensure_tick_count(axY, 6);
    return {};
}

// ---- sync_snapshot_chart ----

// sync_snapshot_chart(buffers, axX, axY, fixed_y_range, margin_ratio)
Ref sync_snapshot_chart(const Args& a) {
    PyObject* buffers = a[0];
    PyObject* axX = a[1];
    PyObject* axY = a[2];
    PyObject* fixed_y_range = a[3];
    const double margin_ratio = a.number(4);

    Ref global_y_min = float_of(INFINITY), global_y_max = float_of(-INFINITY);
    Ref global_x_min = float_of(INFINITY), global_x_max = float_of(-INFINITY);
    bool has_visible_data = false;

    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(buffers); ++i) {
        Ref buf = Ref::borrow(PyList_GET_ITEM(buffers, i));
        call_method(buf, s_flush);
        if (!truth(getattr(buf.get(), s_is_visible).get())) continue;
        Ref data = getattr(buf.get(), s_last_snapshot_data);
        if (data.is_none()) continue;
        has_visible_data = true;

        Ref offset = getattr(buf.get(), s_last_snapshot_offset);
        const Py_ssize_t d_len = length(data.get());
        // max_x lies one unit past the last point; a plain float offset needs no new object
        // unless it becomes the new extreme.
        if (both_floats(offset.get(), global_x_max.get())) {
            if (test(offset.get(), global_x_min.get(), Py_LT)) global_x_min = offset;
            const double max_x = PyFloat_AS_DOUBLE(offset.get()) + static_cast<double>(d_len);
            if (max_x > PyFloat_AS_DOUBLE(global_x_max.get())) global_x_max = float_of(max_x);
        } else {
            Ref max_x = add(offset.get(), static_cast<long long>(d_len));
            if (test(offset.get(), global_x_min.get(), Py_LT)) global_x_min = offset;
            if (test(max_x.get(), global_x_max.get(), Py_GT)) global_x_max = std::move(max_x);
        }

        if (fixed_y_range != Py_None) continue;
        // NumPy refuses to reduce an empty frame; it still counts for the x extent above.
        if (d_len == 0) continue;
        Ref b_min = call_method(global(s_np), s_min, data);
        Ref b_max = call_method(global(s_np), s_max, data);
        if (test(b_min.get(), global_y_min.get(), Py_LT)) global_y_min = std::move(b_min);
        if (test(b_max.get(), global_y_max.get(), Py_GT)) global_y_max = std::move(b_max);
    }

    if (!has_visible_data) return {};

    if (test(global_x_min, INFINITY, Py_EQ)) global_x_min = int_of(0);
    if (test(global_x_max, -INFINITY, Py_EQ)) global_x_max = int_of(0);
    call_method(axX, s_setRange, global_x_min, global_x_max);

    if (fixed_y_range != Py_None) {
        auto [y_min, y_max] = unpack_pair(fixed_y_range);
        call_method(axY, s_setRange, y_min, y_max);
        return {};
    }

    if (test(global_y_max.get(), global_y_min.get(), Py_GE)) {
        Ref span = sub(global_y_max.get(), global_y_min);
        Ref margin = mul(span.get(), margin_ratio);
        if (test(margin, 0, Py_EQ)) margin = float_of(1.0);
        call_method(axY, s_setRange, sub(global_y_min.get(), margin), add(global_y_max.get(), margin));
    }
    return {};
}

}  // namespace

namespace plotdeck {

const lark::FunctionSpec sync_scrolling_chart{
    "sync_scrolling_chart",
    "sync_scrolling_chart",
    "\n    [修正版 V5] \n"
    "    加入 small_span_padding 參數，讓小範圍模式下的留白可控。\n    ",
    nullptr,
    {
        lark::exact("buffers", "list[TimeSeriesBuffer]", &PyList_Type),
        lark::any("axX", "QValueAxis"),
        lark::any("axY", "QValueAxis"),
        lark::integer("window_size"),
        lark::optional(lark::or_none(lark::exact("fixed_y_range", "tuple[float, float] | None", &PyTuple_Type))),
        lark::optional(lark::real("margin_ratio")),
        lark::optional(lark::or_none(lark::integer("y_tick_cnt"))),
        lark::optional(lark::integer("small_span_padding")),
    },
    ::sync_scrolling_chart,
};

const lark::FunctionSpec sync_snapshot_chart{
    "sync_snapshot_chart",
    "sync_snapshot_chart",
    "\n    支援 X 軸偏移 (Start Index)。\n    ",
    nullptr,
    {
        lark::exact("buffers", "list[TimeSeriesBuffer]", &PyList_Type),
        lark::any("axX", "QValueAxis"),
        lark::any("axY", "QValueAxis"),
        lark::optional(lark::or_none(lark::exact("fixed_y_range", "tuple[float, float] | None", &PyTuple_Type))),
        lark::optional(lark::real("margin_ratio")),
    },
    ::sync_snapshot_chart,
};

}  // namespace plotdeck
