// A module built only for the test suite, on the same runtime layer as larkui's modules: its
// bodies break the layer's rules on purpose, so that the tests can see the layer hold.
// Variants of it are compiled with other HOOKS_NAME or LARK_BUILT_PY_* values.
#include "callables.gen.hpp"

#include <new>

#ifndef HOOKS_NAME
#define HOOKS_NAME _hooks
#endif
#define HOOKS_CAT2(a, b) a##b
#define HOOKS_CAT(a, b) HOOKS_CAT2(a, b)
#define HOOKS_TEXT2(a) #a
#define HOOKS_TEXT(a) HOOKS_TEXT2(a)

namespace hooks {

using namespace lark;

void keep_marker(Module&, State& state) { state.marker = Ref::steal(PyUnicode_FromString("kept at import")); }

Ref kept_marker(const Env& env, const args::kept_marker&) { return state_of(env).marker; }

Ref needs_keyword(const Env&, const args::needs_keyword& a) { return Ref::borrow(a.key); }

Ref converted_defaults(const Env&, const args::converted_defaults& a) {
    return Ref::steal(Py_BuildValue("(OOdNO)", a.count, a.real.given, a.real.value, PyBool_FromLong(a.flag),
                                    a.type_name));
}

// Reports failure with no error set.
Ref fail_silently(const Env&, const args::fail_silently&) { return {}; }
// Throws the "error is set" exception with no error set.
Ref throw_silently(const Env&, const args::throw_silently&) { throw PyErrOccurred{}; }
Ref throw_bad_alloc(const Env&, const args::throw_bad_alloc&) { throw std::bad_alloc{}; }
Ref throw_unknown(const Env&, const args::throw_unknown&) { throw 42; }
// Returns a result with an error still set.
Ref result_with_error(const Env&, const args::result_with_error&) {
    PyErr_SetString(PyExc_ValueError, "left behind");
    return Ref::none();
}

Ref probe(const Env&, const args::probe& a) {
    return Ref::steal(Py_BuildValue("(OOdNOOO)", a.number, a.real.given, a.real.value, PyBool_FromLong(a.truth),
                                    a.text, a.pair, a.count));
}

const ModuleInfo info{HOOKS_TEXT(HOOKS_NAME), module_body, state_kind<State>()};

}  // namespace hooks

PyMODINIT_FUNC HOOKS_CAT(PyInit_, HOOKS_NAME)() { return lark::init_module(hooks::info); }
