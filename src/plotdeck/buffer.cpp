// TimeSeriesBuffer: gathers appended points or a whole frame for one XY series until a flush.
//
// The buffer's state is plain instance attributes that callers, and series that call back into
// the buffer, may replace at any moment. So every step reads the attributes it names when it
// runs, as the same steps written in Python would, and only exact lists get a shortcut.
#include "callables.gen.hpp"

#include "lookup.hpp"

namespace plotdeck {

using namespace lark;

namespace {

const Name s_series{"series"}, s_history{"history"}, s_max_history{"max_history"}, s_last_x{"last_x"},
    s_last_snapshot_data{"last_snapshot_data"}, s_last_snapshot_offset{"last_snapshot_offset"},
    s__pending_points{"_pending_points"}, s__pending_snapshot{"_pending_snapshot"},
    s__pending_snapshot_offset{"_pending_snapshot_offset"};
const Name s_QPointF{"QPointF"};
const Name s_append{"append"}, s_replace{"replace"}, s_clear{"clear"}, s_isVisible{"isVisible"},
    s_setVisible{"setVisible"}, s_x{"x"};
const Name s_ndim{"ndim"}, s_dtype{"dtype"}, s_kind{"kind"}, s_itemsize{"itemsize"}, s_contiguous_aligned{"CA"};

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

// if not self.series.isVisible(): self.series.setVisible(True)
void show_series(PyObject* self) {
    if (!truth(call_method(getattr(self, s_series), s_isVisible).get()))
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

// len(history) > max_history, as the host compares them.
bool longer_than(Py_ssize_t n, PyObject* limit) { return compare(int_of(n).get(), limit, Py_GT); }

}  // namespace

// TimeSeriesBuffer.add_point(self, x, y): called for every sample.
Ref time_series_buffer_add_point(const Env& env, const args::time_series_buffer_add_point& a) {
    Ref x = a.x.as_float();
    Ref y = a.y.as_float();

    append_made(getattr(a.self, s_history).get(), [&] { return y; });
    const Py_ssize_t n = length(getattr(a.self, s_history).get());
    if (longer_than(n, getattr(a.self, s_max_history).get())) {
        Ref history = getattr(a.self, s_history);
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

bool text_equals(PyObject* o, const char* s) {
    return PyUnicode_Check(o) && PyUnicode_CompareWithASCIIString(o, s) == 0;
}

// A NumPy frame that QXYSeries.replaceNp writes exactly as replace(points) would: an exact
// one-dimensional ndarray of integers or reals of at most 64 bits (replaceNp reads raw memory,
// so the values are handed over as contiguous, aligned, native float64), with at least one
// value (an empty frame needs no QPointF at all) and a float offset. Runs no Python code.
bool numpy_frame(const Env& env, PyObject* frame, PyObject* offset) {
    PyObject* ndarray = state_of(env).ndarray.get();
    if (!ndarray || reinterpret_cast<PyObject*>(Py_TYPE(frame)) != ndarray || !PyFloat_CheckExact(offset)) return false;
    bool fits = false;
    Ref ndim = Ref::steal_nullable(PyObject_GetAttr(frame, s_ndim.get()));
    if (ndim && PyLong_CheckExact(ndim.get()) && PyLong_AsLong(ndim.get()) == 1 && PyObject_Length(frame) > 0) {
        Ref dtype = Ref::steal_nullable(PyObject_GetAttr(frame, s_dtype.get()));
        Ref kind = dtype ? Ref::steal_nullable(PyObject_GetAttr(dtype.get(), s_kind.get())) : Ref();
        Ref size = dtype ? Ref::steal_nullable(PyObject_GetAttr(dtype.get(), s_itemsize.get())) : Ref();
        const long itemsize = size && PyLong_CheckExact(size.get()) ? PyLong_AsLong(size.get()) : 0;
        fits = kind && itemsize > 0 && itemsize <= 8 &&
               (text_equals(kind.get(), "i") || text_equals(kind.get(), "u") || text_equals(kind.get(), "f"));
    }
    PyErr_Clear();  // deciding never fails: when in doubt, the point list
    return fits;
}

// Writes the frame with QXYSeries.replaceNp when the series is a genuine XY series whose
// `replace` is the binding's own; false (nothing written) otherwise.
bool replace_from_numpy(const Env& env, PyObject* series, PyObject* frame, PyObject* offset) {
    PyObject* xy = state_of(env).QXYSeries.get();
    PyObject* own_replace = state_of(env).replace.get();
    PyObject* replace_np = state_of(env).replaceNp.get();
    PyObject* float64 = state_of(env).float64.get();
    PyObject* require = state_of(env).require.get();
    PyObject* arange = state_of(env).arange.get();
    if (!xy || !own_replace || !replace_np || !float64 || !require || !arange || !PyType_Check(xy)) return false;
    auto* xy_type = reinterpret_cast<PyTypeObject*>(xy);
    if (plain_lookup(series, s_replace, xy_type) != own_replace) return false;

    const Py_ssize_t n = length(frame);
    Ref y = call(require, frame, float64, s_contiguous_aligned);
    Ref x = call_with_keywords(arange, {static_cast<long long>(n)}, {{s_dtype, float64}});
    x = Ref::steal(PyNumber_InPlaceAdd(x.get(), offset));  // x = i + offset, as the point list has it
    call(replace_np, series, x, y);
    return true;
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
        if (numpy_frame(env, frame.get(), offset.get())) {
            // The points would be built here; they need the module's QPointF, which must be
            // PySide6's own for replaceNp to write the same.
            Ref point_class = env.global(s_QPointF);
            Ref series = getattr(self, s_series);
            if (point_class.get() != state_of(env).QPointF.get() ||
                !replace_from_numpy(env, series.get(), frame.get(), offset.get()))
                call_method(series, s_replace, snapshot_points(env, frame.get(), offset.get()));
        } else {
            Ref points = snapshot_points(env, frame.get(), offset.get());
            call_method(getattr(self, s_series), s_replace, points);
        }
        setattr(self, s_last_snapshot_data, getattr(self, s__pending_snapshot).get());
        setattr(self, s_last_snapshot_offset, offset.get());
        setattr(self, s__pending_snapshot, Py_None);
        show_series(self);
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
    show_series(self);
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
Ref time_series_buffer_is_visible(const Env&, const args::time_series_buffer_is_visible& a) { return call_method(getattr(a.self, s_series), s_isVisible); }

}  // namespace plotdeck
