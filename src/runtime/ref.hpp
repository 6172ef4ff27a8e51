// Owned references, interned names and the small call helpers every module body uses.
#pragma once

#include "compat.hpp"

#include <array>
#include <cstddef>
#include <initializer_list>
#include <utility>

namespace lark {

// How failures travel.
// - Bodies, module bodies and every helper they call fail one way: they set the Python error and
//   throw PyErrOccurred (`throw_error()`, `raise_format()`, `check()` on a C API result). The one
//   boundary where a callable returns to the interpreter (and where a module body returns to the
//   import) catches it; a failure that set no error becomes SystemError there.
// - Slots (tp_* and the vectorcall entry, the binder included) are noexcept and fail as the
//   C API does: they set the error and return their failure value (NULL, -1, false). Code in a
//   slot that may throw runs inside `guarded_slot`, which turns the throw into that value.
//   Binding stays off the throw on purpose: a refused argument costs what it costs CPython.
// - An error is cleared only after checking that it is the one the step expects
//   (`clear_if(PyExc_AttributeError)`); anything else, a MemoryError or a KeyboardInterrupt
//   above all, propagates.
struct PyErrOccurred {};

[[noreturn]] void throw_error();

// Throws when the C API reported an error through a null result or a negative status.
inline PyObject* check(PyObject* o) {
    if (!o) throw_error();
    return o;
}
inline int check(int rc) {
    if (rc < 0) throw_error();
    return rc;
}

// An owned (strong) reference. Construction says whether a reference is taken over or added.
class Ref {
    PyObject* p_ = nullptr;
    explicit Ref(PyObject* p) noexcept : p_(p) {}

public:
    Ref() noexcept = default;
    // Takes over a new reference; throws PyErrOccurred when it is null.
    static Ref steal(PyObject* o) { return Ref(check(o)); }
    // Takes over a reference that may be null without an error set.
    static Ref steal_nullable(PyObject* o) noexcept { return Ref(o); }
    // Adds a reference to a borrowed object (null allowed).
    static Ref borrow(PyObject* o) noexcept {
        Py_XINCREF(o);
        return Ref(o);
    }
    static Ref none() noexcept { return borrow(Py_None); }
    static Ref of(bool b) noexcept { return borrow(b ? Py_True : Py_False); }

    Ref(const Ref& o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    Ref& operator=(const Ref& o) noexcept {
        Ref tmp(o);
        std::swap(p_, tmp.p_);
        return *this;
    }
    Ref& operator=(Ref&& o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    bool is_none() const noexcept { return p_ == Py_None; }
    void reset() noexcept { Py_CLEAR(p_); }
};

// An attribute or method name, interned once when the module loads.
// Declare at namespace scope (`const lark::Name s_setRange{"setRange"};`), never inside a
// function: the names are interned when the module body starts, and a name made later has none.
class Name {
    const char* text_;
    mutable PyObject* obj_ = nullptr;
    const Name* next_;

public:
    explicit Name(const char* text) noexcept;
    Name(const Name&) = delete;
    Name& operator=(const Name&) = delete;
    PyObject* get() const noexcept { return obj_; }
    // Interns every Name of this shared library; called once by the module init.
    static bool intern_all() noexcept;
};

// An argument for the call helpers: a borrowed object, or a value turned into a new object.
class CallArg {
    PyObject* p_;
    PyObject* owned_ = nullptr;

    static PyObject* own(PyObject* o) { return check(o); }

public:
    CallArg(PyObject* o) noexcept : p_(o) {}
    CallArg(const Ref& r) noexcept : p_(r.get()) {}
    CallArg(const Name& n) noexcept : p_(n.get()) {}
    CallArg(bool b) noexcept : p_(b ? Py_True : Py_False) {}
    CallArg(double d) : p_(own(PyFloat_FromDouble(d))) { owned_ = p_; }
    CallArg(int v) : p_(own(PyLong_FromLong(v))) { owned_ = p_; }
    CallArg(long v) : p_(own(PyLong_FromLong(v))) { owned_ = p_; }
    CallArg(long long v) : p_(own(PyLong_FromLongLong(v))) { owned_ = p_; }
    CallArg(std::nullptr_t) = delete;
    CallArg(const CallArg&) = delete;
    CallArg& operator=(const CallArg&) = delete;
    ~CallArg() { Py_XDECREF(owned_); }
    PyObject* get() const noexcept { return p_; }
};

// obj.name
inline Ref getattr(PyObject* obj, const Name& name) { return Ref::steal(PyObject_GetAttr(obj, name.get())); }
// obj.name, or an empty Ref when obj has no such attribute (AttributeError); other errors propagate.
Ref attribute_if_any(PyObject* obj, const Name& name);
// The entry `name` of the class's own dictionary (not its bases'), or an empty Ref when `type`
// is no class or has no such entry.
Ref own_class_entry(PyObject* type, const Name& name);
// obj.name = value
inline void setattr(PyObject* obj, const Name& name, PyObject* value) {
    check(PyObject_SetAttr(obj, name.get(), value));
}

// The calls below build their argument array in place, as a temporary: the CallArg
// temporaries live until the end of the full expression, that is until the call has returned.
template <std::size_t N>
Ref call_array(PyObject* callable, std::array<PyObject*, N>&& stack) {
    // The first slot is free, so the callee may use it (PY_VECTORCALL_ARGUMENTS_OFFSET).
    return Ref::steal(PyObject_Vectorcall(callable, stack.data() + 1, (N - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}
template <std::size_t N>
Ref call_method_array(const Name& name, std::array<PyObject*, N>&& self_and_args) {
    return Ref::steal(PyObject_VectorcallMethod(name.get(), self_and_args.data(), N, nullptr));
}

// callable(args...)
template <class... A>
Ref call(PyObject* callable, const A&... a) {
    return call_array(callable, std::array<PyObject*, sizeof...(A) + 1>{nullptr, CallArg(a).get()...});
}
template <class... A>
Ref call(const Ref& callable, const A&... a) {
    return call(callable.get(), a...);
}

// obj.name(args...), without making a bound method.
template <class... A>
Ref call_method(PyObject* self, const Name& name, const A&... a) {
    return call_method_array(name, std::array<PyObject*, sizeof...(A) + 1>{self, CallArg(a).get()...});
}
template <class... A>
Ref call_method(const Ref& self, const Name& name, const A&... a) {
    return call_method(self.get(), name, a...);
}

// callable(*positional, **{kwnames[i]: values[i]}): `args` holds the positional values
// followed by the keyword values, `kwnames` is a tuple of the keyword names.
Ref call_with_keywords(PyObject* callable, PyObject* const* args, std::size_t npositional, PyObject* kwnames);

struct Keyword {
    const Name& name;
    CallArg value;
};
// callable(positional..., name=value...)
Ref call_with_keywords(PyObject* callable, std::initializer_list<CallArg> positional,
                       std::initializer_list<Keyword> keywords);
inline Ref call_with_keywords(const Ref& callable, std::initializer_list<CallArg> positional,
                              std::initializer_list<Keyword> keywords) {
    return call_with_keywords(callable.get(), positional, keywords);
}

inline bool truth(PyObject* o) { return check(PyObject_IsTrue(o)) != 0; }
inline bool is_instance(PyObject* o, PyObject* cls) { return check(PyObject_IsInstance(o, cls)) != 0; }
inline Py_ssize_t length(PyObject* o) {
    Py_ssize_t n = PyObject_Length(o);
    if (n < 0) throw_error();
    return n;
}
inline Ref str_of(PyObject* o) { return Ref::steal(PyObject_Str(o)); }
inline Ref float_of(double d) { return Ref::steal(PyFloat_FromDouble(d)); }
inline Ref int_of(long long v) { return Ref::steal(PyLong_FromLongLong(v)); }
inline bool compare(PyObject* a, PyObject* b, int op) { return check(PyObject_RichCompareBool(a, b, op)) != 0; }

// Raises `type` with a formatted message (PyErr_Format) and throws.
[[noreturn]] void raise_format(PyObject* type, const char* format, ...);
// Raises `type` with `value` as its only argument and throws.
[[noreturn]] void raise_value(PyObject* type, PyObject* value);
// Checks the `self` of a member called through its class (`Class.member(obj)`): unless it is an
// instance of `type`, raises the TypeError CPython's method descriptors raise, naming `class_name`.
void check_self(PyObject* self, PyObject* type, const char* class_name, const char* member);

// True, with the error cleared, when the pending error is an instance of `type`; false, with
// the error left pending, otherwise. For steps that expect one kind of failure.
bool clear_if(PyObject* type) noexcept;
// The result of a step that failed with `type` expected: clears it and returns; any other
// error propagates (throws).
inline void expect_error(PyObject* type) {
    if (!clear_if(type)) throw_error();
}

// Adds the note `text` to the pending exception, as `except E as e: e.add_note(text); raise`
// would: when adding it fails, that error is pending instead, with the original as its context.
// An error is pending either way.
void add_note_to_pending(const char* text) noexcept;

// Runs `step` in a slot: true when it finished, false when it threw (the error is then set).
template <class Step>
bool guarded_slot(Step&& step) noexcept {
    try {
        step();
        return true;
    } catch (const PyErrOccurred&) {
    } catch (...) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "unexpected C++ exception");
    }
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "a slot failed without setting an exception");
    return false;
}

// The result of a body that returns None.
inline Ref none() noexcept { return Ref::none(); }

// The pending exception, taken out of the error indicator (empty when none is set), and put back.
inline Ref take_error() noexcept { return Ref::steal_nullable(compat::take_raised_exception()); }
inline void restore_error(Ref exc) noexcept { compat::restore_raised_exception(exc.release()); }

// Unpacks a two-item value: a tuple or list by its length, anything else by iteration.
// Too many or too few items raise ValueError with the library's unpacking messages.
std::pair<Ref, Ref> unpack_pair(PyObject* value);

}  // namespace lark
