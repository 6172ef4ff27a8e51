// StreamBuffer: the newest samples of one XY series in a store of its own, written to the
// series as a whole window in one bulk call.
#include "streaming.hpp"

#include "lookup.hpp"
#include "names.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace streaming {

using namespace lark;

namespace {


StreamBufferObject* as_buffer(PyObject* o) noexcept { return reinterpret_cast<StreamBufferObject*>(o); }

// `self` of a member called through the class: a StreamBuffer that __init__ has set up.
StreamBufferObject* buffer_of(const Env& env, PyObject* self, const char* member, bool initialised = true) {
    check_self(self, state_of(env).StreamBuffer.get(), "StreamBuffer", member);
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

// display_budget: "auto", None, or a number of points as the int parameters take it.
Py_ssize_t budget_of(PyObject* value) {
    if (value == Py_None) return budget_every;
    if (PyUnicode_Check(value)) {
        if (PyUnicode_CompareWithASCIIString(value, "auto") == 0) return budget_auto;
        raise_format(PyExc_ValueError, "display_budget must be 'auto', None or a number of points (got %R)", value);
    }
    if (!PyNumber_Check(value))
        raise_format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                     "display_budget", "int", Py_TYPE(value)->tp_name);
    Ref count = PyLong_CheckExact(value) ? Ref::borrow(value) : Ref::steal(PyNumber_Long(value));
    return count_of(count.get(), "display_budget", 2);
}

// The samples the store keeps beyond the window, so that the oldest bucket of a decimated window
// is written whole: up to a bucket's length.
Py_ssize_t spare_samples(Py_ssize_t window, Py_ssize_t budget) noexcept {
    if (budget == budget_every) return 1;
    if (budget == budget_auto) return window / 64 + 1;  // the bucket of a plot 64 pixels wide
    if (window <= budget) return 1;
    const Py_ssize_t buckets = budget / 2;
    return (window + buckets - 1) / buckets;
}

// The most points a flush writes with a budget that is not automatic.
Py_ssize_t most_points(Py_ssize_t window, Py_ssize_t budget) noexcept {
    if (budget == budget_every || window <= budget) return window;
    Plan plan;
    plan.bucket = spare_samples(window, budget);
    plan.count = window + plan.bucket - 1;
    return plan.most_points();
}

// A new out array of `size` points.
Doubles new_out_array(const Env& env, Py_ssize_t size) {
    Doubles out;
    if (!out.fit(state_of(env).empty.get(), state_of(env).float64.get(), size))
        raise_format(PyExc_RuntimeError, "numpy.empty made no array of %zd native doubles", size);
    return out;
}

}  // namespace

// StreamBuffer.__init__(self, series, window, *, display_budget="auto", max_history=None)
Ref stream_buffer_init(const Env& env, const args::stream_buffer_init& a) {
    StreamBufferObject* b = buffer_of(env, a.self, "__init__", false);
    const Py_ssize_t window = count_of(a.window, "window", 1);
    const Py_ssize_t budget = budget_of(a.display_budget);
    // None covers the window, so that a y range taken from `history` sees every sample on screen;
    // a history of 0 or less keeps no values, as TimeSeriesBuffer's does.
    Py_ssize_t history;
    if (a.max_history == Py_None)
        history = std::max<Py_ssize_t>(window, 10000);
    else
        history = compare(a.max_history, int_of(0).get(), Py_LE) ? 0 : count_of(a.max_history, "max_history", 0);

    // Everything new is made before anything old is let go, so a failure leaves the buffer as it was.
    Ring ring;
    if (!ring.allocate(std::max(window + spare_samples(window, budget), history))) {
        PyErr_NoMemory();
        throw_error();
    }
    // An automatic budget knows its size at the first flush; the others allocate now.
    Doubles out_x, out_y;
    const Py_ssize_t points = budget == budget_auto ? 0 : most_points(window, budget);
    if (points) {
        out_x = new_out_array(env, points);
        out_y = new_out_array(env, points);
    }
    b->ring = std::move(ring);
    free_blocks(std::exchange(b->blocks, nullptr));  // they summarised the old store
    b->out_x = std::move(out_x);
    b->out_y = std::move(out_y);
    b->out_capacity = points;
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
    b->ring.push(a.x.value, a.y.value);
    ++b->added;
    return none();
}

namespace {

bool native_doubles(const Py_buffer& view) noexcept {
    const char* f = view.format;
    const bool native_double = f && (!std::strcmp(f, "d") || !std::strcmp(f, "@d") || !std::strcmp(f, "=d"));
    return native_double && view.ndim == 1 && view.itemsize == 8;
}

bool python_objects(const Py_buffer& view) noexcept { return view.format && std::strchr(view.format, 'O'); }

// The doubles of a one-dimensional block:
// - its own memory when it is a contiguous native float64 buffer;
// - numpy.ascontiguousarray(block, dtype=numpy.float64) for another buffer (another dtype, a
//   strided or big-endian view), which converts every number of a numeric dtype exactly;
// - for a sequence of Python objects, each element as add_point takes its y (the float
//   conversion: a float subclass gives the float it holds, other numbers go through float());
// - a lone number, as one sample.
class Block {
    // Released with the block, also when its constructor raises.
    struct View {
        Py_buffer view{};
        bool held = false;
        View() = default;
        View(const View&) = delete;
        View& operator=(const View&) = delete;
        ~View() { release(); }
        bool get(PyObject* o) noexcept {
            held = PyObject_GetBuffer(o, &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) == 0;
            return held;
        }
        void release() noexcept {
            if (held) PyBuffer_Release(&view);
            held = false;
        }
    };

    Ref owner_;
    View view_;
    std::vector<double> converted_;
    const double* data_ = nullptr;
    Py_ssize_t size_ = 0;

    void convert_items(PyObject* items) {
        const Py_ssize_t n = PyTuple_GET_SIZE(items);
        converted_.resize(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* item = PyTuple_GET_ITEM(items, i);  // the tuple holds it while __float__ runs
            const double v = PyFloat_CheckExact(item) ? PyFloat_AS_DOUBLE(item) : PyFloat_AsDouble(item);
            if (v == -1.0 && PyErr_Occurred()) throw_error();
            converted_[static_cast<std::size_t>(i)] = v;
        }
        data_ = converted_.data();
        size_ = n;
    }

public:
    Block(const Env& env, PyObject* block, const char* name) {
        if (block == Py_None)  // NumPy would take it for a NaN
            raise_format(PyExc_TypeError, "add_points takes arrays or sequences of numbers, not None (%s)", name);
        // An array of Python objects (which may not export a buffer at all) is a sequence of them.
        if (PyObject_CheckBuffer(block) && view_.get(block) && !python_objects(view_.view)) {
            if (native_doubles(view_.view)) {
                data_ = static_cast<const double*>(view_.view.buf);
                size_ = view_.view.len / 8;
                return;
            }
            view_.release();
            PyObject* convert = state_of(env).ascontiguousarray.get();
            PyObject* float64 = state_of(env).float64.get();
            if (!convert || !float64) raise_format(PyExc_RuntimeError, "numpy.ascontiguousarray was not found at import");
            owner_ = call_with_keywords(convert, {block}, {{s_dtype, float64}});
            if (!view_.get(owner_.get())) throw_error();
            if (view_.view.ndim != 1 || view_.view.itemsize != 8)
                raise_format(PyExc_ValueError, "add_points takes one-dimensional blocks (%s has %d dimensions)", name,
                             view_.view.ndim);
            data_ = static_cast<const double*>(view_.view.buf);
            size_ = view_.view.len / 8;
            return;
        }
        // A buffer that cannot be had as contiguous memory is taken as a sequence of its items.
        if (view_.held)
            view_.release();
        else if (PyErr_Occurred() && !clear_if(PyExc_BufferError) && !clear_if(PyExc_ValueError))
            expect_error(PyExc_TypeError);
        if (PyTuple_CheckExact(block)) {
            convert_items(block);
            return;
        }
        PyNumberMethods* number = Py_TYPE(block)->tp_as_number;
        const bool lone_number =
            !PySequence_Check(block) && (PyFloat_Check(block) || PyIndex_Check(block) || (number && number->nb_float));
        if (lone_number) {
            const double v = PyFloat_AsDouble(block);
            if (v == -1.0 && PyErr_Occurred()) throw_error();
            converted_.assign(1, v);
            data_ = converted_.data();
            size_ = 1;
            return;
        }
        // A snapshot of the items first: a conversion may run code that changes the caller's list.
        owner_ = Ref::steal(PySequence_Tuple(block));
        convert_items(owner_.get());
    }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    const double* data() const noexcept { return data_; }
    Py_ssize_t size() const noexcept { return size_; }
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
    // The conversions may have run code of the caller's: the buffer is looked at afresh.
    b = buffer_of(env, a.self, "add_points");
    b->ring.push_block(x.data(), y.data(), x.size());
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

}  // namespace

// StreamBuffer.flush(self) -> bool: writes the window when samples arrived since the last flush.
Ref stream_buffer_flush(const Env& env, const args::stream_buffer_flush& a) {
    StreamBufferObject* b = buffer_of(env, a.self, "flush");
    if (b->added == b->written) return Ref::of(false);
    Ref series = Ref::borrow(series_of(b));
    const Py_ssize_t budget = resolved_budget(env, b, series.get(), -1.0);

    // Making the out arrays may run code (a collection's finalizers): the plan is made again
    // until it fits what is there, after which nothing runs until the write.
    Plan plan = plan_of(b, budget);
    while (plan.most_points() > b->out_capacity) {
        reserve_out(env, b, plan.most_points());
        plan = plan_of(b, budget);
    }
    const Py_ssize_t m = lay_out(b, plan, b->out_x.data(), b->out_y.data());
    const bool any = b->ring.size() > 0;
    const double newest_x = any ? b->ring.x(b->ring.index(1, 0)) : 0.0;
    const unsigned long long copied = b->added, clears = b->clears;
    write_window(env, series.get(), b->out_x.array(), b->out_y.array(), m);

    // A clear() while the series was being written leaves what it reset alone.
    if (b->clears == clears) {
        b->written = copied;
        if (any) Py_XSETREF(b->last_x, float_of(newest_x).release());
    }
    if (!series_visible(env, series_of(b))) call_method(series_of(b), s_setVisible, true);
    return Ref::of(true);
}

// StreamBuffer.clear(self)
Ref stream_buffer_clear(const Env& env, const args::stream_buffer_clear& a) {
    StreamBufferObject* b = buffer_of(env, a.self, "clear");
    call_method(series_of(b), s_clear);
    b->ring.clear();
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
    return series_is_visible(env, series_of(buffer_of(env, a.self, "is_visible", false)));
}

// StreamBuffer.history: the y values, oldest first, as a live view.
Ref stream_buffer_history(const Env& env, const args::stream_buffer_history& a) {
    return new_history(env, reinterpret_cast<PyObject*>(buffer_of(env, a.self, "history", false)));
}

namespace {

PyObject* get_window(PyObject* self, void*) { return PyLong_FromSsize_t(as_buffer(self)->window); }
PyObject* get_display_budget(PyObject* self, void*) {
    const Py_ssize_t budget = as_buffer(self)->display_budget;
    if (budget == budget_auto) return PyUnicode_InternFromString("auto");
    return budget ? PyLong_FromSsize_t(budget) : Py_NewRef(Py_None);
}
PyObject* get_max_history(PyObject* self, void*) { return PyLong_FromSsize_t(as_buffer(self)->max_history); }

// ---- the type ----

PyObject* buffer_new(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    StreamBufferObject* b = as_buffer(self);
    new (&b->ring) Ring();
    new (&b->out_x) Doubles();
    new (&b->out_y) Doubles();
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
    b->out_x.~Doubles();
    b->out_y.~Doubles();
    free_blocks(std::exchange(b->blocks, nullptr));
    b->ring.~Ring();
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

PlotOwner plot_owner(const Env& env, PyObject* series) {
    PlotOwner owner;
    if (genuine_graphs_series(env, series)) {
        // A Qt Graphs series does not say which graph shows it; larkui.graphs makes the graph
        // its parent.
        // A stand-in module's series may have no parent() at all.
        Ref method = attribute_if_any(series, s_parent);
        if (!method) return owner;
        Ref parent = call(method);
        if (parent.is_none()) return owner;
        Ref name = call_method(call_method(parent, s_metaObject), s_className);
        if (!PyUnicode_Check(name.get()) || PyUnicode_CompareWithASCIIString(name.get(), "QGraphsView") != 0)
            return owner;
        owner.object = std::move(parent);
        owner.graphs = true;
        return owner;
    }
    // A stand-in series without chart() has no plot to fit.
    Ref method = attribute_if_any(series, s_chart);
    if (!method) return owner;
    Ref chart = call(method);
    if (!chart.is_none()) owner.object = std::move(chart);
    return owner;
}

Ref plot_area(const PlotOwner& owner) {
    return owner.graphs ? call_method(owner.object, s_property, s_plotArea) : call_method(owner.object, s_plotArea);
}

double plot_width_of(const Env& env, PyObject* series) {
    const PlotOwner owner = plot_owner(env, series);
    if (!owner.object) return 0.0;
    const double width = PyFloat_AsDouble(call_method(plot_area(owner), s_width).get());
    if (width == -1.0 && PyErr_Occurred()) throw_error();
    return width;
}

Py_ssize_t resolved_budget(const Env& env, StreamBufferObject* b, PyObject* series, double plot_width) {
    if (b->display_budget != budget_auto) return b->display_budget;
    const double width = plot_width >= 0.0 ? plot_width : plot_width_of(env, series);
    // No chart, a plot not laid out yet, or a width that is no number: every sample.
    if (!(width >= 1.0)) return budget_every;
    const double points = 2.0 * std::floor(std::min(width, 1e9));
    return points >= static_cast<double>(max_points) ? max_points : static_cast<Py_ssize_t>(points);
}

void reserve_out(const Env& env, StreamBufferObject* b, Py_ssize_t points) {
    if (points <= b->out_capacity) return;
    Doubles x = new_out_array(env, points), y = new_out_array(env, points);
    // The old arrays stay alive while a write that borrowed them runs: it holds references.
    b->out_x = std::move(x);
    b->out_y = std::move(y);
    b->out_capacity = points;
}

bool genuine_series(const Env& env, PyObject* series) {
    const State& state = state_of(env);
    return takes_replace_np(series, state.QXYSeries.get(), state.replace.get(), state.replaceNp.get());
}

Ref series_is_visible(const Env& env, PyObject* series) {
    const auto type_of = [](const Ref& type) {
        return type && PyType_Check(type.get()) ? reinterpret_cast<PyTypeObject*>(type.get()) : nullptr;
    };
    PyTypeObject* genuine = type_of(state_of(env).QXYSeries);
    if (!genuine || !PyObject_TypeCheck(series, genuine)) genuine = type_of(state_of(env).graphs_QXYSeries);
    return call_method_plainly(series, s_isVisible, genuine);
}

bool series_visible(const Env& env, PyObject* series) { return truth(series_is_visible(env, series).get()); }

bool genuine_graphs_series(const Env& env, PyObject* series) {
    const State& state = graphs_known(env);
    return takes_replace_np(series, state.graphs_QXYSeries.get(), state.graphs_replace.get(),
                            state.graphs_replaceNp.get());
}

bool graphs_axis(const Env& env, PyObject* axis) {
    PyObject* type = graphs_known(env).graphs_QValueAxis.get();
    return type && PyObject_TypeCheck(axis, reinterpret_cast<PyTypeObject*>(type));
}

// The window laid out in the out arrays goes to the series in one call: replaceNp for a
// genuine PySide6 XY series of Qt Charts or Qt Graphs whose `replace` is the binding's own (it
// takes the arrays as they are: contiguous float64 of one length), replace(points) for anything
// else.
void write_window(const Env& env, PyObject* series, const Ref& xs, const Ref& ys, Py_ssize_t m) {
    if (genuine_series(env, series)) {
        call(state_of(env).replaceNp, series, slice_of(xs.get(), m), slice_of(ys.get(), m));
        return;
    }
    if (genuine_graphs_series(env, series)) {
        call(state_of(env).graphs_replaceNp, series, slice_of(xs.get(), m), slice_of(ys.get(), m));
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

// The class, whose members the module body puts on it.
Ref stream_buffer_type(Module&, State&) { return Ref::steal(PyType_FromSpec(&buffer_spec)); }

}  // namespace streaming
