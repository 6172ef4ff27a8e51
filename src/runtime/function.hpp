// The library's function type: one declarative table per callable drives argument binding,
// the introspection attributes and the code object that signature inspection reads.
#pragma once

#include "ref.hpp"

#include <cstdint>
#include <initializer_list>

namespace lark {

// What the call does with an argument before the body runs.
enum class Conv : std::uint8_t {
    none,      // passed through unchanged
    truth,     // reduced to true/false by the truth test
    floating,  // converted to a double by the float conversion
    integer,   // an int unchanged, another number through int(), anything else refused
    exact,     // the argument's type must be exactly `exact_type`
};

struct Param {
    const char* name;
    const char* annotation = nullptr;  // nullptr: no entry in __annotations__
    Conv conv = Conv::none;
    PyTypeObject* exact_type = nullptr;  // for Conv::exact
    bool optional = false;               // has a default (given when the function is made)
    bool keyword_only = false;
    bool allow_none = false;  // None passes the exact/integer check (parameters whose default is None)
};

constexpr int max_params = 10;

// The arguments as the body receives them, bound and converted, in parameter order.
class Args {
public:
    // The argument object (for a converted integer, the converted int; for a float, the original).
    PyObject* obj(int i) const noexcept { return objs_[i]; }
    double number(int i) const noexcept { return doubles_[i]; }  // Conv::floating
    bool flag(int i) const noexcept { return flags_[i]; }        // Conv::truth
    PyObject* operator[](int i) const noexcept { return objs_[i]; }

    Args() noexcept = default;
    Args(const Args&) = delete;
    Args& operator=(const Args&) = delete;
    ~Args() {
        for (int i = 0; i < nowned_; ++i) Py_DECREF(owned_[i]);
    }

private:
    friend struct Binder;
    // Keeps an int made by the integer conversion for the duration of the call.
    PyObject* keep(PyObject* converted) noexcept { return owned_[nowned_++] = converted; }

    PyObject* objs_[max_params];
    double doubles_[max_params];
    bool flags_[max_params];
    PyObject* owned_[max_params];
    int nowned_ = 0;
};

using Body = Ref (*)(const Args&);

struct FunctionSpec {
    const char* name;
    const char* qualname;
    const char* doc;                // nullptr: __doc__ is None
    const char* return_annotation;  // nullptr: no "return" key
    std::initializer_list<Param> params;
    Body body;
};

// Parameter table shorthands, so a table reads like the signature it describes.
constexpr Param any(const char* name, const char* ann = nullptr) { return Param{name, ann}; }
constexpr Param flag(const char* name, const char* ann = "bool") { return Param{name, ann, Conv::truth}; }
constexpr Param real(const char* name, const char* ann = "float") { return Param{name, ann, Conv::floating}; }
constexpr Param integer(const char* name, const char* ann = "int") { return Param{name, ann, Conv::integer}; }
inline Param exact(const char* name, const char* ann, PyTypeObject* type) {
    return Param{name, ann, Conv::exact, type};
}
inline Param text(const char* name, const char* ann = "str") { return exact(name, ann, &PyUnicode_Type); }
constexpr Param optional(Param p) {
    p.optional = true;
    return p;
}
constexpr Param keyword(Param p) {
    p.keyword_only = true;
    p.optional = true;
    return p;
}
constexpr Param or_none(Param p) {
    p.allow_none = true;
    return p;
}

// Makes a function object from its table. `defaults` are the default objects of the optional
// parameters, in parameter order (positional ones go to __defaults__, keyword-only ones to
// __kwdefaults__). Filename and traceback names come from the module being initialised.
Ref make_function(const FunctionSpec& table, std::initializer_list<PyObject*> defaults = {});

// Creates the function type of this module; called once by the module init.
bool ready_function_type() noexcept;

}  // namespace lark
