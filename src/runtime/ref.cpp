#include "ref.hpp"

#include <cstdarg>

namespace lark {

namespace {
const Name* name_list = nullptr;
}

void throw_error() { throw PyErrOccurred{}; }

Name::Name(const char* text) noexcept : text_(text), next_(name_list) { name_list = this; }

bool Name::intern_all() noexcept {
    for (const Name* n = name_list; n; n = n->next_) {
        if (n->obj_) continue;
        n->obj_ = PyUnicode_InternFromString(n->text_);
        if (!n->obj_) return false;
    }
    return true;
}

Ref call_with_keywords(PyObject* callable, PyObject* const* args, std::size_t npositional, PyObject* kwnames) {
    return Ref::steal(PyObject_Vectorcall(callable, args, npositional, kwnames));
}

Ref call_with_keywords(PyObject* callable, std::initializer_list<CallArg> positional,
                       std::initializer_list<Keyword> keywords) {
    PyObject* stack[16];
    std::size_t n = 0;
    if (positional.size() + keywords.size() > 16) raise_format(PyExc_SystemError, "too many call arguments");
    for (const CallArg& a : positional) stack[n++] = a.get();
    Ref kwnames = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(keywords.size())));
    Py_ssize_t k = 0;
    for (const Keyword& kw : keywords) {
        PyTuple_SET_ITEM(kwnames.get(), k++, Py_NewRef(kw.name.get()));
        stack[n++] = kw.value.get();
    }
    return call_with_keywords(callable, stack, positional.size(), keywords.size() ? kwnames.get() : nullptr);
}

void raise_format(PyObject* type, const char* format, ...) {
    va_list va;
    va_start(va, format);
    PyErr_FormatV(type, format, va);
    va_end(va);
    throw_error();
}

void raise_value(PyObject* type, PyObject* value) {
    PyErr_SetObject(type, value);
    throw_error();
}

void check_self(PyObject* self, PyObject* type, const char* class_name, const char* member) {
    if (PyObject_TypeCheck(self, reinterpret_cast<PyTypeObject*>(type))) return;
    raise_format(PyExc_TypeError, "descriptor '%s' for '%s' objects doesn't apply to a '%.100s' object", member,
                 class_name, Py_TYPE(self)->tp_name);
}

Ref attribute_if_any(PyObject* obj, const Name& name) {
    Ref value = Ref::steal_nullable(PyObject_GetAttr(obj, name.get()));
    if (!value) expect_error(PyExc_AttributeError);
    return value;
}

Ref own_class_entry(PyObject* type, const Name& name) {
    if (!type || !PyType_Check(type)) return {};
    PyObject* dict = compat::type_dict(reinterpret_cast<PyTypeObject*>(type));
    PyObject* entry = dict ? PyDict_GetItemWithError(dict, name.get()) : nullptr;
    if (!entry && PyErr_Occurred()) throw_error();
    return Ref::borrow(entry);
}

bool clear_if(PyObject* type) noexcept {
    if (!PyErr_ExceptionMatches(type)) return false;
    PyErr_Clear();
    return true;
}

void add_note_to_pending(const char* text) noexcept {
    Ref exc = take_error();
    if (!exc) return;
    Ref note = Ref::steal_nullable(PyUnicode_FromString(text));
    static const char add_note[] = "add_note";
    if (note && Ref::steal_nullable(PyObject_CallMethod(exc.get(), add_note, "O", note.get()))) {
        restore_error(std::move(exc));
        return;
    }
    Ref failure = take_error();
    PyException_SetContext(failure.get(), exc.release());
    restore_error(std::move(failure));
}

namespace {
[[noreturn]] LARK_COLD void raise_too_many(Py_ssize_t expected) {
    raise_format(PyExc_ValueError, "too many values to unpack (expected %zd)", expected);
}
[[noreturn]] LARK_COLD void raise_need_more(Py_ssize_t found) {
    raise_format(PyExc_ValueError, "need more than %zd value%.1s to unpack", found, found == 1 ? "" : "s");
}
}  // namespace

std::pair<Ref, Ref> unpack_pair(PyObject* value) {
    if (PyTuple_CheckExact(value) || PyList_CheckExact(value)) {
        Py_ssize_t n = PySequence_Fast_GET_SIZE(value);
        if (n > 2) raise_too_many(2);
        if (n < 2) raise_need_more(n);
        PyObject** items = PySequence_Fast_ITEMS(value);
        return {Ref::borrow(items[0]), Ref::borrow(items[1])};
    }
    Ref it = Ref::steal(PyObject_GetIter(value));
    Ref got[2];
    for (int i = 0; i < 2; ++i) {
        got[i] = Ref::steal_nullable(PyIter_Next(it.get()));
        if (!got[i]) {
            if (PyErr_Occurred()) throw_error();
            raise_need_more(i);
        }
    }
    Ref extra = Ref::steal_nullable(PyIter_Next(it.get()));
    if (extra) raise_too_many(2);
    if (PyErr_Occurred()) throw_error();
    return {std::move(got[0]), std::move(got[1])};
}

}  // namespace lark
