// The library's function type, as the generated tables describe it.
//
// Every callable is written once, in its module's callables.toml; scripts/callables.py makes from
// it the parameter table below, the struct its body reads its arguments from, the thunk that fills
// that struct, the module body's bind order, the stub entry and the API reference section. The
// binder, __defaults__, __kwdefaults__, __annotations__ and the code object that signature
// inspection reads all come from the table.
#pragma once

#include "ref.hpp"

#include <cstdint>

namespace lark {

// What the call does with an argument before the body runs.
enum class Conv : std::uint8_t {
    none,      // passed through unchanged
    truth,     // reduced to true/false by the truth test
    floating,  // converted to a double by the float conversion
    integer,   // an int unchanged, another number through int(), anything else refused
    exact,     // the argument's type must be exactly the built-in `Exact` type
};

// The built-in types an exact-type parameter can ask for.
enum class Exact : std::uint8_t { none, str, tuple, list, dict };

// A default value, described as a constant. It is built when the function is made, while the
// module body runs; equal tuples and floats of one module share one object, as the constants
// of a compiled Python module do.
struct Default {
    enum class Kind : std::uint8_t { required, none, boolean, integer, real, text, ints, attribute };
    Kind kind = Kind::required;
    bool flag = false;
    long long integer_value = 0;
    double real_value = 0.0;
    const char* text_value = nullptr;      // text, or the global name of an attribute default
    const char* attribute_name = nullptr;  // `global.attribute`, read when the function is made
    long ints_value[4] = {};               // a tuple of up to four ints
    int ints_count = 0;
};

// One parameter, as the binder sees it.
struct ParamInfo {
    const char* name;
    const char* annotation;  // nullptr: no entry in __annotations__
    Conv conv;
    Exact exact;
    bool keyword_only;
    Default default_value;  // Kind::required: none; Kind::none also lets None pass the checks
};

// A float argument: the object as given (or the default) and its value as a double.
struct Real {
    PyObject* given;
    double value;
    // float(x): the argument itself when it is a float already, else a new float.
    Ref as_float() const {
        return PyFloat_CheckExact(given) ? Ref::borrow(given) : Ref::steal(PyFloat_FromDouble(value));
    }
};

// The most parameters a callable may have (the generator refuses more).
constexpr int max_params = 16;

// The arguments of one call, bound and converted, by parameter index.
struct Slots {
    PyObject* objects[max_params];
    double numbers[max_params];
    bool truths[max_params];
};

class Env;

// A callable's generated description. Plans are constants of static storage that the function
// object copies what it needs from when it is made; nothing refers back to a plan afterwards.
struct FunctionPlan {
    const char* name;
    const char* qualname;
    const char* doc;                // nullptr: __doc__ is None
    const char* return_annotation;  // nullptr: no "return" key
    const ParamInfo* params;
    int nparams;
    // Fills the body's argument struct from the bound slots and runs the body.
    Ref (*invoke)(const Env&, const Slots&);
};

}  // namespace lark
