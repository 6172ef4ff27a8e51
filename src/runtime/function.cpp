#include "function.hpp"

#include "compat.hpp"
#include "module.hpp"

#include <structmember.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace lark {

struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    PyObject* dict;
    PyObject* weakrefs;
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
    PyObject* doc;
    PyObject* defaults;     // tuple or None
    PyObject* kwdefaults;   // dict or None
    PyObject* annotations;  // dict
    PyObject* code;         // what signature inspection reads
    PyObject* tb_frame;     // the traceback entry's frame, made on the first error
    PyObject* varnames;     // tuple of the interned parameter names
    Body body;
    const Param* params;
    int nparams;
    int npositional;     // parameters that can be given positionally
    int min_positional;  // required positional parameters
    unsigned convert_mask;  // parameters with a truth, float or integer conversion
    unsigned exact_mask;    // parameters with an exact-type check
    // Defaults by parameter index, already converted as a call would convert them.
    PyObject* default_objs[max_params];
    double default_doubles[max_params];
    bool default_flags[max_params];
    char tb_name[200];
};

namespace {

PyTypeObject* function_type = nullptr;

// ---- error messages of a bad call, kept off the fast path ----
// They only set the error: a failed binding returns without a C++ throw, which would cost
// more than the whole call.

// PyErr_Format, for messages made of C strings and numbers only: C's formatting with the same
// precision rules (bytes for %.Ns), decoded as UTF-8 with replacement for a cut character.
// PyUnicode_FromFormat parses its format on every call and costs more than the whole call.
__attribute__((format(printf, 2, 3))) void set_error(PyObject* type, const char* format, ...) {
    char text[1024];
    va_list va;
    va_start(va, format);
    int n = std::vsnprintf(text, sizeof text, format, va);
    va_end(va);
    if (n < 0) n = 0;
    if (n >= static_cast<int>(sizeof text)) n = sizeof text - 1;
    if (PyObject* message = PyUnicode_DecodeUTF8(text, n, "replace")) {
        PyErr_SetObject(type, message);
        Py_DECREF(message);
    }
}

__attribute__((noinline, cold)) void raise_count(const FunctionObject* f, bool too_many,
                                                              Py_ssize_t given) {
    const bool exact = f->min_positional == f->npositional;
    const char* how = exact ? "exactly" : (too_many ? "at most" : "at least");
    Py_ssize_t expected = (exact || !too_many) ? f->min_positional : f->npositional;
    set_error(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 PyUnicode_AsUTF8(f->name), how, expected, expected == 1 ? "" : "s", given);
}

enum class KeywordFault { none, not_string, unexpected, duplicate };

__attribute__((noinline, cold)) void raise_keyword(const FunctionObject* f, KeywordFault fault,
                                                                PyObject* key) {
    const char* name = PyUnicode_AsUTF8(f->name);
    switch (fault) {
        case KeywordFault::not_string:
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", name);
            break;
        case KeywordFault::unexpected:
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", name, key);
            break;
        default:
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", name, key);
            break;
    }
}

__attribute__((noinline, cold)) void raise_missing_keyword(const FunctionObject* f, const Param& p) {
    PyErr_Format(PyExc_TypeError, "%s() needs keyword-only argument %s", PyUnicode_AsUTF8(f->name), p.name);
}

__attribute__((noinline, cold)) void raise_bad_type(const Param& p, const char* expected,
                                                                 PyObject* given, bool subclass) {
    set_error(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", p.name,
                 expected, Py_TYPE(given)->tp_name);
    if (subclass) {
        // Attach the note to the raised exception; if that fails, the original error stays.
        Ref exc = compat::take_raised_exception();
        Ref note = Ref::steal_nullable(PyUnicode_FromFormat(
            "subclasses of built-in types are refused here: pass an exact %.200s (got %.200s)", expected,
            Py_TYPE(given)->tp_name));
        if (note) Ref::steal_nullable(PyObject_CallMethod(exc.get(), "add_note", "O", note.get()));
        PyErr_Clear();
        compat::restore_raised_exception(std::move(exc));
    }
}

}  // namespace

// Binds, converts and checks the arguments of one call, in the library's order:
// positional count, missing required, keyword faults, conversions, exact-type checks.
struct Binder {
    static bool bind(const FunctionObject* f, PyObject* const* args, std::size_t nargsf, PyObject* kwnames,
                     Args& out) {
        const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
        const int n = f->nparams;
        PyObject** slots = out.objs_;
        if (!kwnames && nargs == n && n == f->npositional) {  // the common call: all positional
            for (int i = 0; i < n; ++i) slots[i] = args[i];
            return convert_and_check(f, out, 0);
        }
        if (nargs > f->npositional) return raise_count(f, true, nargs), false;
        for (int i = 0; i < n; ++i) slots[i] = i < nargs ? args[i] : nullptr;

        KeywordFault fault = KeywordFault::none;
        PyObject* fault_key = nullptr;
        if (kwnames) {
            const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
            for (Py_ssize_t k = 0; k < nkw; ++k) {
                PyObject* key = PyTuple_GET_ITEM(kwnames, k);
                KeywordFault this_fault = KeywordFault::none;
                if (!PyUnicode_Check(key)) {
                    this_fault = KeywordFault::not_string;
                } else {
                    int j = find_param(f, key);
                    if (j < 0)
                        this_fault = KeywordFault::unexpected;
                    else if (slots[j])
                        this_fault = KeywordFault::duplicate;
                    else
                        slots[j] = args[nargs + k];
                }
                if (this_fault != KeywordFault::none && fault == KeywordFault::none) {
                    fault = this_fault;
                    fault_key = key;
                }
            }
        }

        unsigned defaulted = 0;
        for (int i = 0; i < n; ++i) {
            if (slots[i]) continue;
            const Param& p = f->params[i];
            if (!p.optional) {
                if (p.keyword_only) return raise_missing_keyword(f, p), false;
                return raise_count(f, false, i), false;
            }
            defaulted |= 1u << i;
            slots[i] = f->default_objs[i];
            out.doubles_[i] = f->default_doubles[i];
            out.flags_[i] = f->default_flags[i];
        }
        if (fault != KeywordFault::none) return raise_keyword(f, fault, fault_key), false;
        return convert_and_check(f, out, defaulted);
    }

    // All conversions in parameter order, then all exact-type checks in parameter order.
    // Defaults were converted once, when the function was made, and are skipped.
    static bool convert_and_check(const FunctionObject* f, Args& out, unsigned defaulted) {
        for (unsigned todo = f->convert_mask & ~defaulted; todo; todo &= todo - 1)
            if (!convert(f->params[__builtin_ctz(todo)], __builtin_ctz(todo), out)) return false;
        for (unsigned todo = f->exact_mask & ~defaulted; todo; todo &= todo - 1) {
            const int i = __builtin_ctz(todo);
            const Param& p = f->params[i];
            PyObject* o = out.objs_[i];
            if (Py_IS_TYPE(o, p.exact_type) || (o == Py_None && p.allow_none)) continue;
            return raise_bad_type(p, p.exact_type->tp_name, o, PyObject_TypeCheck(o, p.exact_type)), false;
        }
        return true;
    }

    static int find_param(const FunctionObject* f, PyObject* key) {
        PyObject** names = &PyTuple_GET_ITEM(f->varnames, 0);
        for (int j = 0; j < f->nparams; ++j)
            if (names[j] == key) return j;
        for (int j = 0; j < f->nparams; ++j)
            if (PyUnicode_Compare(names[j], key) == 0) return j;
        return -1;
    }

    // Converts a default once, when the function is made, as a call would convert it.
    static void convert_default(const Param& p, int i, FunctionObject* f) {
        Args converted;
        converted.objs_[i] = f->default_objs[i];
        if (!convert(p, i, converted)) throw_error();
        if (converted.objs_[i] != f->default_objs[i]) {  // the integer conversion made a new int
            Py_SETREF(f->default_objs[i], Py_NewRef(converted.objs_[i]));
        }
        f->default_doubles[i] = converted.doubles_[i];
        f->default_flags[i] = converted.flags_[i];
    }

    static bool convert(const Param& p, int i, Args& out) {
        PyObject* o = out.objs_[i];
        switch (p.conv) {
            case Conv::truth:
                if (int t = PyObject_IsTrue(o); t >= 0)
                    out.flags_[i] = t;
                else
                    return false;
                break;
            case Conv::floating:
                if (PyFloat_CheckExact(o)) {
                    out.doubles_[i] = PyFloat_AS_DOUBLE(o);
                } else {
                    double d = PyFloat_AsDouble(o);
                    if (d == -1.0 && PyErr_Occurred()) return false;
                    out.doubles_[i] = d;
                }
                break;
            case Conv::integer:
                if (PyLong_CheckExact(o) || (o == Py_None && p.allow_none)) break;
                if (!PyNumber_Check(o)) return raise_bad_type(p, "int", o, false), false;
                if (PyObject* converted = PyNumber_Long(o))
                    out.objs_[i] = out.keep(converted);
                else
                    return false;
                break;
            default:
                break;
        }
        return true;
    }
};

namespace {

// ---- the call boundary: no C++ exception crosses into the interpreter ----

PyObject* function_vectorcall(PyObject* self, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) noexcept {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    try {
        Args bound;
        if (!Binder::bind(f, args, nargsf, kwnames, bound)) {
            add_traceback_entry(f->tb_name, &f->tb_frame);
            return nullptr;
        }
        Ref result = f->body(bound);
        if (!is_failure(result)) return result ? result.release() : Py_NewRef(Py_None);
    } catch (const PyErrOccurred&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unexpected C++ exception");
    }
    add_traceback_entry(f->tb_name, &f->tb_frame);
    return nullptr;
}

// ---- the type's slots, after CPython's function objects ----

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->dict);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->defaults);
    Py_VISIT(f->kwdefaults);
    Py_VISIT(f->annotations);
    Py_VISIT(f->tb_frame);
    for (int i = 0; i < f->nparams; ++i) Py_VISIT(f->default_objs[i]);
    return 0;
}

int function_clear(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Py_CLEAR(f->dict);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->defaults);
    Py_CLEAR(f->kwdefaults);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->tb_frame);
    for (int i = 0; i < f->nparams; ++i) Py_CLEAR(f->default_objs[i]);
    return 0;
}

void function_dealloc(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (f->weakrefs) PyObject_ClearWeakRefs(self);
    function_clear(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->code);
    Py_CLEAR(f->varnames);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* function_repr(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    return PyUnicode_FromFormat("<function %U at %p>", f->qualname, self);
}

PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

PyObject* function_reduce(PyObject* self, PyObject*) {
    // Pickled by reference: the qualified name within its module.
    return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->qualname);
}

PyObject* get_text_attr(PyObject* value) { return Py_NewRef(value); }

int set_text_attr(PyObject** slot, PyObject* value, const char* what) {
    if (value == nullptr || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object", what);
        return -1;
    }
    Py_SETREF(*slot, Py_NewRef(value));
    return 0;
}

PyObject* get_name(PyObject* self, void*) { return get_text_attr(reinterpret_cast<FunctionObject*>(self)->name); }
int set_name(PyObject* self, PyObject* value, void*) {
    return set_text_attr(&reinterpret_cast<FunctionObject*>(self)->name, value, "__name__");
}
PyObject* get_qualname(PyObject* self, void*) {
    return get_text_attr(reinterpret_cast<FunctionObject*>(self)->qualname);
}
int set_qualname(PyObject* self, PyObject* value, void*) {
    return set_text_attr(&reinterpret_cast<FunctionObject*>(self)->qualname, value, "__qualname__");
}
PyObject* get_defaults(PyObject* self, void*) { return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->defaults); }
PyObject* get_kwdefaults(PyObject* self, void*) {
    return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->kwdefaults);
}
PyObject* get_code(PyObject* self, void*) { return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->code); }
PyObject* get_annotations(PyObject* self, void*) {
    return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->annotations);
}
int set_annotations(PyObject* self, PyObject* value, void*) {
    if (value == nullptr || !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    Py_SETREF(reinterpret_cast<FunctionObject*>(self)->annotations, Py_NewRef(value));
    return 0;
}
PyObject* get_globals(PyObject*, void*) { return Py_NewRef(PyModule_GetDict(current_module())); }

PyGetSetDef function_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__defaults__", get_defaults, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_kwdefaults, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
    {"__code__", get_code, nullptr, nullptr, nullptr},
    {"__globals__", get_globals, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__module__", T_OBJECT, offsetof(FunctionObject, module), 0, nullptr},
    {"__doc__", T_OBJECT, offsetof(FunctionObject, doc), 0, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(FunctionObject, vectorcall), READONLY, nullptr},
    {"__dictoffset__", T_PYSSIZET, offsetof(FunctionObject, dict), READONLY, nullptr},
    {"__weaklistoffset__", T_PYSSIZET, offsetof(FunctionObject, weakrefs), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_descr_get)},
    {Py_tp_getset, function_getset},
    {Py_tp_members, function_members},
    {Py_tp_methods, function_methods},
    {0, nullptr},
};

PyType_Spec function_spec = {
    "larkui.function",
    sizeof(FunctionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR |
        Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    function_slots,
};

// The code object that signature inspection reads: parameter names, kinds and counts.
Ref make_code(const FunctionObject* f, PyObject* varnames, int nkwonly) {
    Ref empty = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(module_file_name(), PyUnicode_AsUTF8(f->name), 1)));
    Ref replace = Ref::steal(PyObject_GetAttrString(empty.get(), "replace"));
    Ref kwnames = Ref::steal(Py_BuildValue("(sssssss)", "co_argcount", "co_posonlyargcount", "co_kwonlyargcount",
                                           "co_nlocals", "co_varnames", "co_flags", "co_qualname"));
    Ref argcount = int_of(f->npositional), zero = int_of(0), kwonly = int_of(nkwonly), nlocals = int_of(f->nparams);
    Ref flags = int_of(CO_OPTIMIZED | CO_NEWLOCALS);
    PyObject* values[] = {argcount.get(), zero.get(), kwonly.get(), nlocals.get(), varnames, flags.get(), f->qualname};
    return call_with_keywords(replace.get(), values, 0, kwnames.get());
}

Ref text_or_none(const char* s) { return s ? Ref::steal(PyUnicode_FromString(s)) : Ref::none(); }

}  // namespace

bool ready_function_type() noexcept {
    if (function_type) return true;
    function_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&function_spec));
    return function_type != nullptr;
}

Ref make_function(const FunctionSpec& table, std::initializer_list<PyObject*> defaults) {
    const int n = static_cast<int>(table.params.size());
    if (n > max_params) raise_format(PyExc_SystemError, "%s: too many parameters", table.name);
    auto* f = PyObject_GC_New(FunctionObject, function_type);
    if (!f) throw_error();
    // Zero everything after the header so that dealloc is safe on any failure below.
    std::memset(reinterpret_cast<char*>(f) + sizeof(PyObject), 0, sizeof(FunctionObject) - sizeof(PyObject));
    Ref owner = Ref::steal(reinterpret_cast<PyObject*>(f));
    f->vectorcall = function_vectorcall;
    f->body = table.body;
    f->params = table.params.begin();
    f->nparams = n;
    PyOS_snprintf(f->tb_name, sizeof f->tb_name, "%s.%s", module_full_name(), table.qualname);
    f->name = Ref::steal(PyUnicode_InternFromString(table.name)).release();
    f->qualname = Ref::steal(PyUnicode_FromString(table.qualname)).release();
    f->module = Ref::steal(PyUnicode_FromString(module_full_name())).release();
    f->doc = text_or_none(table.doc).release();

    Ref varnames = Ref::steal(PyTuple_New(n));
    Ref annotations = Ref::steal(PyDict_New());
    Ref positional_defaults = Ref::steal(PyList_New(0));
    Ref keyword_defaults = Ref::steal(PyDict_New());
    PyObject* const* next_default = defaults.begin();
    int nkwonly = 0;
    for (int i = 0; i < n; ++i) {
        const Param& p = f->params[i];
        PyObject* pname = check(PyUnicode_InternFromString(p.name));
        PyTuple_SET_ITEM(varnames.get(), i, pname);
        if (p.annotation) {
            Ref ann = Ref::steal(PyUnicode_FromString(p.annotation));
            check(PyDict_SetItem(annotations.get(), pname, ann.get()));
        }
        if (p.conv == Conv::exact) f->exact_mask |= 1u << i;
        if (p.conv == Conv::truth || p.conv == Conv::floating || p.conv == Conv::integer)
            f->convert_mask |= 1u << i;
        if (p.keyword_only) {
            ++nkwonly;
        } else {
            ++f->npositional;
            if (!p.optional) ++f->min_positional;
        }
        if (!p.optional) continue;
        if (next_default == defaults.end()) raise_format(PyExc_SystemError, "%s: missing default", table.name);
        PyObject* value = *next_default++;
        f->default_objs[i] = Py_NewRef(value);
        if (p.keyword_only)
            check(PyDict_SetItem(keyword_defaults.get(), pname, value));
        else
            check(PyList_Append(positional_defaults.get(), value));
        Binder::convert_default(p, i, f);
    }
    if (table.return_annotation) {
        Ref ann = Ref::steal(PyUnicode_FromString(table.return_annotation));
        check(PyDict_SetItemString(annotations.get(), "return", ann.get()));
    }
    f->varnames = varnames.release();
    f->annotations = annotations.release();
    f->defaults = PyList_GET_SIZE(positional_defaults.get())
                      ? check(PyList_AsTuple(positional_defaults.get()))
                      : Py_NewRef(Py_None);
    f->kwdefaults = PyDict_GET_SIZE(keyword_defaults.get()) ? keyword_defaults.release() : Py_NewRef(Py_None);
    f->code = make_code(f, f->varnames, nkwonly).release();
    PyObject_GC_Track(reinterpret_cast<PyObject*>(f));
    return owner;
}

}  // namespace lark
