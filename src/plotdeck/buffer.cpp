// TimeSeriesBuffer: gathers appended points or a whole frame for one XY series until a flush.
//
// The buffer's state is plain instance attributes that callers, and series that call back into
// the buffer, may replace at any moment. So every step reads the attributes it names when it
// runs, as the same steps written in Python would, and only exact lists get a shortcut.
#include "callables.gen.hpp"

#include "arrays.hpp"
#include "lookup.hpp"
#include "names.hpp"

#include <cstdint>
#include <cstring>
#include <optional>

namespace plotdeck {

using namespace lark;

namespace {

const Name s_series{"series"}, s_max_history{"max_history"}, s__pending_points{"_pending_points"},
    s__pending_snapshot{"_pending_snapshot"}, s__pending_snapshot_offset{"_pending_snapshot_offset"};

Ref new_list() { return Ref::steal(PyList_New(0)); }

// seq.append(make()): the method is looked up before `make` runs, as `seq.append(...)` does.
template <class Make>
void append_made(PyObject* seq, Make&& make) {
    if (PyList_CheckExact(seq)) {
        Ref item = make();
        check(PyList_Append(seq, item.get()));
        return;
    }
    Ref method = getattr(seq, s_append);
    Ref item = make();
    call(method, item);
}

// PySide6's QXYSeries, when the module found it: the class whose attribute lookup is plain.
PyTypeObject* xy_series_type(const Env& env) {
    PyObject* type = state_of(env).QXYSeries.get();
    return type && PyType_Check(type) ? reinterpret_cast<PyTypeObject*>(type) : nullptr;
}

// if not self.series.isVisible(): self.series.setVisible(True)
void show_series(const Env& env, PyObject* self) {
    Ref series = getattr(self, s_series);
    if (!truth(call_method_plainly(series.get(), s_isVisible, xy_series_type(env)).get()))
        call_method(getattr(self, s_series), s_setVisible, true);
}

// ---- __init__, add_point, set_data ----

}  // namespace

// TimeSeriesBuffer.__init__(self, series, max_history=10000)
Ref time_series_buffer_init(const Env&, const args::time_series_buffer_init& a) {
    Ref zero = int_of(0);
    setattr(a.self, s_series, a.series);
    setattr(a.self, s_history, new_list().get());
    setattr(a.self, s_max_history, a.max_history);
    setattr(a.self, s_last_x, zero.get());
    setattr(a.self, s_last_snapshot_data, Py_None);
    setattr(a.self, s_last_snapshot_offset, zero.get());
    setattr(a.self, s__pending_points, new_list().get());
    setattr(a.self, s__pending_snapshot, Py_None);
    setattr(a.self, s__pending_snapshot_offset, zero.get());
    return none();
}

namespace {

// len(history) > max_history, as the host compares them; an int limit is compared in C.
bool longer_than(Py_ssize_t n, PyObject* limit) {
    if (PyLong_CheckExact(limit)) {
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(limit, &overflow);
        if (!overflow && !(v == -1 && PyErr_Occurred())) return n > v;
        if (overflow) return overflow < 0;
        throw_error();
    }
    return compare(int_of(n).get(), limit, Py_GT);
}

}  // namespace

// TimeSeriesBuffer.add_point(self, x, y): called for every sample.
Ref time_series_buffer_add_point(const Env& env, const args::time_series_buffer_add_point& a) {
    Ref x = a.x.as_float();
    Ref y = a.y.as_float();

    // An exact list takes the value without running any code, so the history read once is the one
    // that the length and the removal would read; another kind of history is read at each step.
    Ref history = getattr(a.self, s_history);
    const bool plain = PyList_CheckExact(history.get());
    append_made(history.get(), [&] { return y; });
    if (!plain) history = getattr(a.self, s_history);
    const Py_ssize_t n = plain ? PyList_GET_SIZE(history.get()) : length(history.get());
    if (longer_than(n, getattr(a.self, s_max_history).get())) {
        if (!plain) history = getattr(a.self, s_history);
        if (PyList_CheckExact(history.get()))
            check(PyList_SetSlice(history.get(), 0, 1, nullptr));
        else
            check(PyObject_DelItem(history.get(), int_of(0).get()));
    }

    append_made(getattr(a.self, s__pending_points).get(), [&] { return call(env.global(s_QPointF), x, y); });
    return none();
}

// TimeSeriesBuffer.set_data(self, data, x_offset=0.0): the frame is kept as given, never copied.
Ref time_series_buffer_set_data(const Env&, const args::time_series_buffer_set_data& a) {
    setattr(a.self, s__pending_snapshot, a.data);
    setattr(a.self, s__pending_snapshot_offset, a.x_offset.as_float().get());
    return none();
}

namespace {

// ---- flush ----
//
// A frame goes to the series in one replace(points) call, the points made one by one. Where the
// series is a genuine PySide6 XY series whose `replace` is the binding's own, the same points
// are written in one replaceNp call from two arrays of doubles filled in C instead (it reads
// raw memory: only contiguous, aligned, native float64 arrays of equal length write anything).
// That is done for a frame whose values the point constructor would take as plain numbers and
// whose making runs no code: an exact one-dimensional ndarray of a native integer or real type
// of at most 64 bits, or an exact list or tuple of exact floats and ints that fit a double, with
// at least one value, a float offset and the module's QPointF still PySide6's own.

// A float64 array of n values that a flush fills, kept in the module state from one flush to the
// next: frames of one length are the rule. Null for a stand-in NumPy: no fast path then.
double* scratch(const Env& env, lark::Doubles& array, Py_ssize_t n) {
    return array.fit(state_of(env).empty.get(), state_of(env).float64.get(), n);
}

// The values of one frame as doubles, and the arrays replaceNp takes: `y` is the frame itself
// when it is contiguous native float64 already, else the module's scratch array.
struct FrameValues {
    Ref x, y;
};

// The native format of a buffer's items ("d", "@d", "=d"; "<d" on a little-endian machine).
char native_format(const Py_buffer& view) {
    const char* f = view.format;
    if (!f) return 'B';
    if (f[0] == '@' || f[0] == '=' || f[0] == (PY_LITTLE_ENDIAN ? '<' : '>')) ++f;
    return f[0] && !f[1] ? f[0] : 0;
}

// The items of a one-dimensional buffer of T, as the point constructor takes them.
template <class T>
bool read_items(const Py_buffer& view, double* out) {
    if (view.itemsize != sizeof(T)) return false;
    const char* p = static_cast<const char*>(view.buf);
    for (Py_ssize_t k = 0; k < view.shape[0]; ++k, p += view.strides[0]) {
        T v;
        std::memcpy(&v, p, sizeof v);
        out[k] = static_cast<double>(v);
    }
    return true;
}

// The items of a one-dimensional buffer of a native integer or real type of at most 64 bits as
// doubles; false for any other format.
bool read_numeric(const Py_buffer& view, double* out) {
    switch (native_format(view)) {
        case 'd': return read_items<double>(view, out);
        case 'f': return read_items<float>(view, out);
        case 'b': return read_items<signed char>(view, out);
        case 'B': return read_items<unsigned char>(view, out);
        case 'h': return read_items<short>(view, out);
        case 'H': return read_items<unsigned short>(view, out);
        case 'i': return read_items<int>(view, out);
        case 'I': return read_items<unsigned int>(view, out);
        case 'l': return read_items<long>(view, out);
        case 'L': return read_items<unsigned long>(view, out);
        case 'q': return read_items<long long>(view, out);
        case 'Q': return read_items<unsigned long long>(view, out);
        default: return false;
    }
}

// The frame's values for replaceNp, or nothing when the frame is not one the fast path writes
// exactly (nothing has been called then).
std::optional<FrameValues> frame_values(const Env& env, PyObject* frame, PyObject* offset) {
    const State& state = state_of(env);
    if (!PyFloat_CheckExact(offset) || !state.empty || !state.float64) return {};
    Py_ssize_t n = 0;
    FrameValues values;
    if (state.ndarray && reinterpret_cast<PyObject*>(Py_TYPE(frame)) == state.ndarray.get()) {
        Py_buffer view;
        if (PyObject_GetBuffer(frame, &view, PyBUF_STRIDES | PyBUF_FORMAT) < 0) {
            expect_error(PyExc_BufferError);
            return {};
        }
        const bool numeric = view.ndim == 1 && view.shape[0] > 0;
        n = numeric ? view.shape[0] : 0;
        if (numeric && native_format(view) == 'd' && view.strides[0] == sizeof(double) &&
            reinterpret_cast<std::uintptr_t>(view.buf) % alignof(double) == 0) {
            values.y = Ref::borrow(frame);
        } else if (double* y = numeric ? scratch(env, state.y_scratch, n) : nullptr; !y || !read_numeric(view, y)) {
            n = 0;
        }
        PyBuffer_Release(&view);
        if (!n) return {};
        if (!values.y) values.y = state.y_scratch.array();
    } else if (PyList_CheckExact(frame) || PyTuple_CheckExact(frame)) {
        n = PySequence_Fast_GET_SIZE(frame);
        PyObject** items = PySequence_Fast_ITEMS(frame);
        for (Py_ssize_t k = 0; k < n; ++k)
            if (!PyFloat_CheckExact(items[k]) && !PyLong_CheckExact(items[k])) return {};
        double* y = n ? scratch(env, state.y_scratch, n) : nullptr;
        if (!y) return {};
        // Nothing above ran any code, so the items are still the ones checked.
        items = PySequence_Fast_ITEMS(frame);
        for (Py_ssize_t k = 0; k < n; ++k) {
            y[k] = PyFloat_CheckExact(items[k]) ? PyFloat_AS_DOUBLE(items[k]) : PyLong_AsDouble(items[k]);
            if (y[k] == -1.0 && PyErr_Occurred()) {
                expect_error(PyExc_OverflowError);  // the point constructor reports it
                return {};
            }
        }
        values.y = state.y_scratch.array();
    } else {
        return {};
    }
    // x = i + offset, as the point list has it; the array is refilled only for another length or
    // offset (0 + offset decides all of it: -0.0 and 0.0 give the same points).
    const double first = 0.0 + PyFloat_AS_DOUBLE(offset);
    const bool fresh = state.x_scratch.size() != n;
    double* x = scratch(env, state.x_scratch, n);
    if (!x) return {};
    if (fresh || std::memcmp(&first, x, sizeof first) != 0)
        for (Py_ssize_t i = 0; i < n; ++i) x[i] = static_cast<double>(i) + PyFloat_AS_DOUBLE(offset);
    values.x = state.x_scratch.array();
    return values;
}

// [QPointF(i + offset, v) for i, v in enumerate(frame)], QPointF looked up for each point.
Ref snapshot_points(const Env& env, PyObject* frame, PyObject* offset) {
    Ref points = new_list();
    Ref it = Ref::steal(PyObject_GetIter(frame));
    for (Py_ssize_t i = 0;; ++i) {
        Ref v = Ref::steal_nullable(PyIter_Next(it.get()));
        if (!v) {
            if (PyErr_Occurred()) throw_error();
            break;
        }
        Ref point_class = env.global(s_QPointF);
        Ref x = Ref::steal(PyNumber_Add(Ref::steal(PyLong_FromSsize_t(i)).get(), offset));
        check(PyList_Append(points.get(), call(point_class, x, v).get()));
    }
    return points;
}


}  // namespace

// TimeSeriesBuffer.flush(self) -> bool. A pending frame goes first; pending points wait for
// the next flush.
Ref time_series_buffer_flush(const Env& env, const args::time_series_buffer_flush& a) {
    PyObject* self = a.self;

    if (!getattr(self, s__pending_snapshot).is_none()) {
        Ref offset = getattr(self, s__pending_snapshot_offset);
        Ref frame = getattr(self, s__pending_snapshot);
        // With the module's own QPointF and such a frame, making the points runs no code, so the
        // series read before them is the one the documented step reads after them.
        std::optional<FrameValues> values = frame_values(env, frame.get(), offset.get());
        if (values && env.global(s_QPointF).get() == state_of(env).QPointF.get()) {
            Ref series = getattr(self, s_series);
            const State& state = state_of(env);
            if (takes_replace_np(series.get(), state.QXYSeries.get(), state.replace.get(), state.replaceNp.get()))
                call(state_of(env).replaceNp, series, values->x, values->y);
            else
                call_method(series, s_replace, snapshot_points(env, frame.get(), offset.get()));
        } else {
            Ref points = snapshot_points(env, frame.get(), offset.get());
            call_method(getattr(self, s_series), s_replace, points);
        }
        setattr(self, s_last_snapshot_data, getattr(self, s__pending_snapshot).get());
        setattr(self, s_last_snapshot_offset, offset.get());
        setattr(self, s__pending_snapshot, Py_None);
        show_series(env, self);
        return Ref::of(true);
    }

    if (!truth(getattr(self, s__pending_points).get())) return Ref::of(false);
    {
        Ref append = getattr(getattr(self, s_series).get(), s_append);
        call(append, getattr(self, s__pending_points));
    }
    Ref last = Ref::steal(PyObject_GetItem(getattr(self, s__pending_points).get(), int_of(-1).get()));
    setattr(self, s_last_x, call_method(last, s_x).get());
    Ref pending = getattr(self, s__pending_points);
    if (PyList_CheckExact(pending.get()))
        check(PyList_SetSlice(pending.get(), 0, PyList_GET_SIZE(pending.get()), nullptr));
    else
        call_method(pending, s_clear);
    show_series(env, self);
    return Ref::of(true);
}

namespace {

// ---- clear, is_visible ----

}  // namespace

// TimeSeriesBuffer.clear(self)
Ref time_series_buffer_clear(const Env&, const args::time_series_buffer_clear& a) {
    call_method(getattr(a.self, s_series), s_clear);
    setattr(a.self, s_history, new_list().get());
    setattr(a.self, s__pending_points, new_list().get());
    setattr(a.self, s__pending_snapshot, Py_None);
    setattr(a.self, s_last_snapshot_data, Py_None);
    setattr(a.self, s_last_x, int_of(0).get());
    return none();
}

// TimeSeriesBuffer.is_visible (property getter)
Ref time_series_buffer_is_visible(const Env& env, const args::time_series_buffer_is_visible& a) {
    return call_method_plainly(getattr(a.self, s_series).get(), s_isVisible, xy_series_type(env));
}

}  // namespace plotdeck
