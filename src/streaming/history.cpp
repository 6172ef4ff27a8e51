// StreamHistory: the y values of a StreamBuffer, oldest first, as a live read-only sequence.
// Slicing gives a list of floats, which is what sync_scrolling_chart takes of a history. The
// floats are made when they are read, from the buffer's store of doubles: the producers make none.
#include "capi.hpp"
#include "streaming.hpp"
#include "names.hpp"

namespace streaming {

using namespace lark;

namespace {

struct HistoryObject {
    PyObject_HEAD
    PyObject* buffer;  // a StreamBuffer
};

const StreamBufferObject* buffer_of(PyObject* self) noexcept {
    return reinterpret_cast<const StreamBufferObject*>(reinterpret_cast<HistoryObject*>(self)->buffer);
}

// How many values the history offers now: the newest max_history samples the store holds.
Py_ssize_t history_length(PyObject* self) noexcept {
    const StreamBufferObject* b = buffer_of(self);
    return b->ring.size() < b->max_history ? b->ring.size() : b->max_history;
}

// Value i, 0 being the oldest the history offers.
double value_at(PyObject* self, Py_ssize_t i) noexcept {
    const Ring& ring = buffer_of(self)->ring;
    return ring.y(ring.index(history_length(self), i));
}

PyObject* history_item(PyObject* self, Py_ssize_t i) noexcept {
    const Py_ssize_t n = history_length(self);
    if (i < 0 || i >= n) {
        PyErr_SetString(PyExc_IndexError, "StreamHistory index out of range");
        return nullptr;
    }
    return PyFloat_FromDouble(value_at(self, i));
}

PyObject* history_list(PyObject* self, Py_ssize_t start, Py_ssize_t step, Py_ssize_t count) noexcept {
    // The doubles are read first: making the list may run a collection, whose finalizers may
    // change the buffer.
    double* values = static_cast<double*>(PyMem_Malloc(sizeof(double) * static_cast<std::size_t>(count ? count : 1)));
    if (!values) return PyErr_NoMemory();
    for (Py_ssize_t j = 0; j < count; ++j) values[j] = value_at(self, start + j * step);
    PyObject* list = PyList_New(count);
    for (Py_ssize_t j = 0; list && j < count; ++j) {
        PyObject* v = PyFloat_FromDouble(values[j]);
        if (!v) Py_CLEAR(list);
        else PyList_SET_ITEM(list, j, v);
    }
    PyMem_Free(values);
    return list;
}

PyObject* history_subscript(PyObject* self, PyObject* key) noexcept {
    if (PySlice_Check(key)) {
        Py_ssize_t start, stop, step;
        if (PySlice_Unpack(key, &start, &stop, &step) < 0) return nullptr;
        const Py_ssize_t count = PySlice_AdjustIndices(history_length(self), &start, &stop, step);
        return history_list(self, start, step, count);
    }
    if (!PyIndex_Check(key)) {
        PyErr_Format(PyExc_TypeError, "StreamHistory indices must be integers or slices, not %.200s",
                     Py_TYPE(key)->tp_name);
        return nullptr;
    }
    Py_ssize_t i = PyNumber_AsSsize_t(key, PyExc_IndexError);
    if (i == -1 && PyErr_Occurred()) return nullptr;
    if (i < 0) i += history_length(self);
    return history_item(self, i);
}

PyObject* history_as_list(PyObject* self) noexcept { return history_list(self, 0, 1, history_length(self)); }

PyObject* history_repr(PyObject* self) noexcept {
    Ref values = Ref::steal_nullable(history_as_list(self));
    return values ? PyUnicode_FromFormat("StreamHistory(%R)", values.get()) : nullptr;
}

// Equal to a list, tuple or history holding the same values in the same order.
PyObject* history_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    const bool comparable = PyList_Check(other) || PyTuple_Check(other) || Py_TYPE(other) == Py_TYPE(self);
    if (!comparable || (op != Py_EQ && op != Py_NE)) Py_RETURN_NOTIMPLEMENTED;
    Ref mine = Ref::steal_nullable(history_as_list(self));
    Ref theirs = Ref::steal_nullable(PySequence_List(other));
    if (!mine || !theirs) return nullptr;
    return PyObject_RichCompare(mine.get(), theirs.get(), op);
}

int history_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(reinterpret_cast<HistoryObject*>(self)->buffer);
    return 0;
}

int history_clear(PyObject* self) {
    // The buffer is needed by every other slot, so it goes only with the history itself.
    (void)self;
    return 0;
}

void history_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Py_CLEAR(reinterpret_cast<HistoryObject*>(self)->buffer);
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot history_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(history_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(history_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(history_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(history_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(history_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
    {Py_tp_iter, reinterpret_cast<void*>(PySeqIter_New)},
    {Py_sq_length, reinterpret_cast<void*>(history_length)},
    {Py_sq_item, reinterpret_cast<void*>(history_item)},
    {Py_mp_length, reinterpret_cast<void*>(history_length)},
    {Py_mp_subscript, reinterpret_cast<void*>(history_subscript)},
    {Py_tp_doc, const_cast<char*>(StreamHistory_doc)},
    {0, nullptr},
};

PyType_Spec history_spec = {
    "larkui.streaming.StreamHistory",
    sizeof(HistoryObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_SEQUENCE,
    history_slots,
};

// index and count, as a list of the same values has them.
const Name s_index{"index"}, s_Sequence{"Sequence"}, s_register{"register"};

PyObject* checked_history(const Env& env, PyObject* self, const char* member) {
    check_self(self, state_of(env).StreamHistory.get(), "StreamHistory", member);
    return self;
}

}  // namespace

// StreamHistory.index(self, value, start=0, stop=sys.maxsize)
Ref stream_history_index(const Env& env, const args::stream_history_index& a) {
    Ref values = Ref::steal(history_as_list(checked_history(env, a.self, "index")));
    return call_method(values, s_index, a.value, a.start, a.stop);
}

// StreamHistory.count(self, value)
Ref stream_history_count(const Env& env, const args::stream_history_count& a) {
    Ref values = Ref::steal(history_as_list(checked_history(env, a.self, "count")));
    return call_method(values, s_count, a.value);
}

// The class, whose members the module body puts on it.
Ref stream_history_type(Module&, State&) {
    Ref type = Ref::steal(PyType_FromSpec(&history_spec));
    // A Sequence for isinstance checks and for type checkers, as list and tuple are.
    Ref abc = Ref::steal(PyImport_ImportModule("collections.abc"));
    call_method(getattr(abc.get(), s_Sequence), s_register, type);
    return type;
}

Ref new_history(const Env& env, PyObject* buffer) {
    auto* h = PyObject_GC_New(HistoryObject, reinterpret_cast<PyTypeObject*>(state_of(env).StreamHistory.get()));
    if (!h) throw_error();
    h->buffer = Py_NewRef(buffer);
    PyObject_GC_Track(h);
    return Ref::steal(reinterpret_cast<PyObject*>(h));
}

namespace {

Py_ssize_t capi_history_length(PyObject* history) { return history_length(history); }

void capi_history_runs(PyObject* history, Py_ssize_t start, const double** first, Py_ssize_t* first_n,
                       const double** second, Py_ssize_t* second_n) {
    scan::Run a, b;
    buffer_of(history)->ring.runs(history_length(history), start, false, a, b);
    *first = a.y;
    *first_n = a.n;
    *second = b.y;
    *second_n = b.n;
}

void capi_free(PyObject* capsule) {
    // The capsule's own name: this cannot fail.
    auto* api = static_cast<CApi*>(PyCapsule_GetPointer(capsule, capi_capsule_name));
    Py_XDECREF(reinterpret_cast<PyObject*>(api->buffer_type));
    Py_XDECREF(reinterpret_cast<PyObject*>(api->history_type));
    PyMem_Free(api);
}

}  // namespace

// The capsule of capi.hpp, for larkui.plotdeck: the two classes and a view of a history's doubles.
Ref capi_capsule(Module&, State& state) {
    PyObject* buffer_type = state.StreamBuffer.get();
    PyObject* history_type = state.StreamHistory.get();
    auto* api = static_cast<CApi*>(PyMem_Malloc(sizeof(CApi)));
    if (!api) {
        PyErr_NoMemory();
        throw_error();
    }
    api->version = capi_version;
    api->buffer_type = reinterpret_cast<PyTypeObject*>(Py_NewRef(buffer_type));
    api->history_type = reinterpret_cast<PyTypeObject*>(Py_NewRef(history_type));
    api->history_length = capi_history_length;
    api->history_runs = capi_history_runs;
    PyObject* capsule = PyCapsule_New(api, capi_capsule_name, capi_free);
    if (!capsule) {
        Py_DECREF(buffer_type);
        Py_DECREF(history_type);
        PyMem_Free(api);
    }
    return Ref::steal(capsule);
}

}  // namespace streaming
