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

// A required keyword-only parameter.
struct KeyArgs {
    PyObject* key;
};

Ref echo_key(const Env&, const KeyArgs& a) { return Ref::borrow(a.key); }

const Function<KeyArgs> needs_keyword_def{
    "needs_keyword", "needs_keyword", nullptr, nullptr, {keyword(any<&KeyArgs::key>("key"))}, echo_key};

// Defaults that the parameter's conversion changes, and one read from the builtins.
struct ConvertedArgs {
    PyObject* count;
    Real real;
    bool flag;
    PyObject* type_name;
};

Ref converted(const Env&, const ConvertedArgs& a) {
    return Ref::steal(Py_BuildValue("(OOdNO)", a.count, a.real.given, a.real.value, PyBool_FromLong(a.flag),
                                    a.type_name));
}

const Function<ConvertedArgs> converted_defaults_def{
    "converted_defaults",
    "converted_defaults",
    nullptr,
    nullptr,
    {
        optional(integer<&ConvertedArgs::count>("count"), Default::real(2.75)),
        optional(real<&ConvertedArgs::real>("real"), Default::integer(3)),
        optional(flag<&ConvertedArgs::flag>("flag"), Default::integer(7)),
        optional(any<&ConvertedArgs::type_name>("type_name"), Default::attribute("int", "__name__")),
    },
    converted,
};

// Tables that no Python signature could have, each refused when its function is made.
struct FaultArgs {
    PyObject* a;
    PyObject* b;
};

Ref unused(const Env&, const FaultArgs&) { return Ref::none(); }

constexpr Param<FaultArgs> any_a(const char* name) { return any<&FaultArgs::a>(name); }

const Function<FaultArgs> too_many_def{"too_many", "too_many", nullptr, nullptr,
    {any_a("p0"), any_a("p1"), any_a("p2"), any_a("p3"), any_a("p4"), any_a("p5"), any_a("p6"), any_a("p7"),
     any_a("p8"), any_a("p9"), any_a("p10")}, unused};
const Function<FaultArgs> duplicate_def{"duplicate", "duplicate", nullptr, nullptr,
    {any<&FaultArgs::a>("a"), any<&FaultArgs::b>("a")}, unused};
const Function<FaultArgs> disagreeing_def{"disagreeing", "disagreeing", nullptr, nullptr,
    {Param<FaultArgs>{ParamInfo{"a", nullptr, Conv::none, Exact::str}, &store_object<&FaultArgs::a>}}, unused};
const Function<FaultArgs> positional_after_keyword_def{"positional_after_keyword", "positional_after_keyword",
    nullptr, nullptr, {keyword(any<&FaultArgs::a>("a"), Default::none()), any<&FaultArgs::b>("b")}, unused};
const Function<FaultArgs> unconvertible_default_def{"unconvertible_default", "unconvertible_default", nullptr,
    nullptr, {optional(integer<&FaultArgs::a>("a"), Default::text("x"))}, unused};
const Function<FaultArgs> wrong_type_default_def{"wrong_type_default", "wrong_type_default", nullptr, nullptr,
    {optional(text<&FaultArgs::a>("a"), Default::integer(1))}, unused};
const Function<FaultArgs> missing_global_default_def{"missing_global_default", "missing_global_default", nullptr,
    nullptr, {optional(any<&FaultArgs::a>("a"), Default::attribute("no_such_global", "x"))}, unused};

// Makes each faulty function and binds the errors, in order, as "ExceptionType: message".
void record_table_faults(Module& m) {
    Ref faults = Ref::steal(PyList_New(0));
    for (const Function<FaultArgs>* def : {&too_many_def, &duplicate_def, &disagreeing_def,
                                           &positional_after_keyword_def, &unconvertible_default_def,
                                           &wrong_type_default_def, &missing_global_default_def}) {
        try {
            m.function(*def);
            check(PyList_Append(faults.get(), Py_None));  // made after all: a fault went unnoticed
        } catch (const PyErrOccurred&) {
            Ref exc = take_error();
            Ref text = Ref::steal(PyUnicode_FromFormat("%s: %S", Py_TYPE(exc.get())->tp_name, exc.get()));
            check(PyList_Append(faults.get(), text.get()));
        }
    }
    m.bind("table_faults", faults);
}

void module_body(Module& m) {
    m.define(needs_keyword_def);
    m.define(converted_defaults_def);
    record_table_faults(m);
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
