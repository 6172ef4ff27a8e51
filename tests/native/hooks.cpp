// A module built only for the test suite, on the same runtime layer as larkui's modules: its
// bodies break the layer's rules on purpose, so that the tests can see the layer hold.
// Variants of it are compiled with other HOOKS_NAME, LARK_BUILT_PY_* or HOOKS_BAD_TABLE values.
#include "module.hpp"

#include <new>

#ifndef HOOKS_NAME
#define HOOKS_NAME _hooks
#endif
#define HOOKS_CAT2(a, b) a##b
#define HOOKS_CAT(a, b) HOOKS_CAT2(a, b)
#define HOOKS_TEXT2(a) #a
#define HOOKS_TEXT(a) HOOKS_TEXT2(a)

namespace {

using namespace lark;

struct NoArgs {};

// Reports failure with no error set.
Ref fail_silently(const Env&, const NoArgs&) { return {}; }
// Throws the "error is set" exception with no error set.
Ref throw_silently(const Env&, const NoArgs&) { throw PyErrOccurred{}; }
Ref throw_bad_alloc(const Env&, const NoArgs&) { throw std::bad_alloc{}; }
Ref throw_unknown(const Env&, const NoArgs&) { throw 42; }
// Returns a result with an error still set.
Ref result_with_error(const Env&, const NoArgs&) {
    PyErr_SetString(PyExc_ValueError, "left behind");
    return Ref::none();
}

const Function<NoArgs> fail_silently_def{"fail_silently", "fail_silently", nullptr, nullptr, {}, fail_silently};
const Function<NoArgs> throw_silently_def{"throw_silently", "throw_silently", nullptr, nullptr, {}, throw_silently};
const Function<NoArgs> throw_bad_alloc_def{"throw_bad_alloc", "throw_bad_alloc", nullptr, nullptr, {}, throw_bad_alloc};
const Function<NoArgs> throw_unknown_def{"throw_unknown", "throw_unknown", nullptr, nullptr, {}, throw_unknown};
const Function<NoArgs> result_with_error_def{"result_with_error", "result_with_error", nullptr, nullptr, {},
                                             result_with_error};

// Every conversion, handed back as the body received it.
struct ProbeArgs {
    PyObject* number;
    Real real;
    bool truth;
    PyObject* text;
    PyObject* pair;
    PyObject* count;
};

Ref probe(const Env&, const ProbeArgs& a) {
    return Ref::steal(Py_BuildValue("(OOdNOOO)", a.number, a.real.given, a.real.value, PyBool_FromLong(a.truth),
                                    a.text, a.pair, a.count));
}

const Function<ProbeArgs> probe_def{
    "probe",
    "probe",
    nullptr,
    nullptr,
    {
        integer<&ProbeArgs::number>("number"),
        real<&ProbeArgs::real>("real"),
#ifdef HOOKS_BAD_TABLE
        optional(flag<&ProbeArgs::truth>("truth"), Default::boolean(false)),
        text<&ProbeArgs::text>("text"),  // required after a default: refused at import
#else
        flag<&ProbeArgs::truth>("truth"),
        optional(text<&ProbeArgs::text>("text"), Default::text("t")),
#endif
        optional(exact<&ProbeArgs::pair>("pair", "tuple | None", Exact::tuple), Default::none()),
        keyword(integer<&ProbeArgs::count>("count"), Default::integer(3)),
    },
    probe,
};

void module_body(Module& m) {
    m.define(fail_silently_def);
    m.define(throw_silently_def);
    m.define(throw_bad_alloc_def);
    m.define(throw_unknown_def);
    m.define(result_with_error_def);
    m.define(probe_def);
}

const ModuleInfo info{HOOKS_TEXT(HOOKS_NAME), module_body};

}  // namespace

PyMODINIT_FUNC HOOKS_CAT(PyInit_, HOOKS_NAME)() { return init_module(info); }
