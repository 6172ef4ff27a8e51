// StreamBuffer: the newest samples of one XY series in a store of its own, written to the
// series as a whole window in one bulk call.
#include "streaming.hpp"

#include "lookup.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace streaming {

using namespace lark;

namespace {

const Name s_QPointF{"QPointF"}, s_replace{"replace"}, s_clear{"clear"}, s_isVisible{"isVisible"},
    s_setVisible{"setVisible"}, s_dtype{"dtype"};

StreamBufferObject* as_buffer(PyObject* o) noexcept { return reinterpret_cast<StreamBufferObject*>(o); }

// `self` of a member called through the class: a StreamBuffer that __init__ has set up.
StreamBufferObject* buffer_of(const Env& env, PyObject* self, const char* member, bool initialised = true) {
    if (!PyObject_TypeCheck(self, reinterpret_cast<PyTypeObject*>(state_of(env).StreamBuffer.get())))
        raise_format(PyExc_TypeError, "descriptor '%s' for 'StreamBuffer' objects doesn't apply to a '%.100s' object",
                     member, Py_TYPE(self)->tp_name);
    StreamBufferObject* b = as_buffer(self);
    if (initialised && !b->ring.ready())
        raise_format(PyExc_RuntimeError, "this StreamBuffer was never initialised: StreamBuffer.__init__ did not run");
    return b;
}

PyObject* series_of(StreamBufferObject* b) {
    if (!b->series) raise_format(PyExc_AttributeError, "'StreamBuffer' object has no attribute 'series'");
    return b->series;
}

// ---- __init__ ----

// A count of points given as an int, within [least, max_points].
Py_ssize_t count_of(PyObject* value, const char* what, Py_ssize_t least) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (v == -1 && PyErr_Occurred()) throw_error();
    if (overflow < 0 || (!overflow && v < least))
        raise_format(PyExc_ValueError, "%s must be at least %zd (got %R)", what, least, value);
    if (overflow > 0 || v > max_points)
        raise_format(PyExc_ValueError, "%s of %R points is more than a StreamBuffer holds (at most %zd)", what, value,
                     max_points);
    return static_cast<Py_ssize_t>(v);
}

OutArray new_out_array(const Env& env, Py_ssize_t size) {
    PyObject* empty = state_of(env).empty.get();
    PyObject* float64 = state_of(env).float64.get();
    if (!empty || !float64) raise_format(PyExc_RuntimeError, "numpy.empty and numpy.float64 were not found at import");
    OutArray out;
    out.array = call_with_keywords(empty, {static_cast<long long>(size)}, {{s_dtype, float64}}).release();
    if (PyObject_GetBuffer(out.array, &out.view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) {
        Py_CLEAR(out.array);
        throw_error();
    }
    return out;
}

}  // namespace

// StreamBuffer.__init__(self, series, window, *, display_budget=None, max_history=10000)
Ref stream_buffer_init(const Env& env, const args::stream_buffer_init& a) {
    StreamBufferObject* b = buffer_of(env, a.self, "__init__", false);
    const Py_ssize_t window = count_of(a.window, "window", 1);
    const Py_ssize_t budget = a.display_budget == Py_None ? 0 : count_of(a.display_budget, "display_budget", 2);
    // A history of 0 or less keeps no values, as TimeSeriesBuffer's does.
    const Py_ssize_t history =
        compare(a.max_history, int_of(0).get(), Py_LE) ? 0 : count_of(a.max_history, "max_history", 0);

    // Everything new is made before anything old is let go, so a failure leaves the buffer as it was.
    Ring ring;
    FloatRing values;
    if (!ring.allocate(std::max(window, history)) || !values.allocate(history)) {
        PyErr_NoMemory();
        throw_error();
    }
    const Py_ssize_t written = budget && window > budget ? 3 * (budget / 2) : window;
    OutArray out_x = new_out_array(env, written);
    OutArray out_y;
    try {
        out_y = new_out_array(env, written);
    } catch (...) {
        out_x.release();
        throw;
    }
    b->out_x.release();
    b->out_y.release();
    b->ring = std::move(ring);
    b->history = std::move(values);
    b->out_x = out_x;
    b->out_y = out_y;
    b->window = window;
    b->display_budget = budget;
    b->max_history = history;
    b->written = b->added;
    ++b->clears;  // a flush under way leaves the fresh state alone
    Py_XSETREF(b->series, Py_NewRef(a.series));
    Py_XSETREF(b->last_x, int_of(0).release());
    return none();
}

namespace {

// ---- producers ----

}  // namespace

// StreamBuffer.add_point(self, x, y): one sample, stored as two doubles.
Ref stream_buffer_add_point(const Env& env, const args::stream_buffer_add_point& a) {
    StreamBufferObject* b = buffer_of(env, a.self, "add_point");
    Ref y = a.y.as_float();
    b->ring.push(a.x.value, a.y.value);
    b->history.push(y.release());
    ++b->added;
    return none();
}

namespace {

// The doubles of a one-dimensional block: its own memory when it is contiguous native float64,
// else numpy.ascontiguousarray(block, dtype=numpy.float64).
class Block {
    Ref owner_;
    Py_buffer view_{};
    bool held_ = false;

public:
    Block(const Env& env, PyObject* block, const char* name) {
        if (block == Py_None)  // NumPy would take it for a NaN
            raise_format(PyExc_TypeError, "add_points takes arrays or sequences of numbers, not None (%s)", name);
        if (PyObject_CheckBuffer(block) && PyObject_GetBuffer(block, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) == 0) {
            held_ = true;
            const char* f = view_.format;
            const bool native_double = f && (!std::strcmp(f, "d") || !std::strcmp(f, "@d") || !std::strcmp(f, "=d"));
            if (native_double && view_.ndim == 1 && view_.itemsize == 8) {
                owner_ = Ref::borrow(block);
                return;
            }
            PyBuffer_Release(&view_);
            held_ = false;
        }
        PyErr_Clear();
        PyObject* convert = state_of(env).ascontiguousarray.get();
        PyObject* float64 = state_of(env).float64.get();
        if (!convert || !float64) raise_format(PyExc_RuntimeError, "numpy.ascontiguousarray was not found at import");
        owner_ = call_with_keywords(convert, {block}, {{s_dtype, float64}});
        check(PyObject_GetBuffer(owner_.get(), &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT));
        if (view_.ndim != 1) {
            const int ndim = view_.ndim;
            PyBuffer_Release(&view_);
            raise_format(PyExc_ValueError, "add_points takes one-dimensional blocks (%s has %d dimensions)", name, ndim);
        }
        held_ = true;
    }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    ~Block() {
        if (held_) PyBuffer_Release(&view_);
    }
    const double* data() const noexcept { return static_cast<const double*>(view_.buf); }
    Py_ssize_t size() const noexcept { return view_.len / 8; }
};

}  // namespace

// StreamBuffer.add_points(self, x, y): a block of samples, as a source delivers it.
Ref stream_buffer_add_points(const Env& env, const args::stream_buffer_add_points& a) {
    StreamBufferObject* b = buffer_of(env, a.self, "add_points");
    const Block x(env, a.x, "x"), y(env, a.y, "y");
    if (x.size() != y.size())
        raise_format(PyExc_ValueError, "add_points takes blocks of equal length (x has %zd values, y has %zd)",
                     x.size(), y.size());
    if (!x.size()) return none();
    // The history's floats are made first, so that running out of memory changes nothing.
    const Py_ssize_t kept = std::min(x.size(), b->history.capacity());
    std::vector<Ref> values(static_cast<std::size_t>(kept));
    for (Py_ssize_t i = 0; i < kept; ++i) values[static_cast<std::size_t>(i)] = float_of(y.data()[x.size() - kept + i]);
    b->ring.push_block(x.data(), y.data(), x.size());
    for (Ref& v : values) b->history.push(v.release());
    b->added += static_cast<unsigned long long>(x.size());
    return none();
}

namespace {

// ---- flush, clear ----

Ref slice_of(PyObject* array, Py_ssize_t n) {
    Ref stop = Ref::steal(PyLong_FromSsize_t(n));
    Ref range = Ref::steal(PySlice_New(nullptr, stop.get(), nullptr));
    return Ref::steal(PyObject_GetItem(array, range.get()));
}

// The window laid out in the out arrays goes to the series in one call: replaceNp for a
// genuine PySide6 XY series whose `replace` is the binding's own (it takes the arrays as they
// are), replace(points) for anything else.
void write_window(const Env& env, PyObject* series, const Ref& xs, const Ref& ys, Py_ssize_t m) {
    PyObject* xy = state_of(env).QXYSeries.get();
    PyObject* own_replace = state_of(env).replace.get();
    PyObject* replace_np = state_of(env).replaceNp.get();
    if (xy && PyType_Check(xy) && own_replace && replace_np &&
        plain_lookup(series, s_replace, reinterpret_cast<PyTypeObject*>(xy)) == own_replace) {
        call(replace_np, series, slice_of(xs.get(), m), slice_of(ys.get(), m));
        return;
    }
    // The values are copied first: making the points may run code that re-makes the arrays.
    Py_buffer vx, vy;
    check(PyObject_GetBuffer(xs.get(), &vx, PyBUF_C_CONTIGUOUS));
    std::vector<double> x(static_cast<const double*>(vx.buf), static_cast<const double*>(vx.buf) + m);
    PyBuffer_Release(&vx);
    check(PyObject_GetBuffer(ys.get(), &vy, PyBUF_C_CONTIGUOUS));
    std::vector<double> y(static_cast<const double*>(vy.buf), static_cast<const double*>(vy.buf) + m);
    PyBuffer_Release(&vy);

    Ref point_class = env.global(s_QPointF);
    Ref points = Ref::steal(PyList_New(m));
    for (Py_ssize_t i = 0; i < m; ++i)
        PyList_SET_ITEM(points.get(), i, call(point_class, x[static_cast<std::size_t>(i)],
                                              y[static_cast<std::size_t>(i)]).release());
    call_method(series, s_replace, points);
}

}  // namespace

// StreamBuffer.flush(self) -> bool: writes the window when samples arrived since the last flush.
Ref stream_buffer_flush(const Env& env, const args::stream_buffer_flush& a) {
    StreamBufferObject* b = buffer_of(env, a.self, "flush");
    if (b->added == b->written) return Ref::of(false);
    Ref series = Ref::borrow(series_of(b));

    const Py_ssize_t n = std::min(b->ring.size(), b->window);
    const Py_ssize_t m = b->display_budget && n > b->display_budget
                             ? decimate(b->ring, n, b->display_budget / 2, b->out_x.data(), b->out_y.data())
                             : copy_window(b->ring, n, b->out_x.data(), b->out_y.data());
    const double newest_x = b->ring.x(b->ring.index(n, n - 1));
    const unsigned long long copied = b->added, clears = b->clears;
    write_window(env, series.get(), Ref::borrow(b->out_x.array), Ref::borrow(b->out_y.array), m);

    // A clear() while the series was being written leaves what it reset alone.
    if (b->clears == clears) {
        b->written = copied;
        Py_XSETREF(b->last_x, float_of(newest_x).release());
    }
    if (!truth(call_method(series_of(b), s_isVisible).get())) call_method(series_of(b), s_setVisible, true);
    return Ref::of(true);
}


// StreamBuffer.clear(self)
Ref stream_buffer_clear(const Env& env, const args::stream_buffer_clear& a) {
    StreamBufferObject* b = buffer_of(env, a.self, "clear");
    call_method(series_of(b), s_clear);
    b->ring.clear();
    b->history.clear();
    b->written = b->added;
    ++b->clears;
    Py_XSETREF(b->last_x, int_of(0).release());
    return none();
}

namespace {

// ---- properties ----

}  // namespace

// StreamBuffer.is_visible: what series.isVisible() says, read each time.
Ref stream_buffer_is_visible(const Env& env, const args::stream_buffer_is_visible& a) {
    return call_method(series_of(buffer_of(env, a.self, "is_visible", false)), s_isVisible);
}


// StreamBuffer.history: the y values, oldest first, as a live view.
Ref stream_buffer_history(const Env& env, const args::stream_buffer_history& a) {
    return new_history(env, reinterpret_cast<PyObject*>(buffer_of(env, a.self, "history", false)));
}

namespace {

PyObject* get_window(PyObject* self, void*) { return PyLong_FromSsize_t(as_buffer(self)->window); }
PyObject* get_display_budget(PyObject* self, void*) {
    const Py_ssize_t budget = as_buffer(self)->display_budget;
    return budget ? PyLong_FromSsize_t(budget) : Py_NewRef(Py_None);
}
PyObject* get_max_history(PyObject* self, void*) { return PyLong_FromSsize_t(as_buffer(self)->max_history); }

// ---- the type ----

PyObject* buffer_new(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    StreamBufferObject* b = as_buffer(self);
    new (&b->ring) Ring();
    new (&b->history) FloatRing();
    new (&b->out_x) OutArray();
    new (&b->out_y) OutArray();
    b->last_x = PyLong_FromLong(0);
    if (!b->last_x) {
        Py_DECREF(self);
        return nullptr;
    }
    return self;
}

int buffer_traverse(PyObject* self, visitproc visit, void* arg) {
    StreamBufferObject* b = as_buffer(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(b->dict);
    Py_VISIT(b->series);
    Py_VISIT(b->last_x);
    return 0;
}

int buffer_tp_clear(PyObject* self) {
    StreamBufferObject* b = as_buffer(self);
    Py_CLEAR(b->dict);
    Py_CLEAR(b->series);
    return 0;
}

void buffer_dealloc(PyObject* self) {
    StreamBufferObject* b = as_buffer(self);
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (b->weakrefs) PyObject_ClearWeakRefs(self);
    buffer_tp_clear(self);
    Py_CLEAR(b->last_x);
    b->out_x.release();
    b->out_y.release();
    b->ring.~Ring();
    b->history.~FloatRing();
    type->tp_free(self);
    Py_DECREF(type);
}

PyMemberDef buffer_members[] = {
    {"series", LARK_MEMBER_OBJECT, offsetof(StreamBufferObject, series), 0, StreamBuffer_series_doc},
    {"last_x", LARK_MEMBER_OBJECT, offsetof(StreamBufferObject, last_x), LARK_MEMBER_READONLY, StreamBuffer_last_x_doc},
    {"__dictoffset__", LARK_MEMBER_SSIZE, offsetof(StreamBufferObject, dict), LARK_MEMBER_READONLY, nullptr},
    {"__weaklistoffset__", LARK_MEMBER_SSIZE, offsetof(StreamBufferObject, weakrefs), LARK_MEMBER_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef buffer_getset[] = {
    {"window", get_window, nullptr, StreamBuffer_window_doc, nullptr},
    {"display_budget", get_display_budget, nullptr, StreamBuffer_display_budget_doc, nullptr},
    {"max_history", get_max_history, nullptr, StreamBuffer_max_history_doc, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot buffer_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(buffer_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(buffer_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(buffer_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(buffer_tp_clear)},
    {Py_tp_members, buffer_members},
    {Py_tp_getset, buffer_getset},
    {Py_tp_doc, const_cast<char*>(StreamBuffer_doc)},
    {0, nullptr},
};

PyType_Spec buffer_spec = {
    "larkui.streaming.StreamBuffer",
    sizeof(StreamBufferObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_BASETYPE,
    buffer_slots,
};

}  // namespace

// The class, whose members the module body puts on it.
Ref stream_buffer_type(Module&, State&) { return Ref::steal(PyType_FromSpec(&buffer_spec)); }

}  // namespace streaming
