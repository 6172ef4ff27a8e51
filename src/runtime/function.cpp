// The function type: argument binding, the call boundary and the introspection attributes.
#include "function_object.hpp"

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace lark {

namespace {

// ---- messages of a bad call, kept off the fast path ----
// They only set the error: a failed binding returns without a C++ throw, which would cost
// more than the whole call.

// The function's name as the "%.200s" of the messages prints it: at most 200 bytes of its
// UTF-8 text (a character cut in half shows as a replacement character). A name that UTF-8
// cannot encode (a lone surrogate, which __name__ allows) is cut at 200 characters instead.
Ref clipped_name(PyObject* name) {
    constexpr Py_ssize_t limit = 200;
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
    if (!utf8) {
        if (!clear_if(PyExc_UnicodeEncodeError)) return {};
        return Ref::steal_nullable(PyUnicode_Substring(name, 0, limit));
    }
    if (size <= limit) return Ref::borrow(name);
    return Ref::steal_nullable(PyUnicode_DecodeUTF8(utf8, limit, "replace"));
}

// Sets `type` with the message <function name, clipped><tail>, the tail made by C's formatting
// (PyUnicode_FromFormat parses its format on every call and costs more than the whole call).
LARK_PRINTF(3, 4) LARK_COLD void set_named_error(PyObject* type, PyObject* name, const char* format, ...) {
    char tail[512];
    va_list va;
    va_start(va, format);
    int n = std::vsnprintf(tail, sizeof tail, format, va);
    va_end(va);
    if (n < 0) n = 0;
    if (n >= static_cast<int>(sizeof tail)) n = sizeof tail - 1;
    Ref head = clipped_name(name);
    if (!head) return;
    Ref rest = Ref::steal_nullable(PyUnicode_DecodeUTF8(tail, n, "replace"));
    if (!rest) return;
    Ref message = Ref::steal_nullable(PyUnicode_Concat(head.get(), rest.get()));
    if (message) PyErr_SetObject(type, message.get());
}

LARK_COLD void raise_count(const FunctionObject* f, bool too_many, Py_ssize_t given) {
    const bool exact = f->min_positional == f->npositional;
    const char* how = exact ? "exactly" : (too_many ? "at most" : "at least");
    const Py_ssize_t expected = (exact || !too_many) ? f->min_positional : f->npositional;
    set_named_error(PyExc_TypeError, f->name, "() takes %.8s %zd positional argument%.1s (%zd given)", how, expected,
                    expected == 1 ? "" : "s", given);
}

enum class KeywordFault { none, not_string, unexpected, duplicate };

LARK_COLD void raise_keyword(const FunctionObject* f, KeywordFault fault, PyObject* key) {
    switch (fault) {
        case KeywordFault::not_string:
            set_named_error(PyExc_TypeError, f->name, "() keywords must be strings");
            break;
        case KeywordFault::unexpected:
            PyErr_Format(PyExc_TypeError, "%U() got an unexpected keyword argument '%U'", f->name, key);
            break;
        default:
            PyErr_Format(PyExc_TypeError, "%U() got multiple values for keyword argument '%U'", f->name, key);
            break;
    }
}

LARK_COLD void raise_missing_keyword(const FunctionObject* f, const ParamInfo& p) {
    PyErr_Format(PyExc_TypeError, "%U() needs keyword-only argument %s", f->name, p.name);
}

// "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", made with C's formatting
// (precision in bytes, a character cut in half shown as a replacement character).
LARK_COLD void raise_bad_type(const ParamInfo& p, const char* expected, PyObject* given, bool subclass) {
    char text[1024];
    int n = std::snprintf(text, sizeof text, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                          p.name, expected, Py_TYPE(given)->tp_name);
    if (n < 0) n = 0;
    if (n >= static_cast<int>(sizeof text)) n = sizeof text - 1;
    Ref message = Ref::steal_nullable(PyUnicode_DecodeUTF8(text, n, "replace"));
    if (!message) return;
    PyErr_SetObject(PyExc_TypeError, message.get());
    if (!subclass) return;
    char note[512];
    std::snprintf(note, sizeof note, "subclasses of built-in types are refused here: pass an exact %.200s (got %.200s)",
                  expected, Py_TYPE(given)->tp_name);
    add_note_to_pending(note);
}

int lowest_bit(unsigned mask) noexcept { return std::countr_zero(mask); }

}  // namespace

// Binds, converts and checks the arguments of one call, in the library's order: positional
// count, keyword matching, missing required, keyword faults, conversions, exact-type checks.
struct Binder {
    static bool bind(const FunctionObject* f, PyObject* const* args, std::size_t nargsf, PyObject* kwnames,
                     BoundCall& out) {
        const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
        const int n = f->nparams;
        PyObject** slots = out.slots.objects;
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
                    const int j = find_param(f, key);
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
            const ParamInfo& p = f->params[i];
            if (p.default_value.kind == Default::Kind::required) {
                if (p.keyword_only) return raise_missing_keyword(f, p), false;
                return raise_count(f, false, i), false;
            }
            defaulted |= 1u << i;
            slots[i] = f->defaults_bound.objects[i];
            out.slots.numbers[i] = f->defaults_bound.numbers[i];
            out.slots.truths[i] = f->defaults_bound.truths[i];
        }
        if (fault != KeywordFault::none) return raise_keyword(f, fault, fault_key), false;
        return convert_and_check(f, out, defaulted);
    }

    // All conversions in parameter order, then all exact-type checks in parameter order.
    // Defaults were converted once, when the function was made, and are skipped.
    static bool convert_and_check(const FunctionObject* f, BoundCall& out, unsigned defaulted) {
        for (unsigned todo = f->convert_mask & ~defaulted; todo; todo &= todo - 1) {
            const int i = lowest_bit(todo);
            if (!convert(f->params[i], i, out)) return false;
        }
        for (unsigned todo = f->exact_mask & ~defaulted; todo; todo &= todo - 1) {
            const int i = lowest_bit(todo);
            if (!check_exact(f, i, out.slots.objects[i])) return false;
        }
        return true;
    }

    static bool check_exact(const FunctionObject* f, int i, PyObject* o) {
        const ParamInfo& p = f->params[i];
        PyTypeObject* type = f->exact_types[i];
        if (Py_IS_TYPE(o, type) || (o == Py_None && p.default_value.kind == Default::Kind::none)) return true;
        raise_bad_type(p, type->tp_name, o, PyObject_TypeCheck(o, type));
        return false;
    }

    // The parameter a keyword names: the interned name itself, else an equal string.
    static int find_param(const FunctionObject* f, PyObject* key) {
        PyObject* const* names = &PyTuple_GET_ITEM(f->varnames, 0);
        for (int j = 0; j < f->nparams; ++j)
            if (names[j] == key) return j;
        for (int j = 0; j < f->nparams; ++j)
            if (PyUnicode_Compare(names[j], key) == 0) return j;
        return -1;
    }

    static bool convert(const ParamInfo& p, int i, BoundCall& out) {
        PyObject* o = out.slots.objects[i];
        switch (p.conv) {
            case Conv::truth: {
                const int t = PyObject_IsTrue(o);
                if (t < 0) return false;
                out.slots.truths[i] = t != 0;
                return true;
            }
            case Conv::floating: {
                if (PyFloat_CheckExact(o)) {
                    out.slots.numbers[i] = PyFloat_AS_DOUBLE(o);
                    return true;
                }
                const double d = PyFloat_AsDouble(o);
                if (d == -1.0 && PyErr_Occurred()) return false;
                out.slots.numbers[i] = d;
                return true;
            }
            case Conv::integer: {
                if (PyLong_CheckExact(o) || (o == Py_None && p.default_value.kind == Default::Kind::none)) return true;
                if (!PyNumber_Check(o)) return raise_bad_type(p, "int", o, false), false;
                PyObject* converted = PyNumber_Long(o);
                if (!converted) return false;
                out.slots.objects[i] = out.keep(converted);
                return true;
            }
            default:
                return true;
        }
    }

    // Converts and checks a default once, when the function is made, as a call would.
    static void bind_default(FunctionObject* f, int i) {
        BoundCall converted;
        converted.slots.objects[i] = f->defaults_bound.objects[i];
        converted.slots.numbers[i] = 0.0;
        converted.slots.truths[i] = false;
        if (!convert(f->params[i], i, converted)) throw_error();
        if (f->params[i].conv == Conv::exact && !check_exact(f, i, converted.slots.objects[i])) throw_error();
        if (converted.slots.objects[i] != f->defaults_bound.objects[i])  // the integer conversion made a new int
            Py_SETREF(f->defaults_bound.objects[i], Py_NewRef(converted.slots.objects[i]));
        f->defaults_bound.numbers[i] = converted.slots.numbers[i];
        f->defaults_bound.truths[i] = converted.slots.truths[i];
    }
};

namespace {

// ---- the call boundary: no C++ exception crosses into the interpreter ----

PyObject* function_vectorcall(PyObject* self, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) noexcept {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Ref result;
    try {
        BoundCall bound;
        if (Binder::bind(f, args, nargsf, kwnames, bound)) {
            const Env env(f->globals, f->builtins, f->state);
            result = f->invoke(env, bound.slots);
        }
    } catch (const PyErrOccurred&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unexpected C++ exception");
    }
    if (result) return result.release();
    report_failure(f->file_name, f->tb_name, f->globals, &f->tb_frame);
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
    Py_VISIT(f->globals);
    Py_VISIT(f->builtins);
    Py_VISIT(f->state_box);
    Py_VISIT(f->tb_frame);
    for (int i = 0; i < f->nparams; ++i) Py_VISIT(f->defaults_bound.objects[i]);
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
    // The namespace and the defaults stay until the function goes: a call may still come
    // while a cycle that holds the function is being broken.
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
    Py_CLEAR(f->globals);
    Py_CLEAR(f->builtins);
    Py_CLEAR(f->state_box);
    for (int i = 0; i < f->nparams; ++i) Py_CLEAR(f->defaults_bound.objects[i]);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* function_repr(PyObject* self) {
    return PyUnicode_FromFormat("<function %U at %p>", reinterpret_cast<FunctionObject*>(self)->qualname, self);
}

PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

PyObject* function_reduce(PyObject* self, PyObject*) {
    // Pickled by reference: the qualified name within its module.
    return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->qualname);
}

FunctionObject* as_function(PyObject* self) { return reinterpret_cast<FunctionObject*>(self); }

int set_text_attr(PyObject** slot, PyObject* value, const char* what) {
    if (value == nullptr || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object", what);
        return -1;
    }
    Py_SETREF(*slot, Py_NewRef(value));
    return 0;
}

PyObject* get_name(PyObject* self, void*) { return Py_NewRef(as_function(self)->name); }
int set_name(PyObject* self, PyObject* value, void*) { return set_text_attr(&as_function(self)->name, value, "__name__"); }
PyObject* get_qualname(PyObject* self, void*) { return Py_NewRef(as_function(self)->qualname); }
int set_qualname(PyObject* self, PyObject* value, void*) {
    return set_text_attr(&as_function(self)->qualname, value, "__qualname__");
}
// What a getter gives for an attribute that tp_clear already dropped.
PyObject* or_none(PyObject* value) { return Py_NewRef(value ? value : Py_None); }

PyObject* get_defaults(PyObject* self, void*) { return or_none(as_function(self)->defaults); }
PyObject* get_kwdefaults(PyObject* self, void*) { return or_none(as_function(self)->kwdefaults); }
PyObject* get_code(PyObject* self, void*) { return Py_NewRef(as_function(self)->code); }
PyObject* get_annotations(PyObject* self, void*) {
    FunctionObject* f = as_function(self);
    if (!f->annotations) f->annotations = PyDict_New();
    return Py_XNewRef(f->annotations);
}
int set_annotations(PyObject* self, PyObject* value, void*) {
    if (value == nullptr || !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    Py_SETREF(as_function(self)->annotations, Py_NewRef(value));
    return 0;
}
// __doc__ and __module__ take any object; deleting one leaves None, as for a Python function.
PyObject* get_doc(PyObject* self, void*) { return or_none(as_function(self)->doc); }
int set_doc(PyObject* self, PyObject* value, void*) {
    Py_XSETREF(as_function(self)->doc, Py_NewRef(value ? value : Py_None));
    return 0;
}
PyObject* get_module(PyObject* self, void*) { return or_none(as_function(self)->module); }
int set_module(PyObject* self, PyObject* value, void*) {
    Py_XSETREF(as_function(self)->module, Py_NewRef(value ? value : Py_None));
    return 0;
}
PyObject* get_globals(PyObject* self, void*) { return Py_NewRef(as_function(self)->globals); }
PyObject* get_builtins(PyObject* self, void*) { return Py_NewRef(as_function(self)->builtins); }

PyGetSetDef function_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__defaults__", get_defaults, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_kwdefaults, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
    {"__code__", get_code, nullptr, nullptr, nullptr},
    {"__doc__", get_doc, set_doc, nullptr, nullptr},
    {"__module__", get_module, set_module, nullptr, nullptr},
    {"__globals__", get_globals, nullptr, nullptr, nullptr},
    {"__builtins__", get_builtins, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__vectorcalloffset__", LARK_MEMBER_SSIZE, offsetof(FunctionObject, vectorcall), LARK_MEMBER_READONLY, nullptr},
    {"__dictoffset__", LARK_MEMBER_SSIZE, offsetof(FunctionObject, dict), LARK_MEMBER_READONLY, nullptr},
    {"__weaklistoffset__", LARK_MEMBER_SSIZE, offsetof(FunctionObject, weakrefs), LARK_MEMBER_READONLY, nullptr},
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
Ref make_code(const FunctionObject* f, const char* name, int nkwonly) {
    Ref empty = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(f->file_name, name, 1)));
    Ref replace = Ref::steal(PyObject_GetAttrString(empty.get(), "replace"));
    Ref kwnames = Ref::steal(Py_BuildValue("(sssssss)", "co_argcount", "co_posonlyargcount", "co_kwonlyargcount",
                                           "co_nlocals", "co_varnames", "co_flags", "co_qualname"));
    Ref argcount = int_of(f->npositional), zero = int_of(0), kwonly = int_of(nkwonly), nlocals = int_of(f->nparams);
    Ref flags = int_of(CO_OPTIMIZED | CO_NEWLOCALS);
    PyObject* values[] = {argcount.get(), zero.get(), kwonly.get(), nlocals.get(), f->varnames, flags.get(), f->qualname};
    return call_with_keywords(replace.get(), values, 0, kwnames.get());
}

Ref text_or_none(const char* s) { return s ? Ref::steal(PyUnicode_FromString(s)) : Ref::none(); }

PyTypeObject* exact_type(Exact e) noexcept {
    switch (e) {
        case Exact::str: return &PyUnicode_Type;
        case Exact::tuple: return &PyTuple_Type;
        case Exact::list: return &PyList_Type;
        case Exact::dict: return &PyDict_Type;
        default: return nullptr;
    }
}

}  // namespace

void report_failure(const char* file_name, const char* where, PyObject* globals, PyObject** frame_cache) noexcept {
    if (!PyErr_Occurred()) PyErr_Format(PyExc_SystemError, "%s failed without setting an exception", where);
    add_traceback_entry(file_name, where, globals, frame_cache);
}

Ref new_function_type() {
    return Ref::steal(PyType_FromSpec(&function_spec));
}

Ref create_function(const FunctionPlan& plan, const FunctionContext& context, PyObject* const* default_objects) {
    auto* f = PyObject_GC_New(FunctionObject, reinterpret_cast<PyTypeObject*>(context.type));
    if (!f) throw_error();
    // Zero everything after the header so that dealloc is safe on any failure below.
    std::memset(reinterpret_cast<char*>(f) + sizeof(PyObject), 0, sizeof(FunctionObject) - sizeof(PyObject));
    Ref owner = Ref::steal(reinterpret_cast<PyObject*>(f));
    const int n = plan.nparams;
    f->vectorcall = function_vectorcall;
    f->invoke = plan.invoke;
    f->nparams = n;
    for (int i = 0; i < n; ++i) {
        f->params[i] = plan.params[i];
        f->exact_types[i] = exact_type(plan.params[i].exact);
    }
    PyOS_snprintf(f->file_name, sizeof f->file_name, "%s", context.file_name);
    PyOS_snprintf(f->tb_name, sizeof f->tb_name, "%s.%s", context.full_name, plan.qualname);
    f->globals = Py_NewRef(context.globals);
    f->builtins = Py_NewRef(context.builtins);
    f->state_box = Py_NewRef(context.state_box);
    f->state = context.state;
    f->name = Ref::steal(PyUnicode_InternFromString(plan.name)).release();
    f->qualname = Ref::steal(PyUnicode_FromString(plan.qualname)).release();
    f->module = Ref::steal(PyUnicode_FromString(context.full_name)).release();
    f->doc = text_or_none(plan.doc).release();

    Ref varnames = Ref::steal(PyTuple_New(n));
    Ref annotations = Ref::steal(PyDict_New());
    Ref positional_defaults = Ref::steal(PyList_New(0));
    Ref keyword_defaults = Ref::steal(PyDict_New());
    int nkwonly = 0;
    for (int i = 0; i < n; ++i) {
        const ParamInfo& p = f->params[i];
        PyObject* pname = check(PyUnicode_InternFromString(p.name));
        PyTuple_SET_ITEM(varnames.get(), i, pname);
        if (p.annotation) check(PyDict_SetItem(annotations.get(), pname, Ref::steal(PyUnicode_FromString(p.annotation)).get()));
        if (p.conv == Conv::exact) f->exact_mask |= 1u << i;
        if (p.conv == Conv::truth || p.conv == Conv::floating || p.conv == Conv::integer) f->convert_mask |= 1u << i;
        if (p.keyword_only) {
            ++nkwonly;
        } else {
            ++f->npositional;
            if (p.default_value.kind == Default::Kind::required) ++f->min_positional;
        }
    }
    f->varnames = varnames.release();
    for (int i = 0; i < n; ++i) {
        const ParamInfo& p = f->params[i];
        if (p.default_value.kind == Default::Kind::required) continue;
        if (!default_objects[i]) raise_format(PyExc_SystemError, "%s: no default object for '%s'", plan.qualname, p.name);
        f->defaults_bound.objects[i] = Py_NewRef(default_objects[i]);
        if (p.keyword_only)
            check(PyDict_SetItem(keyword_defaults.get(), PyTuple_GET_ITEM(f->varnames, i), default_objects[i]));
        else
            check(PyList_Append(positional_defaults.get(), default_objects[i]));
        Binder::bind_default(f, i);
    }
    if (plan.return_annotation)
        check(PyDict_SetItemString(annotations.get(), "return", Ref::steal(PyUnicode_FromString(plan.return_annotation)).get()));
    f->annotations = annotations.release();
    f->defaults = PyList_GET_SIZE(positional_defaults.get()) ? check(PyList_AsTuple(positional_defaults.get()))
                                                             : Py_NewRef(Py_None);
    f->kwdefaults = PyDict_GET_SIZE(keyword_defaults.get()) ? keyword_defaults.release() : Py_NewRef(Py_None);
    f->code = make_code(f, plan.name, nkwonly).release();
    PyObject_GC_Track(reinterpret_cast<PyObject*>(f));
    return owner;
}

}  // namespace lark
