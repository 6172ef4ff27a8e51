// TimeSeriesBuffer: gathers appended points or a whole frame for one XY series until a flush.
#include "plotdeck.hpp"

#include <climits>

namespace {

using namespace lark;

const Name s_series{"series"}, s_history{"history"}, s_max_history{"max_history"}, s_last_x{"last_x"},
    s_last_snapshot_data{"last_snapshot_data"}, s_last_snapshot_offset{"last_snapshot_offset"},
    s__pending_points{"_pending_points"}, s__pending_snapshot{"_pending_snapshot"},
    s__pending_snapshot_offset{"_pending_snapshot_offset"};
const Name s_QPointF{"QPointF"};
const Name s_append{"append"}, s_replace{"replace"}, s_clear{"clear"}, s_isVisible{"isVisible"},
    s_setVisible{"setVisible"}, s_x{"x"};
const Name s_QXYSeries{"QXYSeries"}, s_replaceNp{"replaceNp"}, s_ndarray{"ndarray"}, s_float64{"float64"},
    s_require{"require"}, s_arange{"arange"}, s_ndim{"ndim"}, s_dtype{"dtype"}, s_kind{"kind"},
    s_itemsize{"itemsize"}, s_contiguous_aligned{"CA"};

Ref new_list() { return Ref::steal(PyList_New(0)); }

// The attributes are plain instance attributes that callers may replace, so a list is only
// assumed where it is one; anything else is served through its own methods.
void append_to(PyObject* seq, PyObject* item) {
    if (PyList_CheckExact(seq))
        check(PyList_Append(seq, item));
    else
        call_method(seq, s_append, item);
}

// len(history) > max_history, as the host compares them.
bool longer_than(Py_ssize_t n, PyObject* limit) {
    if (PyLong_CheckExact(limit)) {
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(limit, &overflow);
        if (overflow) return overflow < 0;
        if (v == -1 && PyErr_Occurred()) throw_error();
        return static_cast<long long>(n) > v;
    }
    Ref count = Ref::steal(PyLong_FromSsize_t(n));
    return compare(count.get(), limit, Py_GT);
}

// A float argument as a host float: the argument itself when it is one already.
Ref host_float(const Args& a, int i) {
    if (PyFloat_CheckExact(a[i])) return Ref::borrow(a[i]);
    return float_of(a.number(i));
}

void show(PyObject* series) {
    if (!truth(call_method(series, s_isVisible).get())) call_method(series, s_setVisible, true);
}

// TimeSeriesBuffer.__init__(self, series, max_history=10000)
Ref buffer_init(const Args& a) {
    PyObject* self = a[0];
    Ref zero_ref = int_of(0);
    PyObject* zero = zero_ref.get();
    setattr(self, s_series, a[1]);
    setattr(self, s_history, new_list().get());
    setattr(self, s_max_history, a[2]);
    setattr(self, s_last_x, zero);
    setattr(self, s_last_snapshot_data, Py_None);
    setattr(self, s_last_snapshot_offset, zero);
    setattr(self, s__pending_points, new_list().get());
    setattr(self, s__pending_snapshot, Py_None);
    setattr(self, s__pending_snapshot_offset, zero);
    return {};
}

// TimeSeriesBuffer.add_point(self, x, y): called for every sample, so it makes the QPointF
// and, only for arguments that are not floats already, the float objects.
Ref buffer_add_point(const Args& a) {
    PyObject* self = a[0];
    Ref x = host_float(a, 1);
    Ref y = host_float(a, 2);

    Ref history = getattr(self, s_history);
    append_to(history.get(), y.get());
    Ref limit = getattr(self, s_max_history);
    if (longer_than(length(history.get()), limit.get())) {
        if (PyList_CheckExact(history.get()))
            check(PyList_SetSlice(history.get(), 0, 1, nullptr));
        else
            check(PySequence_DelItem(history.get(), 0));
    }

    Ref pending = getattr(self, s__pending_points);
    Ref point = call(global(s_QPointF), x, y);
    append_to(pending.get(), point.get());
    return {};
}

// TimeSeriesBuffer.set_data(self, data, x_offset=0.0): the frame is kept as given, never copied.
Ref buffer_set_data(const Args& a) {
    PyObject* self = a[0];
    setattr(self, s__pending_snapshot, a[1]);
    setattr(self, s__pending_snapshot_offset, host_float(a, 2).get());
    return {};
}

const Name s_numpy{"numpy"}, s_PySide6_QtCharts{"PySide6.QtCharts"};

// A module that is already loaded, or an empty Ref.
Ref loaded_module(const Name& name) {
    Ref module = Ref::steal_nullable(PyImport_GetModule(name.get()));
    if (!module && PyErr_Occurred()) throw_error();
    return module;
}

bool text_equals(PyObject* o, const char* s) { return PyUnicode_Check(o) && PyUnicode_CompareWithASCIIString(o, s) == 0; }

// Writes a frame through QXYSeries.replaceNp when that gives exactly what replace(points)
// would: a PySide6 XY series whose `replace` is the binding's own, and a one-dimensional
// integer or real ndarray (at most 64-bit), handed over as contiguous, aligned native
// float64. replaceNp reads raw memory and silently writes nothing for mixed dtypes or
// strided views, so everything else goes through the point list. Returns false when the
// frame was not written here.
bool replace_from_numpy(PyObject* series, PyObject* frame, PyObject* offset) {
    if (!PyFloat_CheckExact(offset)) return false;
    Ref np = loaded_module(s_numpy);
    Ref charts = loaded_module(s_PySide6_QtCharts);
    if (!np || !charts) return false;

    Ref ndarray = getattr(np.get(), s_ndarray);
    if (reinterpret_cast<PyObject*>(Py_TYPE(frame)) != ndarray.get()) return false;
    Ref xy = getattr(charts.get(), s_QXYSeries);
    if (!PyType_Check(xy.get()) || !PyObject_TypeCheck(series, reinterpret_cast<PyTypeObject*>(xy.get())))
        return false;
    // The method the general path would call must be the binding's own, bound to this series.
    Ref own = getattr(xy.get(), s_replace);
    descrgetfunc bind_to = Py_TYPE(own.get())->tp_descr_get;
    if (!bind_to) return false;
    Ref expected = Ref::steal(bind_to(own.get(), series, reinterpret_cast<PyObject*>(Py_TYPE(series))));
    Ref actual = getattr(series, s_replace);
    if (!compare(actual.get(), expected.get(), Py_EQ)) return false;

    Ref ndim = getattr(frame, s_ndim);
    if (!PyLong_CheckExact(ndim.get()) || PyLong_AsLong(ndim.get()) != 1) return false;
    const Py_ssize_t n = length(frame);
    if (n == 0) return false;
    Ref dtype = getattr(frame, s_dtype);
    Ref kind = getattr(dtype.get(), s_kind);
    Ref itemsize_obj = getattr(dtype.get(), s_itemsize);
    const long itemsize = PyLong_AsLong(itemsize_obj.get());
    if (itemsize == -1 && PyErr_Occurred()) throw_error();
    const bool integral = text_equals(kind.get(), "i") || text_equals(kind.get(), "u");
    const bool real = text_equals(kind.get(), "f") && itemsize <= 8;
    if (!integral && !real) return false;

    Ref float64 = getattr(np.get(), s_float64);
    Ref y = call(getattr(np.get(), s_require), frame, float64, s_contiguous_aligned);
    Ref x = call_with_keywords(getattr(np.get(), s_arange), {static_cast<long long>(n)}, {{s_dtype, float64}});
    x = Ref::steal(PyNumber_InPlaceAdd(x.get(), offset));  // x = i + offset, as the point list has it
    call(getattr(xy.get(), s_replaceNp), series, x, y);
    return true;
}

// [QPointF(i + offset, v) for i, v in enumerate(frame)]
Ref snapshot_points(PyObject* frame, PyObject* offset) {
    Ref point_class = global(s_QPointF);
    Ref points = new_list();
    Ref it = Ref::steal(PyObject_GetIter(frame));
    const bool float_offset = PyFloat_CheckExact(offset);
    const double off = float_offset ? PyFloat_AS_DOUBLE(offset) : 0.0;
    for (Py_ssize_t i = 0;; ++i) {
        Ref v = Ref::steal_nullable(PyIter_Next(it.get()));
        if (!v) {
            if (PyErr_Occurred()) throw_error();
            break;
        }
        Ref x = float_offset ? float_of(static_cast<double>(i) + off)
                             : Ref::steal(PyNumber_Add(Ref::steal(PyLong_FromSsize_t(i)).get(), offset));
        check(PyList_Append(points.get(), call(point_class, x, v).get()));
    }
    return points;
}

// TimeSeriesBuffer.flush(self) -> bool
Ref buffer_flush(const Args& a) {
    PyObject* self = a[0];

    Ref frame = getattr(self, s__pending_snapshot);
    if (!frame.is_none()) {
        Ref offset = getattr(self, s__pending_snapshot_offset);
        Ref series = getattr(self, s_series);
        if (!replace_from_numpy(series.get(), frame.get(), offset.get())) {
            Ref points = snapshot_points(frame.get(), offset.get());
            series = getattr(self, s_series);
            call_method(series, s_replace, points);
        }
        // Only a frame that reached the series stops being pending.
        setattr(self, s_last_snapshot_data, frame.get());
        setattr(self, s_last_snapshot_offset, offset.get());
        setattr(self, s__pending_snapshot, Py_None);
        show(getattr(self, s_series).get());
        return Ref::borrow(Py_True);
    }

    Ref pending = getattr(self, s__pending_points);
    if (!truth(pending.get())) return Ref::borrow(Py_False);
    Ref series = getattr(self, s_series);
    call_method(series, s_append, pending);
    Ref last = Ref::steal(PySequence_GetItem(pending.get(), -1));
    setattr(self, s_last_x, call_method(last, s_x).get());
    if (PyList_CheckExact(pending.get()))
        check(PyList_SetSlice(pending.get(), 0, PyList_GET_SIZE(pending.get()), nullptr));
    else
        call_method(pending, s_clear);
    show(getattr(self, s_series).get());
    return Ref::borrow(Py_True);
}

// TimeSeriesBuffer.clear(self)
Ref buffer_clear(const Args& a) {
    PyObject* self = a[0];
    call_method(getattr(self, s_series), s_clear);
    setattr(self, s_history, new_list().get());
    setattr(self, s__pending_points, new_list().get());
    setattr(self, s__pending_snapshot, Py_None);
    setattr(self, s_last_snapshot_data, Py_None);
    setattr(self, s_last_x, int_of(0).get());
    return {};
}

// TimeSeriesBuffer.is_visible (property getter)
Ref buffer_is_visible(const Args& a) { return call_method(getattr(a[0], s_series), s_isVisible); }

}  // namespace

namespace plotdeck {

const lark::FunctionSpec buffer_init{
    "__init__",
    "TimeSeriesBuffer.__init__",
    nullptr,
    nullptr,
    {lark::any("self"), lark::any("series", "QLineSeries"), lark::optional(lark::integer("max_history"))},
    ::buffer_init,
};

const lark::FunctionSpec buffer_add_point{
    "add_point",
    "TimeSeriesBuffer.add_point",
    "Producer: Append a single point (Scrolling mode)",
    nullptr,
    {lark::any("self"), lark::real("x"), lark::real("y")},
    ::buffer_add_point,
};

const lark::FunctionSpec buffer_set_data{
    "set_data",
    "TimeSeriesBuffer.set_data",
    "Producer: Replace entire series with new data (Snapshot mode)",
    nullptr,
    {lark::any("self"), lark::any("data", "np.ndarray"), lark::optional(lark::real("x_offset"))},
    ::buffer_set_data,
};

const lark::FunctionSpec buffer_flush{
    "flush",
    "TimeSeriesBuffer.flush",
    "Consumer: Writes buffer to Series. Returns True if updated.",
    "bool",
    {lark::any("self")},
    ::buffer_flush,
};

const lark::FunctionSpec buffer_clear{
    "clear", "TimeSeriesBuffer.clear", "Clear all data", nullptr, {lark::any("self")}, ::buffer_clear,
};

const lark::FunctionSpec buffer_is_visible{
    "is_visible", "TimeSeriesBuffer.is_visible", nullptr, "bool", {lark::any("self")}, ::buffer_is_visible,
};

const char* const buffer_class_doc =
    "\n    Encapsulates buffering logic for both \"Scrolling Time Series\" (Append) \n"
    "    and \"Frame Snapshot\" (Replace).\n    ";

}  // namespace plotdeck
