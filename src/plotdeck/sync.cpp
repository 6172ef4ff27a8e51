// sync_scrolling_chart, sync_snapshot_chart: flush every buffer of one chart, then fit its axes.
//
// Non-finite data never reaches an axis: Qt refuses a range with a NaN or an infinite end (it
// keeps the old range and warns), so one such value would freeze the axis. NaN and ±inf are
// left out of the extremes, and so is an x position (a buffer's last x, a frame's offset)
// that is not finite.
#include "callables.gen.hpp"

#include "../streaming/capi.hpp"
#include "../streaming/scan.hpp"
#include "names.hpp"

#include <cmath>
#include <cstring>
#include <utility>

namespace plotdeck {

using namespace lark;

namespace {

const Name s_np{"np"};
const Name s_flush{"flush"}, s_is_visible{"is_visible"};
const Name s_setTickCount{"setTickCount"}, s_tickCount{"tickCount"};
const Name s_streaming{"larkui.streaming"}, s_C_API{"_C_API"};
const Name s_floor{"floor"}, s_isfinite{"isfinite"}, s_extend{"extend"}, s_kind{"kind"};

// ---- the host's operators ----

// `a op b` as an `if` would test it: the operator's result reduced by its truth test.
// No identity shortcut, so `==` and `!=` behave as the operators do.
bool test(PyObject* a, PyObject* b, int op) { return truth(Ref::steal(PyObject_RichCompare(a, b, op)).get()); }
bool test(const CallArg& a, const CallArg& b, int op) { return test(a.get(), b.get(), op); }

Ref add(const CallArg& a, const CallArg& b) { return Ref::steal(PyNumber_Add(a.get(), b.get())); }
Ref sub(const CallArg& a, const CallArg& b) { return Ref::steal(PyNumber_Subtract(a.get(), b.get())); }
Ref mul(const CallArg& a, const CallArg& b) { return Ref::steal(PyNumber_Multiply(a.get(), b.get())); }

// NumPy's float64 as kept at import, when it is a float subclass made in C (NumPy's own scalar
// type, not a stand-in class with operators of its own); nullptr otherwise.
PyObject* numpy_float64(const Env& env) {
    PyObject* t = state_of(env).float64.get();
    if (!t || !PyType_Check(t)) return nullptr;
    auto* type = reinterpret_cast<PyTypeObject*>(t);
    if ((PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE) || !PyType_IsSubtype(type, &PyFloat_Type)) return nullptr;
    return t;
}

// A float, or NumPy's float64 (`float64`, when given): either compares as the double it holds.
bool holds_double(PyObject* v, PyObject* float64) {
    return PyFloat_CheckExact(v) || (float64 && reinterpret_cast<PyObject*>(Py_TYPE(v)) == float64);
}

// `test` for extremes, which are mostly NumPy scalars: two doubles are compared as doubles,
// which is what their operators do, without making a NumPy bool per comparison.
bool test_value(PyObject* a, PyObject* b, int op, PyObject* float64) {
    if (!holds_double(a, float64) || !holds_double(b, float64)) return test(a, b, op);
    const double x = PyFloat_AS_DOUBLE(a), y = PyFloat_AS_DOUBLE(b);
    switch (op) {
        case Py_LT: return x < y;
        case Py_GT: return x > y;
        case Py_GE: return x >= y;
        default: return test(a, b, op);
    }
}

// A value that cannot be an axis end: NaN (`v != v`) or an infinity (`v == inf or v == -inf`).
bool non_finite(PyObject* v, PyObject* float64 = nullptr) {
    if (holds_double(v, float64)) return !std::isfinite(PyFloat_AS_DOUBLE(v));
    if (PyLong_CheckExact(v)) return false;
    return test(v, v, Py_NE) || test(v, INFINITY, Py_EQ) || test(v, -INFINITY, Py_EQ);
}

// The axis's tick count, written only when it differs from the default.
void ensure_tick_count(PyObject* axis, int count) {
    if (test(call_method(axis, s_tickCount), count, Py_NE)) call_method(axis, s_setTickCount, count);
}

// min(values) and max(values) of a list, as the built-ins pick them (the first of equal values
// wins), after leaving out the values that are not finite. Empty when nothing is left.
struct Extremes {
    Ref lo, hi;

    void take_finite(PyObject* list) {
        Ref kept = Ref::steal(PyList_New(0));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
            Ref v = Ref::borrow(PyList_GET_ITEM(list, i));
            if (!non_finite(v.get())) check(PyList_Append(kept.get(), v.get()));
        }
        // min before max, as two separate passes over the values would run.
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(kept.get()); ++i) {
            Ref v = Ref::borrow(PyList_GET_ITEM(kept.get(), i));
            if (!lo || test(v.get(), lo.get(), Py_LT)) lo = std::move(v);
        }
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(kept.get()); ++i) {
            Ref v = Ref::borrow(PyList_GET_ITEM(kept.get(), i));
            if (!hi || test(v.get(), hi.get(), Py_GT)) hi = std::move(v);
        }
    }
    explicit operator bool() const { return static_cast<bool>(lo); }
};

// The automatic y range of both syncs: `lo - margin, hi + margin` with margin = span x
// margin_ratio (1.0 where that is 0), or the extremes themselves where a margin would make an end
// non-finite (a huge span, an infinite or NaN margin ratio).
void set_range_with_margin(PyObject* axis, PyObject* lo, PyObject* hi, PyObject* span, const Real& margin_ratio,
                           PyObject* float64) {
    Ref margin = mul(span, margin_ratio.as_float());
    if (test(margin, 0, Py_EQ)) margin = float_of(1.0);
    Ref low = sub(lo, margin), high = add(hi, margin);
    if (non_finite(low.get(), float64) || non_finite(high.get(), float64)) {
        call_method(axis, s_setRange, lo, hi);
        return;
    }
    call_method(axis, s_setRange, low, high);
}

// Flushes each buffer of the list, then runs step(buffer): the list is read afresh at each step,
// as iterating it would, since a flush may change it.
template <class Step>
void flush_each(PyObject* buffers, Step&& step) {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(buffers); ++i) {
        Ref buf = Ref::borrow(PyList_GET_ITEM(buffers, i));
        call_method(buf, s_flush);
        step(buf);
    }
}

// The y range a caller fixed: `y_min, y_max = fixed_y_range`, then setRange(y_min, y_max).
void set_fixed_range(PyObject* axis, PyObject* fixed_y_range) {
    auto [y_min, y_max] = unpack_pair(fixed_y_range);
    call_method(axis, s_setRange, y_min, y_max);
}

// ---- sync_scrolling_chart ----

// The y extremes of the recent values of the visible buffers. Plain floats and ints are folded
// straight out of each history list: comparing them runs no Python code, so nothing can change
// the lists under the scan and no copy is needed. From the first value of any other kind on,
// the values are collected as the slices would have been and compared with the host's
// operators once collection is over.
class RecentValues {
    Ref lo_, hi_;
    Ref rest_;  // list, once a value of another kind turned up

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
                if (!std::isfinite(d)) continue;
                if (lo && PyFloat_CheckExact(lo) && PyFloat_CheckExact(hi)) {
                    if (d < PyFloat_AS_DOUBLE(lo))
                        lo = v;
                    else if (d > PyFloat_AS_DOUBLE(hi))
                        hi = v;
                    continue;
                }
            } else if (!PyLong_CheckExact(v)) {
                break;
            }
            if (!lo)
                lo = hi = v;
            else if (test(v, lo, Py_LT))
                lo = v;
            else if (test(v, hi, Py_GT))
                hi = v;
        }
        lo_ = Ref::borrow(lo);
        hi_ = Ref::borrow(hi);
        if (i < stop) rest_ = Ref::steal(PyList_GetSlice(values, i, stop));
    }

    // The values of a StreamHistory from `start` on, read from its store of doubles: the same
    // values its slice would give, folded the same way, without a float object per value.
    void take_doubles(const streaming::CApi& api, PyObject* history, Py_ssize_t start) {
        const double *first, *second;
        Py_ssize_t first_n, second_n;
        api.history_runs(history, start, &first, &first_n, &second, &second_n);
        const streaming::scan::Run runs[2] = {{nullptr, first, first_n}, {nullptr, second, second_n}};
        if (rest_) {
            // Collected as floats, as the slice would have been. Making floats and growing a list
            // run no Python code, so the runs stay valid meanwhile.
            for (const auto& run : runs)
                for (Py_ssize_t i = 0; i < run.n; ++i) check(PyList_Append(rest_.get(), float_of(run.y[i]).get()));
            return;
        }
        streaming::scan::Extremes e;
        for (const auto& run : runs) {
            streaming::scan::Extremes part = streaming::scan::value_extremes(run.y, run.n);
            // The sign of a zero is the first equal value's, as min() and max() keep it.
            part.lo = streaming::scan::first_of_equal(run, part.lo);
            part.hi = streaming::scan::first_of_equal(run, part.hi);
            e.take(part);
        }
        if (!e.found) return;
        Ref lo = float_of(e.lo), hi = float_of(e.hi);
        if (!lo_) {
            lo_ = std::move(lo);
            hi_ = std::move(hi);
            return;
        }
        // An earlier value may be an int, compared as the host compares an int with a float.
        if (PyFloat_CheckExact(lo_.get()) ? e.lo < PyFloat_AS_DOUBLE(lo_.get()) : test(lo.get(), lo_.get(), Py_LT))
            lo_ = std::move(lo);
        if (PyFloat_CheckExact(hi_.get()) ? e.hi > PyFloat_AS_DOUBLE(hi_.get()) : test(hi.get(), hi_.get(), Py_GT))
            hi_ = std::move(hi);
    }

    // Any other sliced history: its values are collected as list.extend would take them.
    void take_values(PyObject* values) {
        if (!rest_) rest_ = Ref::steal(PyList_New(0));
        call_method(rest_, s_extend, values);
    }

    Extremes finish() {
        Extremes e{lo_, hi_};
        if (rest_) e.take_finite(rest_.get());
        return e;
    }
};

// The C interface of larkui.streaming, when `history` is a genuine StreamHistory: looked up only
// for an object whose type has that name, found in the loaded module's namespace without running
// any code, and trusted only when its history type is the object's own. `holder` keeps the
// capsule for the rest of the call.
const streaming::CApi* stream_api(PyObject* history, Ref& holder) {
    if (std::strcmp(Py_TYPE(history)->tp_name, "larkui.streaming.StreamHistory") != 0) return nullptr;
    if (!holder) {
        Ref module = Ref::steal_nullable(PyImport_GetModule(s_streaming.get()));
        if (!module && PyErr_Occurred()) throw_error();
        PyObject* capsule = module && PyModule_Check(module.get())
                                ? PyDict_GetItemWithError(PyModule_GetDict(module.get()), s_C_API.get())
                                : nullptr;
        if (!capsule && PyErr_Occurred()) throw_error();
        if (!capsule || !PyCapsule_CheckExact(capsule)) return nullptr;
        holder = Ref::borrow(capsule);
    }
    auto* api = static_cast<const streaming::CApi*>(PyCapsule_GetPointer(holder.get(), streaming::capi_capsule_name));
    if (!api) {
        expect_error(PyExc_ValueError);  // a capsule of another name
        return nullptr;
    }
    if (api->version != streaming::capi_version || api->history_type != Py_TYPE(history)) return nullptr;
    return api;
}

}  // namespace

// sync_scrolling_chart(buffers, axX, axY, window_size, fixed_y_range, margin_ratio, y_tick_cnt,
//                      small_span_padding)
Ref sync_scrolling_chart(const Env& env, const args::sync_scrolling_chart& a) {
    Ref current_max_x = int_of(0);
    flush_each(a.buffers, [&](const Ref& buf) {
        Ref last_x = getattr(buf.get(), s_last_x);
        if (test(last_x.get(), current_max_x.get(), Py_GT) && !non_finite(last_x.get()))
            current_max_x = std::move(last_x);
    });

    Ref x_min, x_max;
    if (test(current_max_x.get(), a.window_size, Py_LT)) {
        x_min = int_of(1);
        x_max = Ref::borrow(a.window_size);
    } else {
        x_min = add(sub(current_max_x, a.window_size), 1);
        x_max = current_max_x;
    }
    call_method(a.axX, s_setRange, x_min, x_max);

    if (test(a.window_size, 20, Py_LE)) {
        Ref cnt = add(a.window_size, 1);
        if (test(cnt, 2, Py_GE)) call_method(a.axX, s_setTickCount, cnt);
    } else {
        ensure_tick_count(a.axX, 6);
    }

    if (a.fixed_y_range != Py_None) {
        set_fixed_range(a.axY, a.fixed_y_range);
        if (a.y_tick_cnt != Py_None)
            call_method(a.axY, s_setTickCount, a.y_tick_cnt);
        else
            ensure_tick_count(a.axY, 5);
        return none();
    }

    // Each history is sliced from -(window_size + 1), clamped as the host's slicing clamps it.
    Ref needed_history_count = add(a.window_size, 1);
    Ref from_end = Ref::steal(PyNumber_Negative(needed_history_count.get()));
    const Py_ssize_t slice_start = PyNumber_AsSsize_t(from_end.get(), nullptr);
    if (slice_start == -1 && PyErr_Occurred()) throw_error();

    RecentValues values;
    Ref capsule;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(a.buffers); ++i) {
        Ref buf = Ref::borrow(PyList_GET_ITEM(a.buffers, i));
        if (!truth(getattr(buf.get(), s_is_visible).get())) continue;
        Ref history = getattr(buf.get(), s_history);
        if (PyList_CheckExact(history.get())) {
            const Py_ssize_t n = PyList_GET_SIZE(history.get());
            if (n == 0) continue;
            Py_ssize_t start = slice_start, stop = PY_SSIZE_T_MAX;
            PySlice_AdjustIndices(n, &start, &stop, 1);
            values.take_list_tail(history.get(), start);
        } else if (const streaming::CApi* api = stream_api(history.get(), capsule)) {
            const Py_ssize_t n = api->history_length(history.get());
            if (n == 0) continue;
            Py_ssize_t start = slice_start, stop = PY_SSIZE_T_MAX;
            PySlice_AdjustIndices(n, &start, &stop, 1);
            values.take_doubles(*api, history.get(), start);
        } else {
            if (!truth(history.get())) continue;
            Ref slice = Ref::steal(PySlice_New(from_end.get(), nullptr, nullptr));
            Ref subset = Ref::steal(PyObject_GetItem(history.get(), slice.get()));
            // A slice that is a list (a live history view's, say) is folded as a list history is.
            if (PyList_CheckExact(subset.get()))
                values.take_list_tail(subset.get(), 0);
            else
                values.take_values(subset.get());
        }
    }
    const Extremes e = values.finish();
    if (!e) return none();

    PyObject* raw_min = e.lo.get();
    PyObject* raw_max = e.hi.get();
    Ref span = sub(raw_max, raw_min);

    if (test(span, 15, Py_LT)) {
        Ref new_min = sub(call_method(env.global(s_math), s_floor, raw_min), a.small_span_padding);
        Ref new_max = add(call_method(env.global(s_math), s_ceil, raw_max), a.small_span_padding);
        if (test(new_min, new_max, Py_EQ)) {
            new_min = sub(new_min, 1);
            new_max = add(new_max, 1);
        }
        call_method(a.axY, s_setRange, new_min, new_max);
        Ref auto_tick = add(sub(new_max, new_min), 1);
        if (!PyLong_CheckExact(auto_tick.get())) auto_tick = Ref::steal(PyNumber_Long(auto_tick.get()));
        Ref final_tick = auto_tick;
        if (a.y_tick_cnt != Py_None && test(auto_tick, 5, Py_GT)) final_tick = Ref::borrow(a.y_tick_cnt);
        if (test(final_tick, 2, Py_LT)) final_tick = int_of(2);
        call_method(a.axY, s_setTickCount, final_tick);
        return none();
    }

    set_range_with_margin(a.axY, raw_min, raw_max, span.get(), a.margin_ratio, numpy_float64(env));
    if (a.y_tick_cnt != Py_None)
        call_method(a.axY, s_setTickCount, a.y_tick_cnt);
    else
        ensure_tick_count(a.axY, 6);
    return none();
}

namespace {

// ---- sync_snapshot_chart ----

// The frame's NumPy min and max; when one of them is not finite, the extremes over the frame's
// finite values instead (empty when it has none).
Extremes frame_extremes(const Env& env, PyObject* data, PyObject* float64) {
    Extremes e;
    Ref np = env.global(s_np);
    e.lo = call_method(np, s_min, data);
    e.hi = call_method(np, s_max, data);
    if (!non_finite(e.lo.get(), float64) && !non_finite(e.hi.get(), float64)) return e;

    // A float array keeps to NumPy: data[np.isfinite(data)].
    PyObject* ndarray = state_of(env).ndarray.get();
    if (ndarray && reinterpret_cast<PyObject*>(Py_TYPE(data)) == ndarray) {
        Ref kind = getattr(getattr(data, s_dtype).get(), s_kind);
        if (PyUnicode_Check(kind.get()) && PyUnicode_CompareWithASCIIString(kind.get(), "f") == 0) {
            Ref finite = Ref::steal(PyObject_GetItem(data, call_method(np, s_isfinite, data).get()));
            if (length(finite.get()) == 0) return {};
            e.lo = call_method(np, s_min, finite);
            e.hi = call_method(np, s_max, finite);
            return e;
        }
    }
    Extremes finite;
    finite.take_finite(Ref::steal(PySequence_List(data)).get());
    return finite;
}

}  // namespace

// sync_snapshot_chart(buffers, axX, axY, fixed_y_range, margin_ratio)
Ref sync_snapshot_chart(const Env& env, const args::sync_snapshot_chart& a) {
    Ref global_y_min = float_of(INFINITY), global_y_max = float_of(-INFINITY);
    Ref global_x_min = float_of(INFINITY), global_x_max = float_of(-INFINITY);
    bool has_visible_data = false;
    PyObject* float64 = numpy_float64(env);

    flush_each(a.buffers, [&](const Ref& buf) {
        if (!truth(getattr(buf.get(), s_is_visible).get())) return;
        Ref data = getattr(buf.get(), s_last_snapshot_data);
        if (data.is_none()) return;
        has_visible_data = true;

        Ref offset = getattr(buf.get(), s_last_snapshot_offset);
        const Py_ssize_t d_len = length(data.get());
        // max_x lies one unit past the last point.
        Ref max_x = add(offset, static_cast<long long>(d_len));
        if (!non_finite(offset.get())) {
            if (test(offset.get(), global_x_min.get(), Py_LT)) global_x_min = offset;
            if (test(max_x.get(), global_x_max.get(), Py_GT)) global_x_max = std::move(max_x);
        }

        if (a.fixed_y_range != Py_None) return;
        // NumPy refuses to reduce an empty frame; it still counts for the x extent above.
        if (d_len == 0) return;
        Extremes e = frame_extremes(env, data.get(), float64);
        if (!e) return;
        if (test_value(e.lo.get(), global_y_min.get(), Py_LT, float64)) global_y_min = std::move(e.lo);
        if (test_value(e.hi.get(), global_y_max.get(), Py_GT, float64)) global_y_max = std::move(e.hi);
    });

    if (!has_visible_data) return none();

    if (test(global_x_min, INFINITY, Py_EQ)) global_x_min = int_of(0);
    if (test(global_x_max, -INFINITY, Py_EQ)) global_x_max = int_of(0);
    call_method(a.axX, s_setRange, global_x_min, global_x_max);

    if (a.fixed_y_range != Py_None) {
        set_fixed_range(a.axY, a.fixed_y_range);
        return none();
    }

    if (test_value(global_y_max.get(), global_y_min.get(), Py_GE, float64)) {
        Ref span = sub(global_y_max, global_y_min);
        set_range_with_margin(a.axY, global_y_min.get(), global_y_max.get(), span.get(), a.margin_ratio, float64);
    }
    return none();
}

}  // namespace plotdeck
